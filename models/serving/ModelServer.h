#pragma once

#include "models/serving/ModelFolder.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <string>

namespace vorn {

// The loopback HTTP server through which the engine receives model files: it binds 127.0.0.1
// on an ephemeral port and answers GET and HEAD below a random per-run path token
// ("/<token>/<encoded name>") with the file of that name in the model folder, read on the
// server's own threads and streamed in bounded pieces (nothing is kept between requests), with
// CORS headers. Other methods get 405, anything else 404.
//
// One thread gathers each request's line and headers; only complete requests reach the workers,
// and those that carry the token have workers of their own, so local connections that dawdle or
// do not know the token cannot hold up the page's requests.
class ModelServer {
public:
    struct Limits {
        // A request must be complete (line and headers) this long after its first byte.
        std::chrono::milliseconds requestDeadline{3000};
        // A connection with no request under way is closed after this long (the engine keeps
        // connections for reuse and opens a new one when it finds one closed).
        std::chrono::milliseconds idleTimeout{5000};
        // A response the reader takes nothing of for this long is abandoned.
        std::chrono::milliseconds sendStall{10000};
        int pageWorkers = 8;  // the engine opens at most 6 connections to one host
        int otherWorkers = 1;
        // Connections waiting for a complete request; beyond this the oldest unfinished goes.
        size_t maxWaiting = 256;
    };

    explicit ModelServer(ModelFolder folder);
    ModelServer(ModelFolder folder, Limits limits);
    ~ModelServer();  // stops the server

    // Any thread (not concurrently with Stop). Binds and starts the server's threads; true when
    // running (also when already running), false when no port could be bound.
    bool Start();
    // Any thread but the server's own. Closes every connection and joins the threads; a
    // response under way is cut off. Safe to repeat.
    void Stop();

    bool IsRunning() const { return m_port.load() > 0; }
    int Port() const { return m_port.load(); }
    const std::string& Token() const { return m_token; }
    const ModelFolder& Folder() const { return m_folder; }
    // The URL that serves name, e.g. "http://127.0.0.1:PORT/<token>/a%20b.bin".
    std::string UrlFor(const std::string& name) const;

private:
    struct Running;

    const ModelFolder m_folder;
    const Limits m_limits;
    const std::string m_token;
    std::atomic<int> m_port{0};
    std::unique_ptr<Running> m_running;
};

}  // namespace vorn
