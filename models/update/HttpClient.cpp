#include "models/update/HttpClient.h"

#include "common/Logging.h"
#include "platform/FolderTree.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>

namespace vorn {
namespace {

struct CurlDeleter {
    void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};
using CurlHandle = std::unique_ptr<CURL, CurlDeleter>;

struct TextSink {
    std::string data;
    size_t maxBytes = 0;
    bool full = false;
};

size_t WriteText(char* ptr, size_t size, size_t count, void* user) {
    auto* sink = static_cast<TextSink*>(user);
    const size_t n = size * count;
    const size_t room = sink->maxBytes - sink->data.size();
    sink->data.append(ptr, n < room ? n : room);
    if (n > room) {
        sink->full = true;
        return 0;  // stops the transfer; what fits is kept
    }
    return n;
}

struct FileSink {
    platform::OsHandle file;
    uint64_t written = 0;
    uint64_t maxBytes = 0;
    bool tooLarge = false;
    bool writeFailed = false;
};

size_t WriteFile(char* ptr, size_t size, size_t count, void* user) {
    auto* sink = static_cast<FileSink*>(user);
    const size_t n = size * count;
    if (n > sink->maxBytes - sink->written) {
        sink->tooLarge = true;
        return 0;  // stops the transfer
    }
    if (!platform::WriteAll(sink->file.Get(), ptr, n)) {
        sink->writeFailed = true;
        return 0;
    }
    sink->written += n;
    return n;
}

// What the progress callback watches: shutdown, and for the archive its average speed.
struct Watch {
    const std::atomic<bool>* abort = nullptr;
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
    long minAverage = 0;  // bytes per second; 0: not watched
    long graceSeconds = 0;
    bool tooSlow = false;
};

int Progress(void* user, curl_off_t, curl_off_t now, curl_off_t, curl_off_t) {
    auto* watch = static_cast<Watch*>(user);
    if (watch->abort && watch->abort->load())
        return 1;
    if (watch->minAverage > 0) {
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - watch->start).count();
        if (seconds > double(watch->graceSeconds) &&
            double(now) < double(watch->minAverage) * seconds) {
            watch->tooSlow = true;
            return 1;
        }
    }
    return 0;
}

CurlHandle NewHandle(const std::string& address, const HttpLimits& limits, Watch* watch) {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    // libcurl takes only a URL already encoded; a browser (and the platform download the
    // address was written for) encodes a space or a non-ASCII name itself.
    const std::optional<std::string> url = RequestUrl(address);
    if (!url) {
        qCWarning(lcModels) << "the address" << address.c_str() << "is not a URL; not fetched";
        return CurlHandle();
    }
    CurlHandle curl(curl_easy_init());
    if (!curl)
        return curl;
    CURL* c = curl.get();
    curl_easy_setopt(c, CURLOPT_URL, url->c_str());
    // A download URL comes from the network: never let it reach file://, ftp:// and the like.
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(c, CURLOPT_MAXREDIRS, 10L);
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);  // worker thread: no SIGALRM for DNS time-outs
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, limits.connectTimeoutSeconds);
    curl_easy_setopt(c, CURLOPT_LOW_SPEED_LIMIT, limits.lowSpeedBytesPerSecond);
    curl_easy_setopt(c, CURLOPT_LOW_SPEED_TIME, limits.lowSpeedSeconds);
    curl_easy_setopt(c, CURLOPT_FAILONERROR, 1L);  // status >= 400: no body is delivered
    // The progress callback is how a shutdown stops a transfer that is still running.
    curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, &Progress);
    curl_easy_setopt(c, CURLOPT_XFERINFODATA, watch);
    return curl;
}

// Which characters a part of a URL percent-encodes besides C0 controls, space and bytes from
// 0x7F up (the WHATWG URL standard's encode sets for special schemes).
constexpr std::string_view kUserinfoSet = "\"#<>?`{}/:;=@[\\]^|";
constexpr std::string_view kPathSet = "\"#<>?`{}^";
constexpr std::string_view kQuerySet = "\"#<>'";
constexpr std::string_view kFragmentSet = "\"<>`";

void Encode(std::string_view part, std::string_view set, std::string* out) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    for (const char c : part) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte >= 0x7F || set.find(c) != std::string_view::npos) {
            *out += '%';
            *out += kHex[byte >> 4];
            *out += kHex[byte & 15];
        } else {
            *out += c;
        }
    }
}

// A host as a URL parser accepts it: a bracketed IPv6 address, or a name without the code
// points a host may never hold (non-ASCII names are left to libcurl's IDN conversion).
bool IsHost(std::string_view host) {
    if (host.empty())
        return false;
    if (host.front() == '[')
        return host.size() > 2 && host.back() == ']' &&
               host.substr(1, host.size() - 2).find_first_not_of("0123456789abcdefABCDEF:.") ==
                   std::string_view::npos;
    return host.find_first_of(" #/:<>?@[\\]^|\"") == std::string_view::npos;
}

}  // namespace

std::optional<std::string> RequestUrl(std::string_view address) {
    while (!address.empty() && address.front() == ' ')
        address.remove_prefix(1);
    while (!address.empty() && address.back() == ' ')
        address.remove_suffix(1);
    for (const char c : address) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            return std::nullopt;
    }
    std::string out;
    // A scheme, when there is one; without, libcurl takes http, as it always has here.
    const std::size_t schemeEnd = address.find("://");
    if (schemeEnd != std::string_view::npos && schemeEnd > 0 &&
        std::isalpha(static_cast<unsigned char>(address[0])) &&
        address.substr(0, schemeEnd)
                .find_first_not_of(
                    "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789+-.") ==
            std::string_view::npos) {
        out.append(address.substr(0, schemeEnd + 3));
        address.remove_prefix(schemeEnd + 3);
    }
    const std::size_t authorityEnd = address.find_first_of("/?#\\");
    std::string_view authority = address.substr(0, authorityEnd);
    address.remove_prefix(authority.size());
    const std::size_t at = authority.rfind('@');
    if (at != std::string_view::npos) {
        // User name and password, each encoded; the first ":" is the one between them.
        const std::string_view userinfo = authority.substr(0, at);
        const std::size_t split = userinfo.find(':');
        Encode(userinfo.substr(0, split), kUserinfoSet, &out);
        if (split != std::string_view::npos) {
            out += ':';
            Encode(userinfo.substr(split + 1), kUserinfoSet, &out);
        }
        out += '@';
        authority.remove_prefix(at + 1);
    }
    std::string_view host = authority;
    const std::size_t colon = authority.rfind(':');
    if (colon != std::string_view::npos &&
        (authority.front() != '[' || authority.find(']') < colon)) {
        const std::string_view port = authority.substr(colon + 1);
        if (port.find_first_not_of("0123456789") != std::string_view::npos || port.size() > 5)
            return std::nullopt;
        host = authority.substr(0, colon);
    }
    if (!IsHost(host))
        return std::nullopt;
    out.append(authority);

    const std::size_t fragmentAt = address.find('#');
    const std::string_view fragment =
        fragmentAt == std::string_view::npos ? std::string_view() : address.substr(fragmentAt);
    address = address.substr(0, fragmentAt);
    const std::size_t queryAt = address.find('?');
    std::string path(address.substr(0, queryAt));
    std::replace(path.begin(), path.end(), '\\', '/');
    Encode(path, kPathSet, &out);
    if (queryAt != std::string_view::npos) {
        out += '?';
        Encode(address.substr(queryAt + 1), kQuerySet, &out);
    }
    if (!fragment.empty()) {
        out += '#';
        Encode(fragment.substr(1), kFragmentSet, &out);
    }
    return out;
}

HttpClient::HttpClient(HttpLimits limits, const std::atomic<bool>* abort)
    : m_limits(limits), m_abort(abort) {}

std::optional<std::string> HttpClient::FetchText(const std::string& url, size_t maxBytes) {
    Watch watch;
    watch.abort = m_abort;
    CurlHandle curl = NewHandle(url, m_limits, &watch);
    if (!curl)
        return std::nullopt;
    TextSink sink;
    sink.maxBytes = maxBytes;
    curl_easy_setopt(curl.get(), CURLOPT_TIMEOUT, m_limits.textTimeoutSeconds);
    curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, &WriteText);
    curl_easy_setopt(curl.get(), CURLOPT_WRITEDATA, &sink);
    const CURLcode rc = curl_easy_perform(curl.get());
    if (rc != CURLE_OK && !(rc == CURLE_WRITE_ERROR && sink.full)) {
        qCDebug(lcModels) << "fetching" << url.c_str() << "failed:" << curl_easy_strerror(rc);
        return std::nullopt;
    }
    if (sink.full)
        qCDebug(lcModels) << "body of" << url.c_str() << "cut to its first" << maxBytes << "bytes";
    const size_t nul = sink.data.find('\0');
    if (nul != std::string::npos)
        sink.data.resize(nul);
    return std::move(sink.data);
}

bool HttpClient::DownloadToFile(const std::string& url,
                                const std::filesystem::path& path,
                                uint64_t maxBytes) {
    Watch watch;
    watch.abort = m_abort;
    watch.minAverage = m_limits.minAverageBytesPerSecond;
    watch.graceSeconds = m_limits.averageGraceSeconds;
    CurlHandle curl = NewHandle(url, m_limits, &watch);
    if (!curl)
        return false;
    // unlink removes a link itself; O_EXCL | O_NOFOLLOW then refuses whatever appears there in
    // between instead of writing through it.
    if (!platform::RemoveFileIfPresent(path.string())) {
        qCWarning(lcModels) << "cannot remove the old download file" << path.c_str() << ":"
                            << platform::LastFailureText().c_str();
        return false;
    }
    FileSink sink;
    sink.maxBytes = maxBytes;
    sink.file = platform::CreateNewFile(path.string());
    if (!sink.file.Valid()) {
        qCWarning(lcModels) << "cannot create the download file" << path.c_str() << ":"
                            << platform::LastFailureText().c_str();
        return false;
    }
    curl_easy_setopt(curl.get(), CURLOPT_TIMEOUT, m_limits.downloadTimeoutSeconds);
    curl_easy_setopt(curl.get(), CURLOPT_MAXFILESIZE_LARGE,
                     static_cast<curl_off_t>(std::min<uint64_t>(maxBytes, INT64_MAX)));
    curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, &WriteFile);
    curl_easy_setopt(curl.get(), CURLOPT_WRITEDATA, &sink);
    const CURLcode rc = curl_easy_perform(curl.get());
    const bool closed = platform::CloseFile(&sink.file);
    if (rc != CURLE_OK || !closed) {
        const char* why = sink.tooLarge || rc == CURLE_FILESIZE_EXCEEDED
                              ? "the archive is larger than the size limit"
                          : watch.tooSlow ? "the transfer stayed below its minimum average speed"
                          : rc != CURLE_OK && !sink.writeFailed ? curl_easy_strerror(rc)
                                                                : "cannot write the file";
        qCWarning(lcModels) << "download of" << url.c_str() << "failed:" << why;
        platform::RemoveFileIfPresent(path.string());
        return false;
    }
    return true;
}

}  // namespace vorn
