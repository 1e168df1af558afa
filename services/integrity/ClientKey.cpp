#include "services/integrity/ClientKey.h"

#include "platform/RegularFile.h"

#include <openssl/evp.h>

#include <algorithm>
#include <cctype>
#include <memory>
#include <vector>

namespace vorn {
namespace {

// Bounds for the skin: a skin is a few small documents and images; a folder far beyond these is
// not a skin, and the key must not take unbounded time at every start.
constexpr size_t kMaxSkinFiles = 4096;
constexpr size_t kMaxSkinFileBytes = 16 << 20;
// Far above any build of the client; only bounds what a replaced file can make us read.
constexpr size_t kMaxExecutableBytes = size_t{1} << 30;

class Sha256 {
public:
    Sha256() : m_ctx(EVP_MD_CTX_new(), &EVP_MD_CTX_free) {
        EVP_DigestInit_ex(m_ctx.get(), EVP_sha256(), nullptr);
    }
    void Update(const void* data, size_t size) { EVP_DigestUpdate(m_ctx.get(), data, size); }
    void Update(std::string_view text) { Update(text.data(), text.size()); }
    std::string HexDigest() {
        unsigned char digest[EVP_MAX_MD_SIZE];
        unsigned int length = 0;
        EVP_DigestFinal_ex(m_ctx.get(), digest, &length);
        static constexpr char kHex[] = "0123456789abcdef";
        std::string hex;
        hex.reserve(length * 2);
        for (unsigned int i = 0; i < length; ++i) {
            hex += kHex[digest[i] >> 4];
            hex += kHex[digest[i] & 15];
        }
        return hex;
    }

private:
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> m_ctx;
};

void Frame(Sha256& hash, std::string_view label, unsigned long long size) {
    hash.Update(label);
    hash.Update("\0", 1);
    hash.Update(std::to_string(size));
    hash.Update("\0", 1);
}

// Hashes one regular file, framed: "<label>\0<size>\0<hex SHA-256 of the bytes>", the size
// counted while reading, so the frame tells what was hashed even if the file changes meanwhile.
// False when it is not a regular file (a link at the last component included), is larger than
// `maxBytes` or cannot be read.
bool HashFile(Sha256& hash,
              std::string_view label,
              const std::filesystem::path& path,
              size_t maxBytes) {
    Sha256 content;
    size_t size = 0;
    const bool read = vorn::platform::StreamRegularFile(
        path.string(), maxBytes, vorn::platform::LinkPolicy::Refuse, [&](std::string_view piece) {
            content.Update(piece);
            size += piece.size();
        });
    if (!read)
        return false;
    Frame(hash, label, size);
    hash.Update(content.HexDigest());
    return true;
}

// Regular files below `folder`, as '/'-separated relative paths in byte order. Links are
// neither followed nor listed.
std::vector<std::string> SkinFiles(const std::filesystem::path& folder) {
    std::vector<std::string> files;
    std::error_code ec;
    if (!std::filesystem::is_directory(std::filesystem::symlink_status(folder, ec)))
        return files;
    std::filesystem::recursive_directory_iterator it(folder, ec), end;
    for (; !ec && it != end && files.size() < kMaxSkinFiles; it.increment(ec)) {
        const std::filesystem::file_status status = it->symlink_status(ec);
        if (ec)
            break;
        if (std::filesystem::is_regular_file(status))
            files.push_back(it->path().lexically_relative(folder).generic_string());
    }
    std::sort(files.begin(), files.end());
    return files;
}

}  // namespace

std::optional<std::string> ComputeClientKey(const ClientKeyInputs& inputs) {
    Sha256 hash;
    if (!HashFile(hash, "exe", inputs.executable, kMaxExecutableBytes))
        return std::nullopt;
    for (const std::string& relative : SkinFiles(inputs.skinFolder)) {
        const std::string label = "skin/" + relative;
        // A skin file that cannot be read (or is far too large for a skin) still counts by name.
        if (!HashFile(hash, label, inputs.skinFolder / relative, kMaxSkinFileBytes))
            Frame(hash, label + std::string("\0unreadable", 11), 0);
    }
    Frame(hash, "url", inputs.url.size());
    hash.Update(inputs.url);
    return hash.HexDigest();
}

std::string RequestHash(std::string_view url, std::string_view clientKey) {
    Sha256 hash;
    hash.Update(url);
    hash.Update(clientKey);
    return hash.HexDigest();
}

std::optional<std::string> RequestHashFor(std::string_view url, std::string_view clientKey) {
    if (clientKey.empty())
        return std::nullopt;
    const size_t colon = url.find(':');
    if (colon == std::string_view::npos)
        return std::nullopt;
    std::string scheme(url.substr(0, colon));
    std::transform(scheme.begin(), scheme.end(), scheme.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (scheme != "http" && scheme != "https")
        return std::nullopt;
    return RequestHash(url.substr(0, url.find('#')), clientKey);
}

std::string Sha256Hex(std::string_view bytes) {
    Sha256 hash;
    hash.Update(bytes);
    return hash.HexDigest();
}

}  // namespace vorn
