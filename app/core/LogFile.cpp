#include "app/core/LogFile.h"

#include "platform/RegularFile.h"
#include "platform/UniqueFd.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QLoggingCategory>
#include <QRegularExpression>

#include <cstdio>

namespace vorn {
namespace {

const char* LevelName(QtMsgType type) {
    switch (type) {
        case QtDebugMsg:
            return "debug";
        case QtInfoMsg:
            return "info";
        case QtWarningMsg:
            return "warning";
        case QtCriticalMsg:
            return "critical";
        case QtFatalMsg:
            return "fatal";
    }
    return "?";
}

// What the logging rules let through to the terminal, per category name, before the file's
// filter turned info and warnings on for every category.
struct TerminalLevels {
    bool debug = true;
    bool info = true;
    bool warning = true;
    bool critical = true;
};

std::mutex g_levelsMutex;
QHash<QByteArray, TerminalLevels> g_terminalLevels;
QLoggingCategory::CategoryFilter g_previousFilter = nullptr;
QtMessageHandler g_previousHandler = nullptr;
// Guards g_file: a worker left behind at the exit may log while the file goes.
std::mutex g_fileMutex;
LogFile* g_file = nullptr;

void FileFilter(QLoggingCategory* category) {
    if (g_previousFilter)
        g_previousFilter(category);
    {
        std::lock_guard lock(g_levelsMutex);
        g_terminalLevels.insert(category->categoryName(),
                                {category->isDebugEnabled(), category->isInfoEnabled(),
                                 category->isWarningEnabled(), category->isCriticalEnabled()});
    }
    // The client's own categories give their info records; the libraries' (Qt's painting, the
    // engine's) would drown them, so theirs come from warnings up.
    if (qstrncmp(category->categoryName(), "vorn.", 5) == 0)
        category->setEnabled(QtInfoMsg, true);
    category->setEnabled(QtWarningMsg, true);
    category->setEnabled(QtCriticalMsg, true);
}

bool ShownOnTerminal(const char* category, QtMsgType type) {
    if (!category)
        return true;
    std::lock_guard lock(g_levelsMutex);
    const auto it = g_terminalLevels.constFind(QByteArray(category));
    if (it == g_terminalLevels.constEnd())
        return true;
    switch (type) {
        case QtDebugMsg:
            return it->debug;
        case QtInfoMsg:
            return it->info;
        case QtWarningMsg:
            return it->warning;
        case QtCriticalMsg:
            return it->critical;
        case QtFatalMsg:
            return true;
    }
    return true;
}

void Handler(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    // A record logged while the file itself is being written (Qt warning about the file)
    // goes to the terminal only, instead of waiting for the file's own lock.
    static thread_local bool writing = false;
    const bool own = context.category && qstrncmp(context.category, "vorn.", 5) == 0;
    if ((type == QtWarningMsg || type == QtCriticalMsg || type == QtFatalMsg ||
         (type == QtInfoMsg && own)) &&
        !writing) {
        writing = true;
        {
            std::lock_guard lock(g_fileMutex);
            if (g_file)
                g_file->Write(context.category, type, text);
        }
        writing = false;
    }
    if (g_previousHandler && ShownOnTerminal(context.category, type))
        g_previousHandler(type, context, text);
}

}  // namespace

LogFile::LogFile(QString folder, Clock now) : m_folder(std::move(folder)), m_now(std::move(now)) {}

LogFile::~LogFile() {
    std::lock_guard lock(g_fileMutex);
    if (g_file == this)
        g_file = nullptr;
}

QString LogFile::FileFor(QDate day) const {
    return QDir(m_folder).filePath(
        QStringLiteral("vornclient-%1.log").arg(day.toString(Qt::ISODate)));
}

bool LogFile::OpenFor(QDate day) {
    m_file.close();
    const bool newDay = day != m_day;
    m_day = day;
    m_full = false;
    const QString path = FileFor(day);
    if (!QDir().mkpath(m_folder)) {
        SayCannotWrite(path, QStringLiteral("its folder cannot be created"));
        return false;
    }
    if (newDay)
        RemoveOldFiles(day);
    // A link, FIFO or device planted under the day's name is refused at once: never written
    // through, never waited on in the open.
    platform::FileReadError why = platform::FileReadError::None;
    platform::UniqueFd fd =
        platform::OpenRegularFileToAppend(QFile::encodeName(path).toStdString(), &why);
    if (!fd.valid()) {
        SayCannotWrite(path, why == platform::FileReadError::Link
                                 ? QStringLiteral("a link stands in its place")
                             : why == platform::FileReadError::NotRegular
                                 ? QStringLiteral("something other than a file stands in its place")
                                 : QStringLiteral("it cannot be opened for writing"));
        return false;
    }
    const int handle = fd.get();
    if (!m_file.open(handle, QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text,
                     QFileDevice::AutoCloseHandle)) {
        SayCannotWrite(path, m_file.errorString());
        return false;
    }
    *fd.out() = -1;  // the file closes it from here on
    m_told = QDate();
    return true;
}

void LogFile::SayCannotWrite(const QString& path, const QString& why) {
    // Once a day: the log is where a support person looks first, so its absence is said where
    // it can still be seen. Not through Qt's logging, whose handler is this file.
    if (m_told == m_day)
        return;
    m_told = m_day;
    const QByteArray line = QStringLiteral(
                                "vornclient: today's log %1 cannot be written (%2); "
                                "until it can, this day's records are not kept.\n")
                                .arg(path, why)
                                .toLocal8Bit();
    std::fwrite(line.constData(), 1, static_cast<std::size_t>(line.size()), stderr);
    std::fflush(stderr);
}

void LogFile::RemoveOldFiles(QDate today) const {
    static const QRegularExpression name(
        QStringLiteral("^vornclient-(\\d{4}-\\d{2}-\\d{2})\\.log$"));
    const QDate oldestKept = today.addDays(-(kDaysKept - 1));
    const QFileInfoList entries = QDir(m_folder).entryInfoList(QDir::Files | QDir::System);
    for (const QFileInfo& entry : entries) {
        const QRegularExpressionMatch match = name.match(entry.fileName());
        if (!match.hasMatch())
            continue;
        const QDate day = QDate::fromString(match.captured(1), Qt::ISODate);
        if (day.isValid() && day < oldestKept)
            QFile::remove(entry.filePath());
    }
}

bool LogFile::Write(const char* category, QtMsgType type, const QString& text) {
    const QDateTime now = m_now();
    QString oneLine = text;
    oneLine.replace(u'\r', QStringLiteral("\\r")).replace(u'\n', QStringLiteral("\\n"));
    const QByteArray line =
        QStringLiteral("%1 %2 %3: %4\n")
            .arg(now.toOffsetFromUtc(now.offsetFromUtc()).toString(Qt::ISODateWithMs),
                 QString::fromUtf8(category ? category : "default"),
                 QString::fromLatin1(LevelName(type)), oneLine)
            .toUtf8();
    std::lock_guard lock(m_mutex);
    if (now.date() != m_day || !m_file.isOpen()) {
        if (!OpenFor(now.date()))
            return false;
    }
    if (m_full)
        return false;
    if (m_file.size() + line.size() > kMaxFileBytes) {
        m_full = true;
        m_file.write("-- the day's log is full; further records are dropped until tomorrow\n");
        m_file.flush();
        return false;
    }
    // Flushed per record: the last lines before a crash are the ones a support person needs.
    const bool ok = m_file.write(line) == line.size();
    m_file.flush();
    return ok;
}

void LogFile::Install(LogFile* file) {
    {
        std::lock_guard lock(g_fileMutex);
        g_file = file;
    }
    g_previousHandler = qInstallMessageHandler(&Handler);
    g_previousFilter = QLoggingCategory::installFilter(&FileFilter);
}

}  // namespace vorn
