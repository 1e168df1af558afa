#pragma once

#include "models/serving/ModelServer.h"

#include <QUrl>
#include <QWebEngineUrlRequestInterceptor>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace vorn {

// Answers the page's model URLs from the model folder: a GET whose URL begins with one of the
// model prefixes and names a regular file below the model folder is redirected to the loopback
// model server, which reads the file on its own threads; every other request goes on to the
// network untouched. Install on the profile with QWebEngineProfile::setUrlRequestInterceptor.
class CModelRequestInterceptor : public QWebEngineUrlRequestInterceptor {
    Q_OBJECT
public:
    // prefixes as vorn::BuildModelUrlPrefixes makes them. Uses a server of its own, started at
    // the first model request.
    CModelRequestInterceptor(QString modelFolder,
                             std::vector<std::string> prefixes,
                             QObject* parent = nullptr);
    // As above with a given server (it must outlive the interceptor); for tests.
    CModelRequestInterceptor(std::vector<std::string> prefixes,
                             vorn::ModelServer& server,
                             QObject* parent = nullptr);
    ~CModelRequestInterceptor() override;

    // Called by the engine (Qt 6: on the UI thread) for every request.
    void interceptRequest(QWebEngineUrlRequestInfo& info) override;

    // Any thread. Where a GET of url is redirected: the loopback URL of the file, or an empty
    // URL when the request goes to the network (no prefix, refused name, no such regular file,
    // server not running). Looks the name up in the folder but reads nothing of the file.
    QUrl RedirectFor(const QUrl& url);

    // Any thread. Whether url is on the loopback model server (where redirected model requests
    // go); false while the server is not running.
    bool IsLocalServerUrl(const QUrl& url) const;

private:
    const std::vector<std::string> m_prefixes;
    std::unique_ptr<vorn::ModelServer> m_ownServer;
    vorn::ModelServer& m_server;
    std::mutex m_startMutex;
};

}  // namespace vorn
