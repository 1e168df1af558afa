#include "browser/bridge/LoadPolicy.h"

#include <algorithm>

namespace vorn {

QUrl StartUrlFromSetting(const QString& text) {
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return {};
    const QUrl url = QUrl::fromUserInput(trimmed);
    return url.isValid() ? url : QUrl();
}

bool IsNetworkFailure(int errorCode) {
    switch (errorCode) {
        case -7:    // TIMED_OUT
        case -12:   // NETWORK_IO_SUSPENDED
        case -15:   // SOCKET_NOT_CONNECTED
        case -21:   // NETWORK_CHANGED
        case -100:  // CONNECTION_CLOSED
        case -101:  // CONNECTION_RESET
        case -102:  // CONNECTION_REFUSED
        case -103:  // CONNECTION_ABORTED
        case -104:  // CONNECTION_FAILED
        case -105:  // NAME_NOT_RESOLVED
        case -106:  // INTERNET_DISCONNECTED
        case -109:  // ADDRESS_UNREACHABLE
        case -118:  // CONNECTION_TIMED_OUT
        case -130:  // PROXY_CONNECTION_FAILED
        case -137:  // NAME_RESOLUTION_FAILED
        case -324:  // EMPTY_RESPONSE: the server closed the connection without an answer
            return true;
        default:
            return false;
    }
}

std::chrono::seconds RetryPause(int attempt) {
    constexpr int kLongest = 60;
    const int shift = std::clamp(attempt, 0, 6);
    return std::chrono::seconds(std::min(2 << shift, kLongest));
}

}  // namespace vorn
