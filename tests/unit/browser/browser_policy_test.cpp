#include "browser/BrowserHandler.h"
#include "browser/HomeSchemeHandler.h"

#include <QUrl>

#include <gtest/gtest.h>

using vorn::CBrowserHandler;
using vorn::CHomeSchemeHandler;

TEST(BrowserPolicy, ErrorPageEscapesTheUrl) {
    const QString html = CBrowserHandler::ErrorPageHtml(
        QUrl("http://127.0.0.1:1/<script>alert(1)</script>"), "net::ERR_<b>", -102);
    EXPECT_FALSE(html.contains("<script>"));
    EXPECT_FALSE(html.contains("<b>"));
    EXPECT_TRUE(html.startsWith("<html><body><h2>Failed to load URL "));
    EXPECT_TRUE(html.contains(" (-102).</h2><button "));
    // The Reload button carries the address as an attribute, escaped like the heading.
    EXPECT_TRUE(html.endsWith(">重新加载 Reload</button></body></html>"));
    EXPECT_EQ(html.count("<h2>"), 1);
}

TEST(BrowserPolicy, OriginsOfMainFrameAddresses) {
    EXPECT_EQ(CBrowserHandler::OriginOf(QUrl("http://Exam.cn/a?x")),
              CBrowserHandler::OriginOf(QUrl("http://exam.cn:80/b#y")));
    EXPECT_NE(CBrowserHandler::OriginOf(QUrl("http://exam.cn/")),
              CBrowserHandler::OriginOf(QUrl("https://exam.cn/")));
    EXPECT_NE(CBrowserHandler::OriginOf(QUrl("http://exam.cn/")),
              CBrowserHandler::OriginOf(QUrl("http://exam.cn:8080/")));
    EXPECT_NE(CBrowserHandler::OriginOf(QUrl("http://exam.cn/")),
              CBrowserHandler::OriginOf(QUrl("http://other.cn/")));
}

TEST(BrowserPolicy, OnlyThreeExternalSchemes) {
    bool stop = true;
    EXPECT_TRUE(CBrowserHandler::IsAllowedExternalScheme(QUrl("spotify:track:1"), &stop));
    EXPECT_FALSE(stop);
    EXPECT_TRUE(CBrowserHandler::IsAllowedExternalScheme(QUrl("aliim:sendmsg?x"), &stop));
    EXPECT_TRUE(stop);
    EXPECT_TRUE(CBrowserHandler::IsAllowedExternalScheme(QUrl("tencent://message/?uin=1"), &stop));
    EXPECT_TRUE(stop);
    for (const char* refused : {"mailto:a@b.c", "vornapp://start", "ms-settings:", "ftp://x"})
        EXPECT_FALSE(CBrowserHandler::IsAllowedExternalScheme(QUrl(refused), &stop)) << refused;
}

TEST(HomePage, OnlyNamesBelowTheHomeFolder) {
    EXPECT_EQ(CHomeSchemeHandler::ResourcePath(QUrl("vorn://home/index.html")),
              ":/vorn/home/index.html");
    EXPECT_EQ(CHomeSchemeHandler::ResourcePath(QUrl("vorn://home/")), ":/vorn/home/index.html");
    EXPECT_EQ(CHomeSchemeHandler::ResourcePath(QUrl("vorn://home/demo.js?x=1")),
              ":/vorn/home/demo.js");
    EXPECT_TRUE(CHomeSchemeHandler::ResourcePath(QUrl("vorn://other/index.html")).isEmpty());
    EXPECT_TRUE(CHomeSchemeHandler::ResourcePath(QUrl("vorn://home/%2E%2E/bridge.js")).isEmpty());
    EXPECT_TRUE(CHomeSchemeHandler::ResourcePath(QUrl("vorn://home/..%5Cx")).isEmpty());
}
