#include "browser/bridge/JsEscape.h"

namespace vorn {
namespace {

void AppendUnicodeEscape(QString& out, char16_t unit) {
    static constexpr char16_t kHex[] = u"0123456789ABCDEF";
    out += u"\\u";
    out += QChar(kHex[(unit >> 12) & 0xF]);
    out += QChar(kHex[(unit >> 8) & 0xF]);
    out += QChar(kHex[(unit >> 4) & 0xF]);
    out += QChar(kHex[unit & 0xF]);
}

// A UTF-16 unit at `i` that is half of a surrogate pair without its other half.
bool IsLoneSurrogate(QStringView text, qsizetype i) {
    const QChar c = text[i];
    if (c.isHighSurrogate())
        return i + 1 >= text.size() || !text[i + 1].isLowSurrogate();
    if (c.isLowSurrogate())
        return i == 0 || !text[i - 1].isHighSurrogate();
    return false;
}

// Common short escapes of JSON and JavaScript; nullptr when the unit has none.
const char16_t* ShortEscape(char16_t unit) {
    switch (unit) {
        case u'\\':
            return u"\\\\";
        case u'\b':
            return u"\\b";
        case u'\f':
            return u"\\f";
        case u'\n':
            return u"\\n";
        case u'\r':
            return u"\\r";
        case u'\t':
            return u"\\t";
        default:
            return nullptr;
    }
}

}  // namespace

QString JsonStringContent(QStringView text) {
    QString out;
    out.reserve(text.size() + 8);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t unit = text[i].unicode();
        if (const char16_t* shortForm = ShortEscape(unit))
            out += QStringView(shortForm);
        else if (unit == u'"')
            out += u"\\\"";
        else if (unit < 0x20 || IsLoneSurrogate(text, i))
            AppendUnicodeEscape(out, unit);
        else
            out += QChar(unit);
    }
    return out;
}

std::string JsonStringContent(std::string_view utf8) {
    const QString text = QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
    return JsonStringContent(text).toStdString();
}

QString JsStringLiteralContent(QStringView text, JsQuote quote) {
    const char16_t quoteUnit = quote == JsQuote::Single ? u'\'' : u'"';
    QString out;
    out.reserve(text.size() + 8);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t unit = text[i].unicode();
        if (const char16_t* shortForm = ShortEscape(unit)) {
            out += QStringView(shortForm);
        } else if (unit == quoteUnit) {
            out += u'\\';
            out += QChar(unit);
        } else if (unit < 0x20 || unit == u'<' || unit == 0x2028 || unit == 0x2029 ||
                   IsLoneSurrogate(text, i)) {
            AppendUnicodeEscape(out, unit);
        } else {
            out += QChar(unit);
        }
    }
    return out;
}

std::string JsStringLiteralContent(std::string_view utf8, JsQuote quote) {
    const QString text = QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
    return JsStringLiteralContent(text, quote).toStdString();
}

QString HtmlEscape(QStringView text) {
    QString out;
    out.reserve(text.size() + 16);
    for (const QChar c : text) {
        switch (c.unicode()) {
            case u'&':
                out += u"&amp;";
                break;
            case u'<':
                out += u"&lt;";
                break;
            case u'>':
                out += u"&gt;";
                break;
            case u'"':
                out += u"&quot;";
                break;
            case u'\'':
                out += u"&#39;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

}  // namespace vorn
