#pragma once

#include "platform/UniqueFd.h"

#include <cstddef>
#include <span>
#include <string>

// TCP on 127.0.0.1 for a server that runs its own threads: a listening socket, transfers that
// never wait (and say why they moved nothing), one wait with a deadline over many sockets, and a
// signal another thread breaks such a wait with. Plain functions on descriptors, as the file
// system's steps are: a server makes several of these calls for every request. Linux only so far
// (the local model server is built for Linux). Safe on any thread; one socket is read by one
// thread at a time and written by one thread at a time.
namespace vorn::platform {

// A socket listening on 127.0.0.1 at a port the system chose (*port), with the system's
// longest queue of waiting connections. Accepting from it never waits. Invalid when no port
// could be opened.
UniqueFd ListenOnLoopback(int* port);

enum class AcceptResult {
    Accepted,
    Nothing,           // no connection waiting, or the system refused the one there
    OutOfDescriptors,  // a connection waits, but this process or the system has no descriptor
                       // left for it (the listening socket stays readable until one is freed)
};

// Takes one waiting connection off `listening`; *connection is a socket that never waits on a
// transfer.
AcceptResult AcceptConnection(int listening, UniqueFd* connection);

// How a transfer on a connection ended.
enum class TransferResult {
    Moved,        // *count bytes (at least one) went
    Closed,       // the other end closed it (a read), or the system took nothing (a write)
    WouldBlock,   // nothing can go without waiting
    Interrupted,  // a signal came first; nothing went
    Failed,       // the connection is broken
};

// Reads what has arrived of `socket`'s stream, at most `size` bytes, without waiting.
TransferResult ReceiveNow(int socket, char* into, std::size_t size, std::size_t* count);

// Sends as much of `data` as `socket` takes now, without waiting; a reader that went away is a
// failure, never a signal to this process.
TransferResult SendNow(int socket, const char* data, std::size_t size, std::size_t* count);

// Ends both directions of a connection: whoever waits on it sees the end at once. The
// descriptor stays open until its owner closes it.
void ShutDownConnection(int socket);

// The IPv4 address (dotted) and port of a connection's own end and of its peer; false, leaving
// both alone, when the system cannot tell.
bool LocalAddress(int socket, std::string* address, int* port);
bool PeerAddress(int socket, std::string* address, int* port);

// One descriptor a wait watches.
struct SocketWait {
    int socket = -1;
    bool forWriting = false;  // room to send; otherwise data (or a connection) to receive
    // Set by the wait: something happened on it: it is readable or writable as asked, hung up,
    // failed, or no open descriptor at all.
    bool ready = false;
};

enum class WaitResult {
    Ready,        // at least one entry is ready
    TimedOut,     // none was within the time
    Interrupted,  // a signal came first
    Failed,
};

// Waits until an entry of `sockets` is ready, at most `timeoutMs` milliseconds (0: only looks).
// On Failed, *failure (when given) says why, for a log line.
WaitResult WaitForSockets(std::span<SocketWait> sockets,
                          int timeoutMs,
                          std::string* failure = nullptr);

// The same for one socket: Ready when something happened on it.
WaitResult WaitForSocket(int socket, bool forWriting, int timeoutMs);

// A signal that ends another thread's wait: its Handle() watched for reading in WaitForSockets
// is ready once Raise() was called, until Clear(). Raising it again before it is cleared is
// one raise.
class WakeSignal {
public:
    // False when the system gave none; the signal is then unusable.
    bool Open();
    bool Valid() const { return m_fd.valid(); }
    int Handle() const { return m_fd.get(); }
    // Any thread.
    void Raise();
    // The waiting thread, after its wait found the signal ready.
    void Clear();

private:
    UniqueFd m_fd;
};

}  // namespace vorn::platform
