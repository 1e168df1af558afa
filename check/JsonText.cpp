#include "check/JsonText.h"

#include "common/Utf8.h"

#include <cstdio>

namespace vorn::check {

namespace {

// The length of the well-formed UTF-8 sequence at the start of `text`, 0 when there is none.
std::size_t SequenceLength(std::string_view text) {
    const auto lead = static_cast<unsigned char>(text[0]);
    if (lead < 0x80)
        return 1;
    std::size_t need = 0;
    unsigned char low = 0x80, high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        need = 1;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        need = 2;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        need = 3;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (text.size() <= need)
        return 0;
    for (std::size_t i = 1; i <= need; ++i) {
        const auto next = static_cast<unsigned char>(text[i]);
        if (next < (i == 1 ? low : 0x80) || next > (i == 1 ? high : 0xBF))
            return 0;
    }
    return need + 1;
}

char32_t CodePoint(std::string_view sequence) {
    const auto byte = [&](std::size_t i) {
        return char32_t(static_cast<unsigned char>(sequence[i]));
    };
    switch (sequence.size()) {
        case 1:
            return byte(0);
        case 2:
            return (byte(0) & 0x1F) << 6 | (byte(1) & 0x3F);
        case 3:
            return (byte(0) & 0x0F) << 12 | (byte(1) & 0x3F) << 6 | (byte(2) & 0x3F);
        default:
            return (byte(0) & 0x07) << 18 | (byte(1) & 0x3F) << 12 | (byte(2) & 0x3F) << 6 |
                   (byte(3) & 0x3F);
    }
}

// Characters a terminal acts on or that change how the rest of the line reads.
bool ActsOnTheTerminal(char32_t c) {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x061C || c == 0x200E || c == 0x200F ||
           (c >= 0x2028 && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

}  // namespace

std::string TerminalText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    char escaped[16];
    while (!text.empty()) {
        const std::size_t length = SequenceLength(text);
        if (length == 0) {
            std::snprintf(escaped, sizeof escaped, "\\x%02x",
                          static_cast<unsigned>(static_cast<unsigned char>(text[0])));
            out += escaped;
            text.remove_prefix(1);
            continue;
        }
        const std::string_view sequence = text.substr(0, length);
        text.remove_prefix(length);
        const char32_t c = CodePoint(sequence);
        if (!ActsOnTheTerminal(c)) {
            out += sequence;
            continue;
        }
        switch (c) {
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            case 0x07:
                out += "\\a";
                break;
            case 0x1B:
                out += "\\e";
                break;
            default:
                std::snprintf(escaped, sizeof escaped, c < 0x80 ? "\\x%02x" : "\\u{%04x}",
                              static_cast<unsigned>(c));
                out += escaped;
        }
    }
    return out;
}

std::string JsonString(std::string_view text) {
    const std::string valid = ValidUtf8(text);
    std::string out = "\"";
    for (const char c : valid) {
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (static_cast<unsigned char>(c) < 0x20) {
                    char escaped[8];
                    std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
                    out += escaped;
                } else {
                    out += c;
                }
        }
    }
    return out + "\"";
}

JsonObject& JsonObject::Member(std::string_view name, std::string_view jsonValue) {
    if (!m_body.empty())
        m_body += ',';
    m_body += JsonString(name);
    m_body += ':';
    m_body += jsonValue;
    return *this;
}

JsonObject& JsonObject::Bool(std::string_view name, bool value) {
    return Member(name, std::string_view(value ? "true" : "false"));
}

JsonObject& JsonObject::Number(std::string_view name, long long value) {
    return Member(name, std::string_view(std::to_string(value)));
}

std::string JsonArray(const std::string* values, std::size_t count) {
    std::string out = "[";
    for (std::size_t i = 0; i < count; ++i) {
        if (i > 0)
            out += ',';
        out += values[i];
    }
    return out + "]";
}

}  // namespace vorn::check
