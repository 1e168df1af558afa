#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace vorn {

// What the client key covers: the executable, every regular file below the skin folder, and
// the exam address (config.ini's "Url", empty when it names none).
struct ClientKeyInputs {
    std::filesystem::path executable;
    std::filesystem::path skinFolder;  // "Skin/CEFBrowser" beside the executable; may be missing
    std::string url;
};

// The client key: lower-case hex SHA-256 over, in this order, the executable, the skin files
// sorted by their path below the skin folder ('/'-separated, byte order), and the address, each
// framed as "<label>\0<byte count>\0" followed by the hex SHA-256 of a file's bytes or by the
// address itself (labels "exe", "skin/<path>", "url"), so that no two different inputs hash
// alike. Links are not followed and only regular files are read.
// Any thread; reads every file once. Nothing when the executable cannot be read.
std::optional<std::string> ComputeClientKey(const ClientKeyInputs& inputs);

// The signature of one page request: lower-case hex SHA-256 of the absolute URL (without its
// fragment) followed directly by the client key. Pure, any thread.
std::string RequestHash(std::string_view url, std::string_view clientKey);

// The header every HTTP(S) request of the page carries, and its value for `url` (an absolute
// URL as the engine sends it; a fragment is cut): RequestHash of it, or nothing for another
// scheme or without a client key. Pure, any thread.
inline constexpr const char* kRequestHashHeader = "X-Vorn-Request-Hash";
std::optional<std::string> RequestHashFor(std::string_view url, std::string_view clientKey);

// Lower-case hex SHA-256 of `bytes`. Pure, any thread.
std::string Sha256Hex(std::string_view bytes);

}  // namespace vorn
