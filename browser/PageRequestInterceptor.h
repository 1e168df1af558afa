#pragma once

#include <QWebEngineUrlRequestInterceptor>

#include <future>
#include <string>

namespace vorn {

class CModelRequestInterceptor;

// The profile's one request interceptor. Model URLs go to local serving first; every other
// HTTP(S) request of the page (main frame, sub-frames, sub-resources, XHR, fetch) gets the
// X-Vorn-Request-Hash header signed with the client key. Neither a request redirected to the
// loopback model server nor the server's own URLs carry it: the key is for the exam service.
class CPageRequestInterceptor : public QWebEngineUrlRequestInterceptor {
    Q_OBJECT
public:
    // `models` must outlive this object; an empty key signs nothing. The first request waits
    // for the key when it is still being computed.
    CPageRequestInterceptor(vorn::CModelRequestInterceptor* models,
                            std::shared_future<std::string> clientKey,
                            QObject* parent = nullptr);

    // Called by the engine on the UI thread for every request.
    void interceptRequest(QWebEngineUrlRequestInfo& info) override;

private:
    vorn::CModelRequestInterceptor* m_models;
    const std::shared_future<std::string> m_clientKey;
    bool m_keyWaitedFor = false;
};

}  // namespace vorn
