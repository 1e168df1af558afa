#include "models/archive/ArchiveNames.h"

#include "models/archive/Archive.h"

#include <array>
#include <string>

namespace vorn::archive {

namespace {

constexpr char16_t kReplacement = 0xFFFD;

// Length of the valid UTF-8 sequence at the start of `s`, and its code point; 0 when invalid.
size_t DecodeOne(std::string_view s, char32_t* cp) {
    const auto b0 = static_cast<unsigned char>(s[0]);
    if (b0 < 0x80) {
        *cp = b0;
        return 1;
    }
    size_t len = 0;
    char32_t value = 0;
    char32_t minimum = 0;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        len = 2, value = b0 & 0x1F, minimum = 0x80;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        len = 3, value = b0 & 0x0F, minimum = 0x800;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        len = 4, value = b0 & 0x07, minimum = 0x10000;
    } else {
        return 0;
    }
    if (s.size() < len)
        return 0;
    for (size_t i = 1; i < len; ++i) {
        const auto b = static_cast<unsigned char>(s[i]);
        if ((b & 0xC0) != 0x80)
            return 0;
        value = (value << 6) | (b & 0x3F);
    }
    if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
        return 0;
    *cp = value;
    return len;
}

}  // namespace

std::u16string DecodeUtf8(std::string_view bytes) {
    std::u16string out;
    out.reserve(bytes.size());
    while (!bytes.empty()) {
        char32_t cp = 0;
        size_t used = DecodeOne(bytes, &cp);
        if (used == 0) {
            out.push_back(kReplacement);
            used = 1;
        } else if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
        bytes.remove_prefix(used);
    }
    return out;
}

std::string EncodeUtf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        char32_t cp = text[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = kReplacement;
        }
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }
    return out;
}

std::u16string SanitiseEntryName(std::u16string name) {
    static constexpr std::array<std::u16string_view, 4> kSteps = {u"\\..\\", u"\\../", u"/../",
                                                                  u"/..\\"};
    for (;;) {
        if (name.size() >= 2 && name[1] == u':') {
            name.erase(0, 2);
            continue;
        }
        if (!name.empty() && IsSeparator(name[0])) {
            name.erase(0, 1);
            continue;
        }
        bool dropped = false;
        for (std::u16string_view step : kSteps) {
            const size_t at = name.find(step);
            if (at != std::u16string::npos) {
                name.erase(0, at + step.size());
                dropped = true;
                break;
            }
        }
        if (!dropped)
            return name;
    }
}

uint32_t CheckAbsoluteName(std::u16string_view name) {
    for (char16_t c : name) {
        if (c < 0x20 || c == 0x7F)
            return ZR_UNSAFE_NAME;
    }
    return ZR_OK;
}

uint32_t CheckRelativeName(std::u16string_view name) {
    if (CheckAbsoluteName(name) != ZR_OK)
        return ZR_UNSAFE_NAME;
    size_t start = 0;
    while (start <= name.size()) {
        size_t end = start;
        while (end < name.size() && !IsSeparator(name[end]))
            ++end;
        if (name.substr(start, end - start) == u"..")
            return ZR_UNSAFE_NAME;
        start = end + 1;
    }
    return ZR_OK;
}

bool IsAbsoluteName(std::u16string_view name) {
    return (!name.empty() && IsSeparator(name[0])) || (name.size() >= 2 && name[1] == u':');
}

uint32_t CheckWindowsStepName(std::string_view name) {
    if (name.empty())
        return ZR_OK;
    for (const char c : name) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F ||
            std::string_view("<>:\"|?*\\").find(c) != std::string_view::npos)
            return ZR_UNSAFE_NAME;
    }
    if (name.back() == '.' || name.back() == ' ')
        return ZR_UNSAFE_NAME;
    // Windows reads a device name in whatever comes before the first dot, trailing spaces
    // dropped: "nul.txt" and "COM1 .log" are devices too.
    std::string_view stem = name.substr(0, name.find('.'));
    while (!stem.empty() && stem.back() == ' ')
        stem.remove_suffix(1);
    std::string upper(stem);
    for (char& c : upper)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    for (const char* device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"})
        if (upper == device)
            return ZR_UNSAFE_NAME;
    if (upper.size() >= 4 && (upper.compare(0, 3, "COM") == 0 || upper.compare(0, 3, "LPT") == 0)) {
        const std::string_view number = std::string_view(upper).substr(3);
        if ((number.size() == 1 && number[0] >= '0' && number[0] <= '9') || number == "\xC2\xB9" ||
            number == "\xC2\xB2" || number == "\xC2\xB3")
            return ZR_UNSAFE_NAME;
    }
    return ZR_OK;
}

}  // namespace vorn::archive
