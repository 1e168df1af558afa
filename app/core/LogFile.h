#pragma once

#include <QDate>
#include <QDateTime>
#include <QFile>
#include <QString>

#include <functional>
#include <mutex>

namespace vorn {

// The daily log a support person asks for: "<folder>/vornclient-YYYY-MM-DD.log", UTF-8, one line
// per record ("<local time with offset> <category> <level>: <text>"), files older than the last
// 14 days removed when a day's file is opened. Write is thread-safe. A day's file stops
// growing at kMaxFileBytes (one line says so), so a flood of warnings cannot fill the disk.
class LogFile {
public:
    static constexpr int kDaysKept = 14;
    static constexpr qint64 kMaxFileBytes = 32 * 1024 * 1024;

    using Clock = std::function<QDateTime()>;
    explicit LogFile(QString folder, Clock now = &QDateTime::currentDateTime);
    // When installed, records from then on reach the terminal only; a record being written
    // now is waited for.
    ~LogFile();
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;

    // Appends one record; false when the day's file cannot be written (a link, FIFO or other
    // non-file planted in its place is refused, never followed or waited on), which is then said
    // once that day on stderr.
    bool Write(const char* category, QtMsgType type, const QString& text);

    QString FileFor(QDate day) const;

    // Sends the info records of the client's own categories (vorn.*) and every category's
    // warnings and errors to `file` as well, whatever the logging rules say, until `file` is
    // destroyed; what reaches the terminal stays what the rules say. Debug records never reach
    // the file. Call once, on the main thread, before other threads log.
    static void Install(LogFile* file);

private:
    bool OpenFor(QDate day);
    void RemoveOldFiles(QDate today) const;
    void SayCannotWrite(const QString& path, const QString& why);

    const QString m_folder;
    const Clock m_now;
    std::mutex m_mutex;
    QFile m_file;
    QDate m_day;
    bool m_full = false;
    QDate m_told;  // the day whose file was said on stderr to be unwritable
};

}  // namespace vorn
