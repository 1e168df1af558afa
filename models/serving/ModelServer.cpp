#include "models/serving/ModelServer.h"

#include "common/Logging.h"
#include "models/serving/ModelUrl.h"
#include "platform/LoopbackSocket.h"

#include <httplib.h>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

namespace vorn {
namespace {

using platform::SocketWait;
using platform::TransferResult;
using platform::UniqueFd;
using platform::WaitResult;

using Clock = std::chrono::steady_clock;

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
// Line and headers of one request; the engine's are a few hundred bytes.
constexpr size_t kMaxRequestHead = 16 * 1024;
// Queued requests without the token; more are dropped rather than queued.
constexpr size_t kMaxOtherQueue = 64;
// How often a blocked send looks whether the server is stopping.
constexpr int kStopCheckMs = 100;

int MillisUntil(Clock::time_point when) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(when - Clock::now());
    return static_cast<int>(std::clamp<long long>(left.count(), 0, 60'000));
}

bool HeadComplete(const std::string& data) {
    return data.find("\r\n\r\n") != std::string::npos || data.find("\n\n") != std::string::npos;
}

// A connection between requests: the bytes already read that belong to its next request.
struct Connection {
    UniqueFd fd;
    std::string buffered;
    Clock::time_point deadline;
    bool started = false;  // some of the next request has arrived
};

void ShutDown(Connection& c) {
    platform::ShutDownConnection(c.fd.get());
}

// The socket as httplib reads and writes a request: reads start with what the gathering thread
// already read and end at the request's deadline; writes wait for a reader at most sendStall.
class ConnectionStream : public httplib::Stream {
public:
    ConnectionStream(Connection& c,
                     Clock::time_point readDeadline,
                     std::chrono::milliseconds sendStall,
                     const std::atomic<bool>& stopping)
        : m_fd(c.fd.get()),
          m_buffer(std::move(c.buffered)),
          m_readDeadline(readDeadline),
          m_sendStall(sendStall),
          m_stopping(stopping) {}

    bool is_readable() const override {
        return m_pos < m_buffer.size() ||
               platform::WaitForSocket(m_fd, false, 0) == WaitResult::Ready;
    }
    bool is_writable() const override { return WaitFor(true, Clock::now() + m_sendStall); }

    ssize_t read(char* ptr, size_t size) override {
        if (m_pos == m_buffer.size()) {
            m_buffer.clear();
            m_pos = 0;
            if (!WaitFor(false, m_readDeadline))
                return -1;
            char block[4096];
            size_t n = 0;
            const TransferResult result = platform::ReceiveNow(m_fd, block, sizeof block, &n);
            if (result != TransferResult::Moved)
                return result == TransferResult::Closed ? 0 : -1;
            m_buffer.assign(block, n);
        }
        const size_t n = std::min(size, m_buffer.size() - m_pos);
        std::copy_n(m_buffer.data() + m_pos, n, ptr);
        m_pos += n;
        return static_cast<ssize_t>(n);
    }

    ssize_t write(const char* ptr, size_t size) override {
        size_t sent = 0;
        while (sent < size) {
            size_t n = 0;
            const TransferResult result = platform::SendNow(m_fd, ptr + sent, size - sent, &n);
            if (result == TransferResult::Moved) {
                sent += n;
            } else if (result == TransferResult::Interrupted) {
                continue;
            } else if (result == TransferResult::WouldBlock) {
                if (!WaitFor(true, Clock::now() + m_sendStall))
                    return -1;
            } else {
                return -1;
            }
        }
        return static_cast<ssize_t>(sent);
    }

    void get_remote_ip_and_port(std::string& ip, int& port) const override {
        platform::PeerAddress(m_fd, &ip, &port);
    }
    void get_local_ip_and_port(std::string& ip, int& port) const override {
        platform::LocalAddress(m_fd, &ip, &port);
    }
    socket_t socket() const override { return m_fd; }

    // Bytes read past the request just served: the start of the next one.
    std::string Leftover() const { return m_buffer.substr(m_pos); }

private:
    bool WaitFor(bool writing, Clock::time_point deadline) const {
        for (;;) {
            if (m_stopping.load())
                return false;
            const int left = MillisUntil(deadline);
            const WaitResult r =
                platform::WaitForSocket(m_fd, writing, std::min(left, kStopCheckMs));
            if (r == WaitResult::Ready)
                return true;
            if (r == WaitResult::Failed)
                return false;
            if (r == WaitResult::TimedOut && left <= kStopCheckMs)
                return false;
        }
    }

    int m_fd;
    std::string m_buffer;
    size_t m_pos = 0;
    Clock::time_point m_readDeadline;
    std::chrono::milliseconds m_sendStall;
    const std::atomic<bool>& m_stopping;
};

// httplib's request parsing, routing and response writing, driven one request at a time by our
// own threads instead of its accept loop and one-thread-per-connection pool.
class Router : public httplib::Server {
public:
    bool ServeOne(httplib::Stream& stream, bool& closeAfter) {
        return process_request(stream, false, closeAfter, nullptr);
    }
    // httplib streams a response body only while its listening socket is set; it never uses it
    // otherwise, as its own accept loop is not run. Clearing it cuts off every body under way.
    void SetListening(int fd) { svr_sock_ = fd; }
};

struct Queue {
    std::mutex mutex;
    std::condition_variable ready;
    std::deque<Connection> items;
};

}  // namespace

struct ModelServer::Running {
    Running(const ModelServer& owner) : server(owner) {}

    const ModelServer& server;
    UniqueFd listenFd;
    platform::WakeSignal wake;
    std::atomic<bool> stopping{false};
    Router router;
    Queue pageQueue;
    Queue otherQueue;
    std::mutex returnedMutex;
    std::vector<Connection> returned;
    std::thread gatherer;
    std::vector<std::thread> workers;

    void Wake() { wake.Raise(); }

    // Hands a connection whose request has fully arrived to the workers for its kind.
    void Dispatch(Connection c) {
        const std::string tokenPath = " /" + server.m_token + "/";
        const size_t lineEnd = c.buffered.find('\n');
        const size_t space = c.buffered.find(' ');
        const bool page = space != std::string::npos && space < lineEnd &&
                          c.buffered.compare(space, tokenPath.size(), tokenPath) == 0;
        Queue& queue = page ? pageQueue : otherQueue;
        {
            std::lock_guard lock(queue.mutex);
            if (!page && queue.items.size() >= kMaxOtherQueue) {
                ShutDown(c);
                return;
            }
            queue.items.push_back(std::move(c));
        }
        queue.ready.notify_one();
    }

    void Gather() {
        const Limits& limits = server.m_limits;
        std::vector<Connection> waiting;
        std::vector<SocketWait> watched;
        while (!stopping.load()) {
            {
                std::lock_guard lock(returnedMutex);
                for (Connection& c : returned)
                    waiting.push_back(std::move(c));
                returned.clear();
            }
            // Keep-alive connections may come back with the next request already read.
            const Clock::time_point now = Clock::now();
            for (size_t i = 0; i < waiting.size();) {
                if (HeadComplete(waiting[i].buffered)) {
                    Dispatch(std::move(waiting[i]));
                    waiting.erase(waiting.begin() + static_cast<std::ptrdiff_t>(i));
                } else if (waiting[i].deadline <= now) {
                    waiting.erase(waiting.begin() + static_cast<std::ptrdiff_t>(i));
                } else {
                    ++i;
                }
            }
            Clock::time_point next = now + limits.idleTimeout;
            watched.assign({{wake.Handle(), false}, {listenFd.get(), false}});
            for (const Connection& c : waiting) {
                watched.push_back({c.fd.get(), false});
                next = std::min(next, c.deadline);
            }
            std::string failure;
            const WaitResult r = platform::WaitForSockets(watched, MillisUntil(next) + 1, &failure);
            if (r == WaitResult::Failed) {
                qCWarning(lcModels)
                    << "The local model server stopped waiting for requests:" << failure.c_str();
                break;
            }
            if (r != WaitResult::Ready)
                continue;
            if (watched[0].ready)
                wake.Clear();
            for (size_t i = 0; i < waiting.size(); ++i) {
                if (watched[i + 2].ready)
                    ReadSome(waiting[i]);
            }
            if (watched[1].ready)
                Accept(waiting);
        }
        waiting.clear();
    }

    // Reads what has arrived of a waiting connection's request. A connection that closed, failed
    // or sent more than a request head may hold is given a past deadline and so dropped.
    void ReadSome(Connection& c) {
        char block[4096];
        const size_t room = kMaxRequestHead - std::min(kMaxRequestHead, c.buffered.size());
        size_t n = 0;
        const TransferResult result =
            platform::ReceiveNow(c.fd.get(), block, std::min(room, sizeof block), &n);
        if (result == TransferResult::WouldBlock || result == TransferResult::Interrupted)
            return;
        if (result != TransferResult::Moved || (room == 0)) {
            c.deadline = Clock::time_point::min();
            return;
        }
        c.buffered.append(block, n);
        if (!c.started) {
            c.started = true;
            c.deadline = Clock::now() + server.m_limits.requestDeadline;
        }
        if (!HeadComplete(c.buffered) && c.buffered.size() >= kMaxRequestHead)
            c.deadline = Clock::time_point::min();
    }

    // The engine's requests arrive whole, so the connection nearest its deadline is never one
    // of the page's requests under way.
    static void DropNearestDeadline(std::vector<Connection>& waiting) {
        waiting.erase(std::min_element(
            waiting.begin(), waiting.end(),
            [](const Connection& a, const Connection& b) { return a.deadline < b.deadline; }));
    }

    void Accept(std::vector<Connection>& waiting) {
        for (;;) {
            UniqueFd fd;
            const platform::AcceptResult accepted = platform::AcceptConnection(listenFd.get(), &fd);
            if (accepted == platform::AcceptResult::OutOfDescriptors) {
                // The listening socket stays readable, so without freeing a descriptor (or a
                // pause) the loop would spin until one is closed elsewhere.
                if (!waiting.empty())
                    DropNearestDeadline(waiting);
                else
                    std::this_thread::sleep_for(std::chrono::milliseconds(10));
                return;
            }
            if (accepted != platform::AcceptResult::Accepted)
                return;  // nothing more to accept now
            if (waiting.size() >= server.m_limits.maxWaiting)
                DropNearestDeadline(waiting);
            waiting.push_back({std::move(fd), {}, Clock::now() + server.m_limits.idleTimeout});
        }
    }

    void Work(Queue& queue) {
        for (;;) {
            Connection c;
            {
                std::unique_lock lock(queue.mutex);
                queue.ready.wait(lock, [&] { return stopping.load() || !queue.items.empty(); });
                if (stopping.load())
                    return;
                c = std::move(queue.items.front());
                queue.items.pop_front();
            }
            const Limits& limits = server.m_limits;
            ConnectionStream stream(c, Clock::now() + limits.requestDeadline, limits.sendStall,
                                    stopping);
            bool closeAfter = false;
            if (!router.ServeOne(stream, closeAfter) || closeAfter || stopping.load())
                continue;  // the descriptor closes with c
            c.buffered = stream.Leftover();
            c.started = !c.buffered.empty();
            c.deadline = Clock::now() + (c.started ? limits.requestDeadline : limits.idleTimeout);
            {
                std::lock_guard lock(returnedMutex);
                returned.push_back(std::move(c));
            }
            Wake();
        }
    }
};

ModelServer::ModelServer(ModelFolder folder) : ModelServer(std::move(folder), Limits{}) {}

ModelServer::ModelServer(ModelFolder folder, Limits limits)
    : m_folder(std::move(folder)), m_limits(limits), m_token(RandomToken()) {}

ModelServer::~ModelServer() {
    Stop();
}

std::string ModelServer::UrlFor(const std::string& name) const {
    return "http://127.0.0.1:" + std::to_string(m_port.load()) + "/" + m_token + "/" +
           EncodeModelName(name);
}

namespace {

void Route(httplib::Server& router, const ModelFolder& folder, const std::string& token) {
    const std::string root = "/" + token + "/";
    router.set_payload_max_length(64 * 1024);
    router.Get(".*", [&folder, root](const httplib::Request& req, httplib::Response& res) {
        res.set_header("Access-Control-Allow-Origin", "*");
        // Served from the disk on every request, so the engine's disk cache would only copy it.
        res.set_header("Cache-Control", "no-store");
        // The path arrives percent-decoded; names are matched byte for byte as on disk.
        if (req.path.compare(0, root.size(), root) != 0) {
            res.status = 404;
            return;
        }
        const std::string name = req.path.substr(root.size());
        std::optional<ModelFile> opened = folder.Open(name);
        if (!opened) {
            qCDebug(lcModels) << "loopback request for a name that is not a model file:"
                              << name.c_str();
            res.status = 404;
            return;
        }
        const std::string mime = MimeTypeForModelName(name);
        const uint64_t size = opened->size;
        if (size == 0) {
            res.set_content(std::string(), mime);
            return;
        }
        auto file = std::make_shared<ModelFile>(std::move(*opened));
        auto buffer = std::make_shared<std::vector<char>>();
        // Pieces are read as they are sent: memory stays at one piece per response whatever
        // the file's size, and a file that shrinks underneath ends the response early.
        res.set_content_provider(
            static_cast<size_t>(size), mime,
            [file, buffer, size](size_t offset, size_t length, httplib::DataSink& sink) {
                if (offset >= size)
                    return false;
                const size_t want = std::min<uint64_t>({length, kChunk, size - offset});
                buffer->resize(kChunk);
                const long n = platform::ReadOpenedAt(file->fd, offset, buffer->data(), want);
                if (n <= 0) {
                    qCDebug(lcModels) << "model file ended or failed while being served";
                    return false;
                }
                return sink.write(buffer->data(), static_cast<size_t>(n));
            });
    });
    auto refuse = [](const httplib::Request&, httplib::Response& res) {
        res.set_header("Access-Control-Allow-Origin", "*");
        res.set_header("Allow", "GET, HEAD");
        res.status = 405;
    };
    router.Post(".*", refuse);
    router.Put(".*", refuse);
    router.Patch(".*", refuse);
    router.Delete(".*", refuse);
    router.Options(".*", refuse);
}

}  // namespace

bool ModelServer::Start() {
    if (m_running)
        return true;
    auto running = std::make_unique<Running>(*this);
    int port = 0;
    running->listenFd = platform::ListenOnLoopback(&port);
    if (!running->listenFd.valid() || !running->wake.Open()) {
        qCWarning(lcModels) << "The local model server could not open a port on 127.0.0.1; model "
                               "files will be loaded from the network.";
        return false;
    }
    Route(running->router, m_folder, m_token);
    running->router.SetListening(running->listenFd.get());
    Running* r = running.get();
    r->gatherer = std::thread([r] { r->Gather(); });
    for (int i = 0; i < m_limits.pageWorkers; ++i)
        r->workers.emplace_back([r] { r->Work(r->pageQueue); });
    for (int i = 0; i < m_limits.otherWorkers; ++i)
        r->workers.emplace_back([r] { r->Work(r->otherQueue); });
    m_running = std::move(running);
    m_port = port;
    qCDebug(lcModels) << "local model server listening on port" << m_port.load();
    return true;
}

void ModelServer::Stop() {
    if (!m_running)
        return;
    Running& r = *m_running;
    r.stopping = true;
    r.router.SetListening(-1);
    r.Wake();
    for (Queue* queue : {&r.pageQueue, &r.otherQueue}) {
        std::lock_guard lock(queue->mutex);
        queue->ready.notify_all();
    }
    r.gatherer.join();
    for (std::thread& worker : r.workers)
        worker.join();
    m_port = 0;
    m_running.reset();
}

}  // namespace vorn
