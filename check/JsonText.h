#pragma once

#include <string>
#include <string_view>

namespace vorn::check {

// `text` as a JSON string literal (quotes included). Ill-formed UTF-8 (a process name is the
// kernel's bytes) becomes U+FFFD first, so the document is always valid.
std::string JsonString(std::string_view text);

// `text` as it may reach a terminal: printable UTF-8 stays, control characters (C0, DEL, C1),
// characters that reorder or break lines (bidirectional controls, line and paragraph separators)
// and bytes that are not UTF-8 are written as visible escapes (\n, \e, \x9b, \u{202e}), so a
// process name cannot colour, ring, move the cursor or forge a line of the report.
std::string TerminalText(std::string_view text);

// Builds one JSON object member by member; values are written as given (use JsonString for
// texts). Commas are placed by the builder.
class JsonObject {
public:
    JsonObject& Member(std::string_view name, std::string_view jsonValue);
    JsonObject& Bool(std::string_view name, bool value);
    JsonObject& Number(std::string_view name, long long value);
    std::string Text() const { return "{" + m_body + "}"; }

private:
    std::string m_body;
};

// A JSON array of already written values.
std::string JsonArray(const std::string* values, std::size_t count);

}  // namespace vorn::check
