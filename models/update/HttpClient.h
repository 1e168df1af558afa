#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace vorn {

// Plain-HTTP(S) transfers of the model update through libcurl, on the calling (worker) thread.
// Only http and https are followed, also across redirects; TLS certificates are verified. A
// status of 400 or more is a failure. A dead or trickling server cannot hold a transfer forever:
// connecting is bounded, a transfer slower than the low-speed limit for the given time is
// dropped, and so is a download whose average speed stays below its floor or that outlasts its
// deadline.
struct HttpLimits {
    long connectTimeoutSeconds = 15;
    long lowSpeedBytesPerSecond = 64;
    long lowSpeedSeconds = 30;
    long textTimeoutSeconds = 60;        // whole-transfer bound for the small version document
    long downloadTimeoutSeconds = 3600;  // whole-transfer bound for the archive
    // After the grace period, a download averaging less than this since its start is dropped.
    long minAverageBytesPerSecond = 4096;
    long averageGraceSeconds = 60;
};

// `address` as a request URL: what a browser's URL parser percent-encodes (spaces, non-ASCII
// bytes, quotes, angle brackets and the rest of the WHATWG encode sets of each part) encoded,
// leading and trailing spaces dropped, "\\" in the path taken as "/", everything else as it
// stands (an existing "%41" stays). Nothing when it cannot be a URL: control characters, an
// empty or malformed host, a port that is not a number. Pure, any thread.
std::optional<std::string> RequestUrl(std::string_view address);

class HttpClient {
public:
    // abort, when given, is polled during transfers; setting it ends them as failures. It must
    // outlive the client.
    explicit HttpClient(HttpLimits limits = {}, const std::atomic<bool>* abort = nullptr);

    // The body, cut at its first NUL byte; a body longer than maxBytes is cut to its first
    // maxBytes bytes (the rest is not fetched). Nothing on any failure.
    std::optional<std::string> FetchText(const std::string& url, size_t maxBytes);

    // Writes the body to a new file at path. Whatever stands at path is removed first (a link
    // itself, never what it points to) and the file is created exclusively without following a
    // link, so nothing planted there is ever written through. A body longer than maxBytes is a
    // failure. On failure returns false and removes whatever was written, so no error page or
    // partial body stays behind as the file.
    bool DownloadToFile(const std::string& url,
                        const std::filesystem::path& path,
                        uint64_t maxBytes);

private:
    HttpLimits m_limits;
    const std::atomic<bool>* m_abort;
};

}  // namespace vorn
