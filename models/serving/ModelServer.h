#pragma once

#include <memory>
#include <string>
#include <thread>

namespace httplib {
class Server;
}

namespace vorn {

class ModelFileCache;

// The loopback HTTP server through which the engine receives model files: it binds 127.0.0.1
// on an ephemeral port and answers GET and HEAD for names already in the cache, below a random
// per-run path token ("/<token>/<encoded name>"), with CORS headers. Other methods get 405,
// anything else 404. Requests are served on the server's own threads.
class ModelServer {
public:
    // The cache must outlive the server.
    explicit ModelServer(ModelFileCache& cache);
    ~ModelServer();  // stops the server

    // Any thread. Binds and starts the listening thread; true when running (also when already
    // running), false when no port could be bound.
    bool Start();
    // Any thread but a request handler. Stops listening and joins the thread; safe to repeat.
    void Stop();

    bool IsRunning() const { return m_port > 0; }
    int Port() const { return m_port; }
    const std::string& Token() const { return m_token; }
    // The URL that serves name (a cached name), e.g. "http://127.0.0.1:PORT/<token>/a%20b.bin".
    std::string UrlFor(const std::string& name) const;

private:
    void Route();

    ModelFileCache& m_cache;
    std::string m_token;
    std::unique_ptr<httplib::Server> m_server;
    std::thread m_thread;
    int m_port = 0;
};

}  // namespace vorn
