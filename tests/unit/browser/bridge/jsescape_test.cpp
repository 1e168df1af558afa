#include "browser/bridge/JsEscape.h"

#include <gtest/gtest.h>

using namespace vorn;

namespace {

TEST(JsEscapeTest, PlainTextIsUnchanged) {
    const QString plain =
        QString::fromUtf8("Camera 2 (x/y) \xE4\xB8\xAD\xE6\x96\x87 \xF0\x9F\x98\x80 >");
    EXPECT_EQ(JsonStringContent(plain), plain);
    EXPECT_EQ(JsStringLiteralContent(plain, JsQuote::Single), plain);
    EXPECT_EQ(JsStringLiteralContent(plain, JsQuote::Double), plain);
    EXPECT_EQ(JsonStringContent(std::string_view("a b")), "a b");
}

TEST(JsEscapeTest, JsonEscapesWhatJsonRequires) {
    EXPECT_EQ(JsonStringContent(QStringView(u"q\"b\\s/'")), u"q\\\"b\\\\s/'");
    EXPECT_EQ(JsonStringContent(QStringView(u"\b\f\n\r\t")), u"\\b\\f\\n\\r\\t");
    EXPECT_EQ(JsonStringContent(QString(QChar(0)) + QChar(0x1F) + QChar(0x7F)),
              QStringLiteral("\\u0000\\u001F") + QChar(0x7F));
    // U+2028 is valid inside JSON; the literal layer takes care of it.
    EXPECT_EQ(JsonStringContent(QString(QChar(0x2028))), QString(QChar(0x2028)));
}

TEST(JsEscapeTest, LiteralEscapesOnlyItsOwnQuote) {
    EXPECT_EQ(JsStringLiteralContent(QStringView(u"'\""), JsQuote::Single), u"\\'\"");
    EXPECT_EQ(JsStringLiteralContent(QStringView(u"'\""), JsQuote::Double), u"'\\\"");
    EXPECT_EQ(JsStringLiteralContent(QStringView(u"</script><!--"), JsQuote::Single),
              u"\\u003C/script>\\u003C!--");
    EXPECT_EQ(JsStringLiteralContent(QString(QChar(0x2028)) + QChar(0x2029), JsQuote::Single),
              u"\\u2028\\u2029");
    EXPECT_EQ(JsStringLiteralContent(QStringView(u"a\\nb\n"), JsQuote::Single), u"a\\\\nb\\n");
}

TEST(JsEscapeTest, LoneSurrogatesAreEscapedAndPairsKept) {
    const QString lone = QString(QChar(0xD800)) + u'x' + QChar(0xDC00);
    EXPECT_EQ(JsonStringContent(lone), u"\\uD800x\\uDC00");
    EXPECT_EQ(JsStringLiteralContent(lone, JsQuote::Double), u"\\uD800x\\uDC00");
    const QString reversed = QString(QChar(0xDC00)) + QChar(0xD800);
    EXPECT_EQ(JsonStringContent(reversed), u"\\uDC00\\uD800");
    const QString pair = QString(QChar(0xD83D)) + QChar(0xDE00);
    EXPECT_EQ(JsonStringContent(pair), pair);
}

TEST(JsEscapeTest, InvalidUtf8BecomesReplacementCharacters) {
    const std::string out =
        JsonStringContent(std::string_view("a\xFF"
                                           "b\xC0\xAF"
                                           "c"));
    const QString decoded = QString::fromStdString(out);
    EXPECT_TRUE(decoded.startsWith(u'a'));
    EXPECT_TRUE(decoded.contains(QChar(0xFFFD)));
    EXPECT_FALSE(decoded.contains(u'/'));  // an overlong "/" is not decoded as one
    EXPECT_TRUE(decoded.endsWith(u'c'));
    EXPECT_EQ(JsonStringContent(std::string_view("a\xFF"
                                                 "b\xC0\xAF"
                                                 "c")),
              out);
}

TEST(JsEscapeTest, HtmlEscapeCoversContentAndAttributes) {
    EXPECT_EQ(HtmlEscape(u"<a href=\"x\" title='y'>&amp;</a>"),
              u"&lt;a href=&quot;x&quot; title=&#39;y&#39;&gt;&amp;amp;&lt;/a&gt;");
    EXPECT_EQ(HtmlEscape(u"plain \u4E2D"), u"plain \u4E2D");
}

}  // namespace
