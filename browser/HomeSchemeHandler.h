#pragma once

#include <QWebEngineUrlSchemeHandler>

namespace vorn {

// Serves the built-in home page (the demo of every native service) from the client's resources
// as vorn://home/... A scheme of its own rather than qrc: it may show local files, such as the
// photo of the card just read, which a page of any other origin may not. Main thread.
class CHomeSchemeHandler : public QWebEngineUrlSchemeHandler {
    Q_OBJECT
public:
    using QWebEngineUrlSchemeHandler::QWebEngineUrlSchemeHandler;
    void requestStarted(QWebEngineUrlRequestJob* job) override;

    // The resource behind a vorn://home/ URL, or an empty string for anything else.
    static QString ResourcePath(const QUrl& url);
};

}  // namespace vorn
