#pragma once

#include <QString>
#include <QUrl>

namespace vorn {

// What the browser consults its owning window about. Called on the main thread.
class ICefBrowserHandler {
public:
    virtual ~ICefBrowserHandler() = default;
    // A page asked for a new window (window.open, target=_blank). Returning true cancels the
    // pop-up; the default only cancels it.
    virtual bool OnBeforePopup(const QUrl& targetUrl) {
        Q_UNUSED(targetUrl);
        return true;
    }
    virtual void OnAddressChange(const QUrl& url) { Q_UNUSED(url); }
    virtual void OnTitleChange(const QString& title) { Q_UNUSED(title); }
    // Whether the candidate is locked in: failed loads of the network then retry by themselves.
    virtual bool IsLocked() const { return false; }
};

}  // namespace vorn
