#include "models/serving/ModelUrl.h"

#include "common/PathSegments.h"

#include <QMimeDatabase>

#include <algorithm>
#include <array>
#include <cctype>
#include <utility>

namespace vorn {
namespace {

std::string CanonicalHost(std::string_view host, std::string_view defaultPort) {
    std::string out(host);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    const std::string suffix = ":" + std::string(defaultPort);
    if (out.size() > suffix.size() &&
        out.compare(out.size() - suffix.size(), suffix.size(), suffix) == 0) {
        out.resize(out.size() - suffix.size());
    }
    return out;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

}  // namespace

std::vector<std::string> BuildModelUrlPrefixes(std::string_view staticHost,
                                               std::string_view httpResourceHost,
                                               std::string_view httpsResourceHost,
                                               std::string_view pageHost) {
    auto http = [](std::string_view host, const char* path) {
        return "http://" + CanonicalHost(host, "80") + path;
    };
    auto https = [](std::string_view host, const char* path) {
        return "https://" + CanonicalHost(host, "443") + path;
    };
    return {
        http(staticHost, "/models/"),       https(staticHost, "/models/"),
        http(httpResourceHost, "/models/"), https(httpsResourceHost, "/models/"),
        http(pageHost, "/test/models/"),    https(pageHost, "/test/models/"),
    };
}

bool IsSafeModelName(std::string_view name) {
    return !name.empty() && name.front() != '/' && name.find('\0') == std::string_view::npos &&
           !HasParentSegment(name);
}

std::optional<std::string> DecodeModelName(std::string_view encoded) {
    std::string out;
    out.reserve(encoded.size());
    for (size_t i = 0; i < encoded.size(); ++i) {
        const char c = encoded[i];
        if (c == '+') {
            out.push_back(' ');
        } else if (c == '%' && i + 2 < encoded.size() && HexValue(encoded[i + 1]) >= 0 &&
                   HexValue(encoded[i + 2]) >= 0) {
            out.push_back(
                static_cast<char>(HexValue(encoded[i + 1]) * 16 + HexValue(encoded[i + 2])));
            i += 2;
        } else {
            out.push_back(c);
        }
    }
    if (!IsSafeModelName(out))
        return std::nullopt;
    return out;
}

std::optional<std::string> MatchModelUrl(std::string_view url,
                                         const std::vector<std::string>& prefixes) {
    url = url.substr(0, url.find_first_of("?#"));
    for (const std::string& prefix : prefixes) {
        if (url.size() > prefix.size() && url.substr(0, prefix.size()) == prefix)
            return DecodeModelName(url.substr(prefix.size()));
    }
    return std::nullopt;
}

std::string EncodeModelName(std::string_view name) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(name.size());
    for (unsigned char c : name) {
        if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~' || c == '/') {
            out.push_back(static_cast<char>(c));
        } else {
            out.push_back('%');
            out.push_back(kHex[c >> 4]);
            out.push_back(kHex[c & 15]);
        }
    }
    return out;
}

std::string MimeTypeForModelName(std::string_view name) {
    // Where the web's name for a type differs from the desktop's, or the desktop has none, the
    // page's own loads use the web's (WebAssembly streaming compilation, module scripts and
    // fonts check it); every other extension is looked up as the engine would on this system.
    static constexpr std::array<std::pair<std::string_view, const char*>, 9> kWebTypes = {{
        {"bin", "application/octet-stream"},
        {"js", "text/javascript"},
        {"mjs", "text/javascript"},
        {"onnx", "application/octet-stream"},
        {"otf", "font/otf"},
        {"tflite", "application/octet-stream"},
        {"wasm", "application/wasm"},
        {"wav", "audio/wav"},
        {"xml", "text/xml"},
    }};
    const size_t slash = name.rfind('/');
    const std::string_view file = slash == std::string_view::npos ? name : name.substr(slash + 1);
    const size_t dot = file.rfind('.');
    if (dot == std::string_view::npos || dot + 1 == file.size())
        return "text/html";
    std::string ext(file.substr(dot + 1));
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    for (const auto& [known, type] : kWebTypes) {
        if (known == ext)
            return type;
    }
    // By the extension alone: the contents are never read to decide. Only a short plain
    // extension goes to the database: Qt 6.4's glob matcher crashed on a fuzzed file name.
    if (ext.size() > 16 || !std::all_of(ext.begin(), ext.end(), [](unsigned char c) {
            return std::isalnum(c) || c == '_' || c == '-';
        }))
        return "text/html";
    static const QMimeDatabase database;
    const QMimeType type = database.mimeTypeForFile(
        QStringLiteral("model.") + QString::fromStdString(ext), QMimeDatabase::MatchExtension);
    if (!type.isValid() || type.isDefault())
        return "text/html";
    return type.name().toStdString();
}

}  // namespace vorn
