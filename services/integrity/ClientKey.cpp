#include "services/integrity/ClientKey.h"

#include "platform/UniqueFd.h"

#include <openssl/evp.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <limits>
#include <memory>
#include <vector>

namespace vorn {
namespace {

// Bounds for the skin: a skin is a few small documents and images; a folder far beyond these is
// not a skin, and the key must not take unbounded time at every start.
constexpr size_t kMaxSkinFiles = 4096;
constexpr off_t kMaxSkinFileBytes = 16 << 20;

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

// Hashes one regular file, framed. False when it cannot be opened as a regular file (a link at
// the last component included) or a read fails; the hash is then unusable.
bool HashFile(Sha256& hash, std::string_view label, const std::filesystem::path& path,
              off_t maxBytes) {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    struct stat st {};
    if (!fd.valid() || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) ||
        st.st_size > maxBytes)
        return false;
    // The frame announces the size fstat saw; a file that changes meanwhile gives another key,
    // never a read past what was announced.
    Frame(hash, label, static_cast<unsigned long long>(st.st_size));
    std::vector<char> buffer(1 << 20);
    off_t left = st.st_size;
    while (left > 0) {
        const ssize_t n = ::read(fd.get(), buffer.data(),
                                 static_cast<size_t>(std::min<off_t>(left, buffer.size())));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        hash.Update(buffer.data(), static_cast<size_t>(n));
        left -= n;
    }
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
    if (!HashFile(hash, "exe", inputs.executable, std::numeric_limits<off_t>::max()))
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
