#include "check/JsonText.h"

#include "common/Utf8.h"

#include <cstdio>

namespace vorn::check {

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
