#include "services/settings/IniText.h"

#include <cstdint>

namespace vorn::ini {
namespace {

// One code point of UTF-8 at `pos` and its length; a byte that does not start a valid sequence
// (overlong forms and surrogates included) is U+FFFD of length 1, as a UTF-8 decoder shows it.
std::pair<char32_t, std::size_t> Decode(std::string_view text, std::size_t pos) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(pos);
    if (lead < 0x80)
        return {lead, 1};
    std::size_t length = 0;
    char32_t cp = 0;
    char32_t min = 0;
    if ((lead & 0xE0) == 0xC0) {
        length = 2, cp = lead & 0x1F, min = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, cp = lead & 0x0F, min = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, cp = lead & 0x07, min = 0x10000;
    } else {
        return {0xFFFD, 1};
    }
    if (pos + length > text.size())
        return {0xFFFD, 1};
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(pos + i) & 0xC0) != 0x80)
            return {0xFFFD, 1};
        cp = (cp << 6) | (byte(pos + i) & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return {0xFFFD, 1};
    return {cp, length};
}

// QChar::isSpace (the Unicode separators and the ASCII/Latin-1 white space controls), and the
// end-of-file mark Ctrl+Z, which the profile functions trim as well.
bool IsProfileSpace(char32_t c) {
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x1A || c == 0x85 || c == 0xA0 ||
           c == 0x1680 || (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 ||
           c == 0x202F || c == 0x205F || c == 0x3000;
}

bool StartsWith(std::string_view text, char c) {
    return !text.empty() && text.front() == c;
}

// The profile functions drop one pair of matching quotes around a value.
std::string StripQuotes(std::string_view value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front())
        value = value.substr(1, value.size() - 2);
    return std::string(value);
}

}  // namespace

bool SameNameAscii(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (lower(a[i]) != lower(b[i]))
            return false;
    }
    return true;
}

std::string Trimmed(std::string_view text) {
    std::size_t begin = text.size();
    std::size_t end = 0;
    for (std::size_t pos = 0; pos < text.size();) {
        const auto [cp, length] = Decode(text, pos);
        if (!IsProfileSpace(cp)) {
            if (begin == text.size())
                begin = pos;
            end = pos + length;
        }
        pos += length;
    }
    return begin < end ? std::string(text.substr(begin, end - begin)) : std::string();
}

std::vector<Line> ParseLines(std::string_view data) {
    std::vector<Line> lines;
    std::size_t pos = data.starts_with(kByteOrderMark) ? kByteOrderMark.size() : 0;
    while (pos < data.size()) {
        Line line;
        line.begin = pos;
        const std::size_t newline = data.find('\n', pos);
        line.next = newline == std::string_view::npos ? data.size() : newline + 1;
        line.contentEnd = newline == std::string_view::npos ? data.size() : newline;
        if (line.contentEnd > line.begin && data[line.contentEnd - 1] == '\r')
            --line.contentEnd;
        pos = line.next;

        const std::string text = Trimmed(data.substr(line.begin, line.contentEnd - line.begin));
        if (StartsWith(text, '[')) {
            // The last ']' closes the name, so a name may itself contain ']'. A header that is
            // never closed declares nothing.
            const std::size_t close = text.rfind(']');
            if (close != std::string::npos && close > 0) {
                line.kind = Line::Section;
                line.name = Trimmed(std::string_view(text).substr(1, close - 1));
            }
        } else if (!StartsWith(text, ';')) {
            const std::size_t eq = text.find('=');
            if (eq != std::string::npos && eq > 0) {
                line.kind = Line::Key;
                line.name = Trimmed(std::string_view(text).substr(0, eq));
                line.value = Trimmed(std::string_view(text).substr(eq + 1));
            }
        }
        lines.push_back(std::move(line));
    }
    return lines;
}

Lookup Find(const std::vector<Line>& lines,
            std::string_view section,
            std::string_view key,
            SameNameFn sameName) {
    Lookup result;
    const std::string wantedSection = Trimmed(section);
    const std::string wantedKey = Trimmed(key);
    const auto count = static_cast<std::ptrdiff_t>(lines.size());
    std::ptrdiff_t i = 0;
    if (wantedSection.empty()) {
        result.sectionFound = true;
    } else {
        for (; i < count; ++i) {
            if (lines[i].kind == Line::Section && sameName(lines[i].name, wantedSection)) {
                result.section = i;
                result.sectionFound = true;
                result.lastInSection = i;
                ++i;
                break;
            }
        }
        if (!result.sectionFound)
            return result;
    }
    // Only the first section of that name is searched, as the profile functions do.
    for (; i < count && lines[i].kind != Line::Section; ++i) {
        if (lines[i].kind != Line::Key)
            continue;
        result.lastInSection = i;
        if (result.key < 0 && sameName(lines[i].name, wantedKey))
            result.key = i;
    }
    return result;
}

std::optional<std::string> Value(std::string_view data,
                                 std::string_view section,
                                 std::string_view key,
                                 SameNameFn sameName) {
    const std::vector<Line> lines = ParseLines(data);
    const Lookup found = Find(lines, section, key, sameName);
    if (found.key < 0)
        return std::nullopt;
    return StripQuotes(lines[found.key].value);
}

std::string CutToUtf16Units(std::string_view text, int maxUnits) {
    std::size_t units = 0;
    const std::size_t limit = maxUnits < 0 ? 0 : static_cast<std::size_t>(maxUnits);
    std::size_t pos = 0;
    while (pos < text.size()) {
        const auto [cp, length] = Decode(text, pos);
        const std::size_t needed = cp >= 0x10000 ? 2 : 1;
        if (units + needed > limit)
            break;
        units += needed;
        pos += length;
    }
    return std::string(text.substr(0, pos));
}

std::optional<int> ProfileInt(std::string_view stored) {
    // The profile function reads into a 30-character buffer and gives the default for an
    // empty value; the number itself is parsed by RtlUnicodeStringToInteger with base 10,
    // which skips control characters and blanks, takes one sign and wraps on overflow.
    const std::string value = CutToUtf16Units(stored, 29);
    if (value.empty())
        return std::nullopt;
    std::size_t i = 0;
    while (i < value.size() && static_cast<unsigned char>(value[i]) <= ' ')
        ++i;
    bool negative = false;
    if (i < value.size() && (value[i] == '+' || value[i] == '-')) {
        negative = value[i] == '-';
        ++i;
    }
    std::uint32_t total = 0;
    for (; i < value.size() && value[i] >= '0' && value[i] <= '9'; ++i)
        total = total * 10u + static_cast<std::uint32_t>(value[i] - '0');
    if (negative)
        total = 0u - total;
    return static_cast<int>(total);
}

int ReadInt(std::string_view data,
            std::string_view section,
            std::string_view key,
            int defaultValue,
            SameNameFn sameName) {
    const std::optional<std::string> stored = Value(data, section, key, sameName);
    if (!stored)
        return defaultValue;
    return ProfileInt(*stored).value_or(defaultValue);
}

std::string ReadString(std::string_view data,
                       std::string_view section,
                       std::string_view key,
                       std::string_view defaultValue,
                       int maxUnits,
                       SameNameFn sameName) {
    const std::optional<std::string> stored = Value(data, section, key, sameName);
    if (!stored)
        return std::string(defaultValue);
    return CutToUtf16Units(*stored, maxUnits);
}

}  // namespace vorn::ini
