#include "models/update/HttpClient.h"

#include "platform/Logging.h"

#include <curl/curl.h>

#include <cstdio>
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

size_t WriteFile(char* ptr, size_t size, size_t count, void* user) {
    return std::fwrite(ptr, size, count, static_cast<std::FILE*>(user)) * size;
}

int Progress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    const auto* abort = static_cast<const std::atomic<bool>*>(user);
    return abort && abort->load() ? 1 : 0;
}

CurlHandle NewHandle(const std::string& url,
                     const HttpLimits& limits,
                     const std::atomic<bool>* abort) {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    CurlHandle curl(curl_easy_init());
    if (!curl)
        return curl;
    CURL* c = curl.get();
    curl_easy_setopt(c, CURLOPT_URL, url.c_str());
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
    curl_easy_setopt(c, CURLOPT_XFERINFODATA, const_cast<std::atomic<bool>*>(abort));
    return curl;
}

}  // namespace

HttpClient::HttpClient(HttpLimits limits, const std::atomic<bool>* abort)
    : m_limits(limits), m_abort(abort) {}

std::optional<std::string> HttpClient::FetchText(const std::string& url, size_t maxBytes) {
    CurlHandle curl = NewHandle(url, m_limits, m_abort);
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

bool HttpClient::DownloadToFile(const std::string& url, const std::filesystem::path& path) {
    CurlHandle curl = NewHandle(url, m_limits, m_abort);
    if (!curl)
        return false;
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) {
        qCDebug(lcModels) << "cannot create" << path.c_str();
        return false;
    }
    curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, &WriteFile);
    curl_easy_setopt(curl.get(), CURLOPT_WRITEDATA, file);
    const CURLcode rc = curl_easy_perform(curl.get());
    const bool closed = std::fclose(file) == 0;
    if (rc != CURLE_OK || !closed) {
        qCDebug(lcModels) << "download of" << url.c_str() << "failed:"
                          << (rc != CURLE_OK ? curl_easy_strerror(rc) : "cannot write the file");
        std::error_code ec;
        std::filesystem::remove(path, ec);
        return false;
    }
    return true;
}

}  // namespace vorn
