#include "models/serving/ModelServer.h"

#include "models/serving/ModelFileCache.h"
#include "models/serving/ModelUrl.h"
#include "platform/Logging.h"

#include <httplib.h>

#include <algorithm>
#include <chrono>
#include <random>

namespace vorn {
namespace {

// 128 bits from the system's entropy source, so a page cannot guess another run's URLs.
std::string RandomToken() {
    std::random_device device;
    static constexpr char kHex[] = "0123456789abcdef";
    std::string token;
    for (int i = 0; i < 4; ++i) {
        uint32_t word = device();
        for (int n = 0; n < 8; ++n, word >>= 4)
            token.push_back(kHex[word & 15]);
    }
    return token;
}

constexpr size_t kChunk = 256 * 1024;

}  // namespace

ModelServer::ModelServer(ModelFileCache& cache) : m_cache(cache), m_token(RandomToken()) {}

ModelServer::~ModelServer() {
    Stop();
}

std::string ModelServer::UrlFor(const std::string& name) const {
    return "http://127.0.0.1:" + std::to_string(m_port) + "/" + m_token + "/" +
           EncodeModelName(name);
}

void ModelServer::Route() {
    const std::string root = "/" + m_token + "/";
    m_server->Get(".*", [this, root](const httplib::Request& req, httplib::Response& res) {
        res.set_header("Access-Control-Allow-Origin", "*");
        // The bytes are in this process's memory already; a second copy in the engine's disk
        // cache would only cost time (measured: 50 MB fetches took twice as long).
        res.set_header("Cache-Control", "no-store");
        // The path arrives percent-decoded; names are matched byte for byte as the cache has them.
        if (req.path.compare(0, root.size(), root) != 0) {
            res.status = 404;
            return;
        }
        const std::string name = req.path.substr(root.size());
        ModelFileCache::Buffer data = IsSafeModelName(name) ? m_cache.Find(name) : nullptr;
        if (!data) {
            qCDebug(lcModels) << "loopback request for an uncached name refused:" << name.c_str();
            res.status = 404;
            return;
        }
        const char* mime = MimeTypeForModelName(name);
        if (data->empty()) {
            res.set_content(std::string(), mime);
            return;
        }
        // The provider holds its own reference, so the bytes stay alive while they stream.
        res.set_content_provider(
            data->size(), mime, [data](size_t offset, size_t length, httplib::DataSink& sink) {
                const size_t n = std::min({length, kChunk, data->size() - offset});
                return sink.write(data->data() + offset, n);
            });
    });
    auto refuse = [](const httplib::Request&, httplib::Response& res) {
        res.set_header("Access-Control-Allow-Origin", "*");
        res.set_header("Allow", "GET, HEAD");
        res.status = 405;
    };
    m_server->Post(".*", refuse);
    m_server->Put(".*", refuse);
    m_server->Patch(".*", refuse);
    m_server->Delete(".*", refuse);
    m_server->Options(".*", refuse);
}

bool ModelServer::Start() {
    if (m_port > 0)
        return true;
    m_server = std::make_unique<httplib::Server>();
    Route();
    const int port = m_server->bind_to_any_port("127.0.0.1");
    if (port <= 0) {
        qCWarning(lcModels) << "The local model server could not open a port on 127.0.0.1; model "
                               "files will be loaded from the network.";
        m_server.reset();
        return false;
    }
    m_port = port;
    m_thread = std::thread([server = m_server.get()] { server->listen_after_bind(); });
    // A stop() that comes before the listening loop has started would be lost and Stop() would
    // then wait forever, so Start returns only once the loop runs.
    for (int i = 0; i < 5000 && !m_server->is_running(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    qCDebug(lcModels) << "local model server listening on port" << m_port;
    return true;
}

void ModelServer::Stop() {
    if (!m_server)
        return;
    m_server->stop();
    if (m_thread.joinable())
        m_thread.join();
    m_server.reset();
    m_port = 0;
}

}  // namespace vorn
