#pragma once

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
    // Whether the candidate is locked in: failed loads of the network then retry by themselves.
    virtual bool IsLocked() const { return false; }
};

}  // namespace vorn
