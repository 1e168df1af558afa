#pragma once

#include <QString>
#include <QStringView>

#include <string>
#include <string_view>

// The only places where text is made safe for the page. Every value that goes into an answer
// passes through JsonStringContent (inside JSON) and the whole answer argument through
// JsStringLiteralContent; the error page's texts pass through HtmlEscape. Pure functions, any
// thread. Plain text (no quote, backslash, control character, '<', U+2028/2029) comes back
// unchanged, so ordinary answers keep their documented form byte for byte.
namespace vorn {

enum class JsQuote { Single, Double };

// Text to place between the double quotes of a JSON string so that JSON.parse yields `text`:
// '"' and '\' escaped, control characters below U+0020 as \b \f \n \r \t or \u00XX, a lone
// surrogate as \uXXXX (JSON.parse restores it).
QString JsonStringContent(QStringView text);
// The same for UTF-8 text; invalid UTF-8 becomes U+FFFD (Qt's decoder).
std::string JsonStringContent(std::string_view utf8);

// Text to place between quotes of the given kind in JavaScript source so that the literal's
// value is `text`: '\' and that quote escaped, control characters, '<' (no "</script>" or
// "<!--" can appear), U+2028, U+2029 and lone surrogates as \uXXXX escapes.
QString JsStringLiteralContent(QStringView text, JsQuote quote);
// The same for UTF-8 text; invalid UTF-8 becomes U+FFFD (Qt's decoder).
std::string JsStringLiteralContent(std::string_view utf8, JsQuote quote);

// Text safe as HTML element content and as a quoted attribute value: & < > " ' as entities.
QString HtmlEscape(QStringView text);

}  // namespace vorn
