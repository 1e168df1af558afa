#include "browser/PageRequestInterceptor.h"

#include "common/Logging.h"
#include "models/serving/web/CModelRequestInterceptor.h"
#include "services/integrity/ClientKey.h"

#include <QElapsedTimer>

#include <QWebEngineUrlRequestInfo>

namespace vorn {

CPageRequestInterceptor::CPageRequestInterceptor(vorn::CModelRequestInterceptor* models,
                                                 std::shared_future<std::string> clientKey,
                                                 QObject* parent)
    : QWebEngineUrlRequestInterceptor(parent),
      m_models(models),
      m_clientKey(std::move(clientKey)) {}

void CPageRequestInterceptor::interceptRequest(QWebEngineUrlRequestInfo& info) {
    m_models->interceptRequest(info);
    // A changed request was redirected to local serving; the engine then asks again for the
    // loopback URL, which is ours too.
    if (info.changed() || m_models->IsLocalServerUrl(info.requestUrl()))
        return;
    if (!m_keyWaitedFor) {
        m_keyWaitedFor = true;
        QElapsedTimer waited;
        waited.start();
        m_clientKey.wait();
        qCDebug(lcBrowser) << "first page request waited" << waited.nsecsElapsed() / 1000
                           << "us for the client key";
    }
    const QByteArray url = info.requestUrl().toEncoded();
    if (const auto hash =
            vorn::RequestHashFor(std::string_view(url.constData(), url.size()), m_clientKey.get()))
        info.setHttpHeader(vorn::kRequestHashHeader, QByteArray::fromStdString(*hash));
}

}  // namespace vorn
