// The request table as the page bridge carries it out: which service each request reaches and
// with what, for the arguments the page script can send.
#include "RecordingServices.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QRegularExpression>

namespace {

// The renderer sends a second entry only for LockApp and Init called with exactly one
// argument; a non-string argument travels as "". These helpers spell the requests that result.
QStringList Request(const QString& name) {
    return {name};
}
QStringList Request(const QString& name, const QString& argument) {
    return {name, argument};
}

class PageRequestTest : public ::testing::Test {
protected:
    bool Handle(const QStringList& args) { return page.bridge.Handle(args); }
    const QStringList& Calls() const { return page.services.calls; }

    vorntest::RecordingBridge page;
};

TEST_F(PageRequestTest, LockAppLocksOnlyForTheExactStringOne) {
    EXPECT_TRUE(Handle(Request("LockApp", "1")));
    EXPECT_TRUE(Handle(Request("LockApp", "0")));
    EXPECT_TRUE(Handle(Request("LockApp", "")));  // number 1, true, null...
    EXPECT_TRUE(Handle(Request("LockApp", " 1")));
    EXPECT_TRUE(Handle(Request("LockApp", "1 ")));
    EXPECT_TRUE(Handle(Request("LockApp", "01")));
    EXPECT_TRUE(Handle(Request("LockApp", "yes")));
    EXPECT_EQ(Calls(),
              QStringList({"lock", "unlock", "unlock", "unlock", "unlock", "unlock", "unlock"}));
}

TEST_F(PageRequestTest, LockAppWithoutItsArgumentDoesNothing) {
    EXPECT_TRUE(Handle(Request("LockApp")));
    EXPECT_TRUE(Calls().isEmpty());
}

TEST_F(PageRequestTest, LockAppReadsOnlyTheSecondEntry) {
    EXPECT_TRUE(Handle({"LockApp", "1", "0"}));
    EXPECT_EQ(Calls(), QStringList({"lock"}));
}

TEST_F(PageRequestTest, InitStoresThePortWhenGivenAndAlwaysReadsOnce) {
    Handle(Request("Init", "3"));
    Handle(Request("Init", ""));      // number 3 travels as ""
    Handle(Request("Init", "COM3"));  // non-numeric text
    Handle(Request("Init", " -4th"));
    Handle(Request("Init"));  // no argument, or two in the page
    EXPECT_EQ(Calls(), QStringList({"port 3", "read once", "port 0", "read once", "port 0",
                                    "read once", "port -4", "read once", "read once"}));
}

TEST_F(PageRequestTest, TheOtherRequestsMapToTheirActions) {
    EXPECT_TRUE(Handle(Request("Close")));
    EXPECT_TRUE(Handle(Request("ReadCard")));
    EXPECT_TRUE(Handle(Request("Update")));
    EXPECT_TRUE(Handle(Request("GetVCamList")));
    EXPECT_TRUE(Handle(Request("GetIsRemoteLogin")));
    EXPECT_TRUE(Handle(Request("GetClientInfo")));
    EXPECT_EQ(Calls(), QStringList({"stop", "read continuous", "update", "cameras", "scan",
                                    "client facts", "scan"}));
}

TEST_F(PageRequestTest, ArgumentsOfTheOtherRequestsAreIgnored) {
    Handle(Request("ReadCard", "5"));
    Handle(Request("Update", "1"));
    EXPECT_EQ(Calls(), QStringList({"read continuous", "update"}));
}

TEST_F(PageRequestTest, UnknownAndEmptyRequestsDoNothing) {
    EXPECT_FALSE(Handle({}));
    EXPECT_FALSE(Handle(Request("")));
    EXPECT_FALSE(Handle(Request("lockapp", "1")));  // case-sensitive
    EXPECT_FALSE(Handle(Request("LockApp ", "1")));
    EXPECT_FALSE(Handle(Request("GetVCamListX")));
    EXPECT_FALSE(Handle(Request("toString")));
    EXPECT_FALSE(Handle(Request(QString::fromUtf8("Close\0", 6))));
    EXPECT_TRUE(Calls().isEmpty());
}

// The page script is written from the table when the client is built: every row, and nothing
// else, is a function of the page, and exactly the rows that take an argument send one.
TEST(PageScriptTest, DefinesExactlyTheTablesFunctions) {
    QFile script(":/vorn/bridge.js");
    ASSERT_TRUE(script.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(script.readAll());
    const auto listed = [&](const QString& pattern) {
        const QRegularExpressionMatch match = QRegularExpression(pattern).match(text);
        QStringList names;
        for (const QString& part : match.captured(1).split(',', Qt::SkipEmptyParts))
            names << part.trimmed().remove('\'').remove(QStringLiteral(": true"));
        return names;
    };
    QStringList all;
    QStringList withArgument;
    for (const vorn::PageRequest& request : vorn::PageRequests()) {
        all << request.name.toString();
        if (request.argument == vorn::PageArgument::OneText)
            withArgument << request.name.toString();
    }
    EXPECT_EQ(listed(QStringLiteral("var NAMES = \\[([^\\]]*)\\];")), all);
    EXPECT_EQ(listed(QStringLiteral("var TAKES_ARGUMENT = \\{([^}]*)\\};")), withArgument);
}

}  // namespace
