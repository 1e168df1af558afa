#include "platform/linux/UrlSchemeRegistration_linux.h"

#include "common/Logging.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QStandardPaths>
#include <QStringList>

namespace vorn::platform {
namespace {

// Exec arguments are quoted only where the desktop entry format requires it (a reserved
// character): xdg-open's generic mode, used under plain window managers and by browsers, takes
// the first word of Exec as the program, quotes and all, and cannot start a quoted path. Inside
// double quotes the characters " ` $ \ take a backslash; a literal % is always written %%.
QString QuoteExecArgument(const QString& argument) {
    static const QString kReserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    bool needsQuotes = argument.isEmpty();
    for (const QChar c : argument)
        needsQuotes = needsQuotes || kReserved.contains(c);
    QString quoted;
    for (const QChar c : argument) {
        if (needsQuotes && (c == u'"' || c == u'`' || c == u'$' || c == u'\\'))
            quoted += u'\\';
        if (c == u'%')
            quoted += u'%';
        quoted += c;
    }
    return needsQuotes ? u'"' + quoted + u'"' : quoted;
}

bool WriteFile(const QString& path, const QString& text) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text.toUtf8()) < 0 || !file.commit()) {
        qCWarning(lcApp, "Cannot write %s: %s", qPrintable(path), qPrintable(file.errorString()));
        return false;
    }
    return true;
}

}  // namespace

QString DesktopEntryText(const QString& scheme, const QString& executablePath) {
    // Escapes of the desktop entry string type apply to the whole value as well.
    QString exec = QuoteExecArgument(executablePath) + QStringLiteral(" %u");
    exec.replace(u'\\', QStringLiteral("\\\\"));
    return QStringLiteral(
               "[Desktop Entry]\n"
               "Type=Application\n"
               "Name=%1 protocol\n"
               "Exec=%2\n"
               "NoDisplay=true\n"
               "Terminal=false\n"
               "MimeType=x-scheme-handler/%1;\n")
        .arg(scheme, exec);
}

QString MimeAppsWithDefault(const QString& existing, const QString& mimeType, const QString& entry) {
    const QString group = QStringLiteral("[Default Applications]");
    const QString line = mimeType + u'=' + entry;
    QStringList lines = existing.split(u'\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();

    int groupStart = -1;
    for (int i = 0; i < lines.size(); ++i) {
        if (lines[i].trimmed() == group) {
            groupStart = i;
            break;
        }
    }
    if (groupStart < 0) {
        if (!lines.isEmpty() && !lines.last().trimmed().isEmpty())
            lines << QString();
        lines << group << line;
        return lines.join(u'\n') + u'\n';
    }
    int insertAt = groupStart + 1;
    for (int i = groupStart + 1; i < lines.size(); ++i) {
        const QString trimmed = lines[i].trimmed();
        if (trimmed.startsWith(u'['))
            break;
        if (!trimmed.isEmpty())
            insertAt = i + 1;
        if (trimmed.section(u'=', 0, 0).trimmed() == mimeType) {
            lines[i] = line;
            return lines.join(u'\n') + u'\n';
        }
    }
    lines.insert(insertAt, line);
    return lines.join(u'\n') + u'\n';
}

bool SetDefaultUrlSchemeHandler(const std::string& schemeText, const std::string& entryText) {
    const QString scheme = QString::fromStdString(schemeText);
    const QString desktopEntry = QString::fromStdString(entryText);
    const QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    if (config.isEmpty()) {
        qCWarning(lcApp, "No user configuration folder; the %s scheme is not registered.",
                  qPrintable(scheme));
        return false;
    }
    const QString mimeApps = QDir(config).filePath(QStringLiteral("mimeapps.list"));
    QString existing;
    QFile current(mimeApps);
    if (current.open(QIODevice::ReadOnly))
        existing = QString::fromUtf8(current.readAll());
    current.close();
    return WriteFile(
        mimeApps,
        MimeAppsWithDefault(existing, QStringLiteral("x-scheme-handler/") + scheme, desktopEntry));
}

bool RegisterUrlScheme(const std::string& schemeText, const std::string& executableText) {
    const QString scheme = QString::fromStdString(schemeText);
    const QString executablePath = QString::fromStdString(executableText);
    const QString applications =
        QStandardPaths::writableLocation(QStandardPaths::ApplicationsLocation);
    if (applications.isEmpty()) {
        qCWarning(lcApp, "No user applications folder; the %s scheme is not registered.",
                  qPrintable(scheme));
        return false;
    }
    const QString entryName = scheme + QStringLiteral(".desktop");
    const bool written =
        WriteFile(QDir(applications).filePath(entryName), DesktopEntryText(scheme, executablePath));
    return SetDefaultUrlSchemeHandler(schemeText, entryName.toStdString()) && written;
}

QString FindSystemDesktopEntry(const QString& entryName) {
    const QString user = QStandardPaths::writableLocation(QStandardPaths::ApplicationsLocation);
    for (const QString& path :
         QStandardPaths::locateAll(QStandardPaths::ApplicationsLocation, entryName)) {
        if (QFileInfo(path).absolutePath() != QDir(user).absolutePath())
            return path;
    }
    return {};
}

bool HasSystemHandlerEntry(const std::string& entryName) {
    return !FindSystemDesktopEntry(QString::fromStdString(entryName)).isEmpty();
}

}  // namespace vorn::platform
