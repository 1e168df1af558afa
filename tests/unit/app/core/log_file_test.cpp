#include "app/core/LogFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

using vorn::LogFile;

namespace {

Q_LOGGING_CATEGORY(lcQuiet, "vorn.test.quiet", QtWarningMsg)
Q_LOGGING_CATEGORY(lcLibrary, "qt.test.library", QtWarningMsg)

QByteArray ReadAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void Touch(const QString& path) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
}

struct LogFolder : ::testing::Test {
    QTemporaryDir dir;
    QDateTime now{QDate(2026, 12, 7), QTime(9, 30, 5, 250), Qt::OffsetFromUTC, 8 * 3600};
    LogFile log{dir.path() + "/logs", [this] { return now; }};
};

}  // namespace

TEST_F(LogFolder, OneLinePerRecordWithTimeCategoryAndLevel) {
    ASSERT_TRUE(log.Write("vorn.models", QtWarningMsg, "first\nsecond"));
    ASSERT_TRUE(log.Write("vorn.app", QtInfoMsg, QString::fromUtf8("読み取り")));
    EXPECT_EQ(ReadAll(dir.path() + "/logs/vornclient-2026-12-07.log"),
              "2026-12-07T09:30:05.250+08:00 vorn.models warning: first\\nsecond\n"
              "2026-12-07T09:30:05.250+08:00 vorn.app info: " +
                  QString::fromUtf8("読み取り").toUtf8() + "\n");
}

TEST_F(LogFolder, ANewDayStartsAFileAndOnlyTheLastFourteenDaysStay) {
    QDir().mkpath(dir.path() + "/logs");
    Touch(dir.path() + "/logs/vornclient-2026-11-25.log");  // 12-08 and the 13 days before: kept
    Touch(dir.path() + "/logs/vornclient-2026-11-24.log");
    Touch(dir.path() + "/logs/vornclient-2025-01-01.log");
    Touch(dir.path() + "/logs/notes.txt");
    ASSERT_TRUE(log.Write("vorn.app", QtInfoMsg, "today"));
    now = now.addDays(1);
    ASSERT_TRUE(log.Write("vorn.app", QtInfoMsg, "tomorrow"));
    EXPECT_TRUE(ReadAll(dir.path() + "/logs/vornclient-2026-12-07.log").endsWith("today\n"));
    EXPECT_TRUE(ReadAll(dir.path() + "/logs/vornclient-2026-12-08.log").endsWith("tomorrow\n"));
    EXPECT_TRUE(QFile::exists(dir.path() + "/logs/vornclient-2026-11-25.log"));
    EXPECT_FALSE(QFile::exists(dir.path() + "/logs/vornclient-2026-11-24.log"));
    EXPECT_FALSE(QFile::exists(dir.path() + "/logs/vornclient-2025-01-01.log"));
    EXPECT_TRUE(QFile::exists(dir.path() + "/logs/notes.txt"));
}

TEST_F(LogFolder, ALinkInPlaceOfTheDaysFileIsNotFollowed) {
    QDir().mkpath(dir.path() + "/logs");
    const QString target = dir.path() + "/elsewhere";
    Touch(target);
    ASSERT_TRUE(QFile::link(target, dir.path() + "/logs/vornclient-2026-12-07.log"));
    testing::internal::CaptureStderr();
    EXPECT_FALSE(log.Write("vorn.app", QtWarningMsg, "x"));
    EXPECT_FALSE(log.Write("vorn.app", QtWarningMsg, "y"));
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(ReadAll(target), "");
    // Said once, on stderr, since the day's log itself cannot say it.
    EXPECT_NE(said.find("vornclient-2026-12-07.log cannot be written"), std::string::npos) << said;
    EXPECT_EQ(said.find("cannot be written"), said.rfind("cannot be written"));
}

TEST_F(LogFolder, AFifoInPlaceOfTheDaysFileIsRefusedWithoutWaiting) {
    QDir().mkpath(dir.path() + "/logs");
    const QByteArray fifo = QFile::encodeName(log.FileFor(now.date()));
    ASSERT_EQ(::mkfifo(fifo.constData(), 0600), 0);
    // Should the open wait for a reader, one comes after a few seconds, so the test ends.
    std::atomic<bool> done{false};
    std::atomic<bool> waited{false};
    std::thread reader([&] {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (!done && std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (done)
            return;
        waited = true;
        const int fd = ::open(fifo.constData(), O_RDONLY | O_NONBLOCK);
        while (!done)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ::close(fd);
    });
    testing::internal::CaptureStderr();
    const bool written = log.Write("vorn.app", QtWarningMsg, "x");
    done = true;
    reader.join();
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_FALSE(waited);
    EXPECT_FALSE(written);
    EXPECT_NE(said.find("cannot be written"), std::string::npos) << said;
}

TEST_F(LogFolder, InstalledOwnInfoAndEveryWarningReachTheFileTheTerminalKeepsItsRules) {
    static QStringList terminal;
    qInstallMessageHandler(
        [](QtMsgType, const QMessageLogContext&, const QString& text) { terminal << text; });
    LogFile::Install(&log);
    qCInfo(lcQuiet) << "info";
    qCDebug(lcQuiet) << "debug";
    qCWarning(lcQuiet) << "warning";
    qCInfo(lcLibrary) << "library chatter";
    qCWarning(lcLibrary) << "library warning";
    const QByteArray text = ReadAll(log.FileFor(now.date()));
    EXPECT_TRUE(text.contains(" vorn.test.quiet info: info\n")) << text.constData();
    EXPECT_TRUE(text.contains(" vorn.test.quiet warning: warning\n"));
    EXPECT_FALSE(text.contains("debug"));
    EXPECT_FALSE(text.contains("library chatter"));
    EXPECT_TRUE(text.contains(" qt.test.library warning: library warning\n"));
    EXPECT_EQ(terminal, (QStringList{"warning", "library warning"}));
}

// The program owns its log file, and a worker left behind at the exit may log after it is gone:
// that record reaches the terminal, and no freed file.
TEST_F(LogFolder, RecordsAfterTheInstalledFileIsGoneReachOnlyTheTerminal) {
    static QStringList terminal;
    qInstallMessageHandler(
        [](QtMsgType, const QMessageLogContext&, const QString& text) { terminal << text; });
    auto gone = std::make_unique<LogFile>(dir.path() + "/gone", [this] { return now; });
    LogFile::Install(gone.get());
    gone.reset();
    std::thread([] { qCWarning(lcLibrary) << "late warning"; }).join();
    EXPECT_EQ(terminal, QStringList{"late warning"});
    EXPECT_FALSE(QFileInfo::exists(dir.path() + "/gone"));
}
