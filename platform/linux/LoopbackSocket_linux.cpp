#include "platform/LoopbackSocket.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vorn::platform {
namespace {

TransferResult Outcome(ssize_t n, std::size_t* count) {
    *count = n > 0 ? static_cast<std::size_t>(n) : 0;
    if (n > 0)
        return TransferResult::Moved;
    if (n == 0)
        return TransferResult::Closed;
    if (errno == EAGAIN || errno == EWOULDBLOCK)
        return TransferResult::WouldBlock;
    if (errno == EINTR)
        return TransferResult::Interrupted;
    return TransferResult::Failed;
}

template <typename Query>
bool Address(Query query, int socket, std::string* address, int* port) {
    sockaddr_in addr{};
    socklen_t len = sizeof addr;
    char text[INET_ADDRSTRLEN] = {};
    if (query(socket, reinterpret_cast<sockaddr*>(&addr), &len) != 0 ||
        !::inet_ntop(AF_INET, &addr.sin_addr, text, sizeof text))
        return false;
    *address = text;
    *port = ntohs(addr.sin_port);
    return true;
}

}  // namespace

UniqueFd ListenOnLoopback(int* port) {
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (!fd.valid() || ::bind(fd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(fd.get(), SOMAXCONN) != 0 ||
        ::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&addr), &len) != 0)
        return UniqueFd();
    *port = ntohs(addr.sin_port);
    return fd;
}

AcceptResult AcceptConnection(int listening, UniqueFd* connection) {
    const int fd = ::accept4(listening, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0)
        return errno == EMFILE || errno == ENFILE ? AcceptResult::OutOfDescriptors
                                                  : AcceptResult::Nothing;
    *connection = UniqueFd(fd);
    return AcceptResult::Accepted;
}

TransferResult ReceiveNow(int socket, char* into, std::size_t size, std::size_t* count) {
    return Outcome(::recv(socket, into, size, MSG_DONTWAIT), count);
}

TransferResult SendNow(int socket, const char* data, std::size_t size, std::size_t* count) {
    return Outcome(::send(socket, data, size, MSG_NOSIGNAL | MSG_DONTWAIT), count);
}

void ShutDownConnection(int socket) {
    ::shutdown(socket, SHUT_RDWR);
}

bool LocalAddress(int socket, std::string* address, int* port) {
    return Address(::getsockname, socket, address, port);
}

bool PeerAddress(int socket, std::string* address, int* port) {
    return Address(::getpeername, socket, address, port);
}

WaitResult WaitForSockets(std::span<SocketWait> sockets, int timeoutMs, std::string* failure) {
    // Kept per thread: a server thread waits again and again on sets of about the same size.
    thread_local std::vector<pollfd> polls;
    polls.clear();
    for (const SocketWait& s : sockets)
        polls.push_back({s.socket, static_cast<short>(s.forWriting ? POLLOUT : POLLIN), 0});
    const int r = ::poll(polls.data(), polls.size(), timeoutMs);
    for (std::size_t i = 0; i < sockets.size(); ++i)
        sockets[i].ready = r > 0 && polls[i].revents != 0;
    if (r > 0)
        return WaitResult::Ready;
    if (r == 0)
        return WaitResult::TimedOut;
    if (errno == EINTR)
        return WaitResult::Interrupted;
    if (failure)
        *failure = std::strerror(errno);
    return WaitResult::Failed;
}

WaitResult WaitForSocket(int socket, bool forWriting, int timeoutMs) {
    pollfd p{socket, static_cast<short>(forWriting ? POLLOUT : POLLIN), 0};
    const int r = ::poll(&p, 1, timeoutMs);
    if (r > 0)
        return WaitResult::Ready;
    if (r == 0)
        return WaitResult::TimedOut;
    return errno == EINTR ? WaitResult::Interrupted : WaitResult::Failed;
}

bool WakeSignal::Open() {
    m_fd = UniqueFd(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
    return m_fd.valid();
}

void WakeSignal::Raise() {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(m_fd.get(), &one, sizeof one);
}

void WakeSignal::Clear() {
    uint64_t count;
    [[maybe_unused]] const ssize_t n = ::read(m_fd.get(), &count, sizeof count);
}

}  // namespace vorn::platform
