#include "models/serving/web/CModelRequestInterceptor.h"

#include "common/Logging.h"
#include "models/serving/ModelUrl.h"

#include <QWebEngineUrlRequestInfo>

namespace vorn {

CModelRequestInterceptor::CModelRequestInterceptor(QString modelFolder,
                                                   std::vector<std::string> prefixes,
                                                   QObject* parent)
    : QWebEngineUrlRequestInterceptor(parent),
      m_prefixes(std::move(prefixes)),
      m_ownServer(std::make_unique<vorn::ModelServer>(
          vorn::ModelFolder(std::filesystem::path(modelFolder.toStdU16String())))),
      m_server(*m_ownServer) {}

CModelRequestInterceptor::CModelRequestInterceptor(std::vector<std::string> prefixes,
                                                   vorn::ModelServer& server,
                                                   QObject* parent)
    : QWebEngineUrlRequestInterceptor(parent), m_prefixes(std::move(prefixes)), m_server(server) {}

CModelRequestInterceptor::~CModelRequestInterceptor() = default;

QUrl CModelRequestInterceptor::RedirectFor(const QUrl& url) {
    const QByteArray encoded = url.toEncoded();
    const std::optional<std::string> name =
        vorn::MatchModelUrl(std::string_view(encoded.constData(), encoded.size()), m_prefixes);
    if (!name)
        return {};
    // The engine calls this on its UI thread, so only the name is looked up here (a path walk
    // and a status read in the kernel's caches); the server's threads open and read the file.
    // A missing file is not an error: the request goes on to the network as it was.
    if (!m_server.Folder().Has(*name))
        return {};
    {
        std::lock_guard lock(m_startMutex);
        if (!m_server.IsRunning() && !m_server.Start())
            return {};
    }
    return QUrl::fromEncoded(QByteArray::fromStdString(m_server.UrlFor(*name)));
}

bool CModelRequestInterceptor::IsLocalServerUrl(const QUrl& url) const {
    const int port = m_server.Port();
    return port > 0 && url.scheme() == QLatin1String("http") &&
           url.host() == QLatin1String("127.0.0.1") && url.port() == port;
}

void CModelRequestInterceptor::interceptRequest(QWebEngineUrlRequestInfo& info) {
    if (info.requestMethod() != "GET")
        return;
    const QUrl target = RedirectFor(info.requestUrl());
    if (target.isEmpty())
        return;
    qCDebug(lcModels) << "model URL answered locally:" << info.requestUrl().toString();
    info.redirect(target);
}

}  // namespace vorn
