#include "browser/BridgeSchemeHandler.h"
#include "browser/BrowserHandler.h"
#include "browser/bridge/BridgeTarget.h"
#include "services/Messages.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <QUrl>

#include <gtest/gtest.h>

namespace {

struct Recorder : IBridgeTarget {
    QStringList calls;
    void PostToWindow(int message, qintptr wParam) override {
        calls << QStringLiteral("post %1 %2").arg(message).arg(wParam);
    }
    void SetConfigInt(const QString& key, int value) override {
        calls << QStringLiteral("config %1 %2").arg(key).arg(value);
    }
    void StartCardReading(int port, int continuous) override {
        calls << QStringLiteral("start %1 %2").arg(port).arg(continuous);
    }
    void StopCardReading() override { calls << QStringLiteral("stop"); }
};

void Spin(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

QCoreApplication* App() {
    static int argc = 1;
    static char name[] = "test";
    static char* argv[] = {name, nullptr};
    static QCoreApplication* app = new QCoreApplication(argc, argv);
    return app;
}

}  // namespace

TEST(BridgeRequest, ParsesWellFormedCalls) {
    QString doc;
    qint64 seq = 0;
    QStringList args;
    const QUrl url("vornbridge://call/?d=ab12&s=3&a=" +
                   QUrl::toPercentEncoding(R"(["LockApp","1"])"));
    ASSERT_TRUE(CBridgeSchemeHandler::ParseRequest(url, &doc, &seq, &args));
    EXPECT_EQ(doc, "ab12");
    EXPECT_EQ(seq, 3);
    EXPECT_EQ(args, QStringList({"LockApp", "1"}));

    // Texts with reserved characters survive the URL.
    const QUrl hostile("vornbridge://call/?d=x&s=1&a=" +
                       QUrl::toPercentEncoding(R"(["Init","3&s=9\"'+%中"])"));
    ASSERT_TRUE(CBridgeSchemeHandler::ParseRequest(hostile, &doc, &seq, &args));
    EXPECT_EQ(seq, 1);
    EXPECT_EQ(args.value(1), QString::fromUtf8("3&s=9\"'+%中"));
}

TEST(BridgeRequest, RefusesAnythingElse) {
    QString doc;
    qint64 seq = 0;
    QStringList args;
    for (const char* bad : {
             "vornbridge://other/?d=a&s=1&a=%5B%22Update%22%5D",      // wrong host
             "vornbridge://call/?s=1&a=%5B%22Update%22%5D",           // no document
             "vornbridge://call/?d=a&s=0&a=%5B%22Update%22%5D",       // sequence starts at 1
             "vornbridge://call/?d=a&s=x&a=%5B%22Update%22%5D",       // not a number
             "vornbridge://call/?d=a&s=1&a=%7B%7D",                   // not an array
             "vornbridge://call/?d=a&s=1&a=%5B%5D",                   // empty
             "vornbridge://call/?d=a&s=1&a=%5B1%5D",                  // not a text
             "vornbridge://call/?d=a&s=1&a=%5B%22Update%22",          // broken JSON
         }) {
        EXPECT_FALSE(CBridgeSchemeHandler::ParseRequest(QUrl(bad), &doc, &seq, &args)) << bad;
    }
}

TEST(BridgeOrdering, CallsOfOneDocumentRunInSequenceOrder) {
    App();
    CBridgeSchemeHandler handler;
    Recorder target;
    handler.SetTarget(&target);
    handler.Accept("d1", 2, {"GetVCamList"});
    handler.Accept("d1", 3, {"LockApp", "1"});
    EXPECT_TRUE(target.calls.isEmpty());
    handler.Accept("d2", 1, {"Close"});  // another document does not wait for d1
    handler.Accept("d1", 1, {"Update"});
    handler.Accept("d1", 1, {"Update"});  // a repeat is not carried out twice
    EXPECT_EQ(target.calls, QStringList({"stop", QStringLiteral("post %1 0").arg(UM_UPDATE),
                                         QStringLiteral("post %1 0").arg(UM_GET_VCAM_LIST),
                                         QStringLiteral("post %1 1").arg(UM_LOCK_APP)}));
}

TEST(BridgeOrdering, AGapDoesNotStallTheDocumentForGood) {
    App();
    CBridgeSchemeHandler handler;
    Recorder target;
    handler.SetTarget(&target);
    handler.Accept("d", 1, {"Close"});
    handler.Accept("d", 3, {"Update"});  // 2 never arrives
    EXPECT_EQ(target.calls.size(), 1);
    Spin(800);
    ASSERT_EQ(target.calls.size(), 2);
    handler.Accept("d", 4, {"Close"});
    EXPECT_EQ(target.calls.size(), 3);
}

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

#include "browser/HomeSchemeHandler.h"

TEST(HomePage, OnlyNamesBelowTheHomeFolder) {
    EXPECT_EQ(CHomeSchemeHandler::ResourcePath(QUrl("vorn://home/index.html")), ":/vorn/home/index.html");
    EXPECT_EQ(CHomeSchemeHandler::ResourcePath(QUrl("vorn://home/")), ":/vorn/home/index.html");
    EXPECT_EQ(CHomeSchemeHandler::ResourcePath(QUrl("vorn://home/demo.js?x=1")), ":/vorn/home/demo.js");
    EXPECT_TRUE(CHomeSchemeHandler::ResourcePath(QUrl("vorn://other/index.html")).isEmpty());
    EXPECT_TRUE(CHomeSchemeHandler::ResourcePath(QUrl("vorn://home/%2E%2E/bridge.js")).isEmpty());
    EXPECT_TRUE(CHomeSchemeHandler::ResourcePath(QUrl("vorn://home/..%5Cx")).isEmpty());
}
