#include "check/JsonText.h"

#include "common/Utf8.h"

#include <cstdio>

namespace vorn::check {

namespace {

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
        const std::size_t length = Utf8SequenceLength(text);
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
