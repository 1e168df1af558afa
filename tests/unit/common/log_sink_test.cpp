#include "common/LogSink.h"
#include "common/Logging.h"

#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <gtest/gtest.h>

namespace {

QStringList g_lines;

void Record(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    g_lines << QStringLiteral("%1 %2 %3")
                   .arg(type == QtWarningMsg ? "warning" : "other", context.category, message);
}

}  // namespace

// Platform code writes through the standard-C++ sink; once connected, each area's lines land in
// its own category with the text unchanged, and the categories' own rules still apply.
TEST(PlatformLog, ConnectedSinkWritesIntoTheCategories) {
    g_lines.clear();
    const QtMessageHandler previous = qInstallMessageHandler(&Record);
    vorn::log::ConnectPlatformLog();
    vorn::log::Warning(vorn::log::Area::Lock, "grab failed: \"Alt+Tab\" \xE2\x9C\x93");
    vorn::log::Warning(vorn::log::Area::Probes, "probe");
    vorn::log::Debug(vorn::log::Area::Card, "off by default");
    vorn::log::SetSink(nullptr);
    qInstallMessageHandler(previous);

    const QStringList expected = {
        QString::fromUtf8("warning vorn.lock grab failed: \"Alt+Tab\" \xE2\x9C\x93"),
        "warning vorn.probes probe"};
    EXPECT_EQ(g_lines, expected);
}
