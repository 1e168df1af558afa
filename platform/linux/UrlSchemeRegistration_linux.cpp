#include "platform/UrlSchemeRegistration.h"

#include "platform/Logging.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QStandardPaths>
#include <QStringList>

namespace vorn::platform {
namespace {

// Exec values are quoted as the desktop entry format requires: inside double quotes the
// characters " ` $ \ take a backslash, and a literal % is written %%.
QString QuoteExecArgument(const QString& argument) {
    QString quoted;
    for (const QChar c : argument) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
            quoted += u'\\';
        if (c == u'%')
            quoted += u'%';
        quoted += c;
    }
    return u'"' + quoted + u'"';
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

bool RegisterUrlScheme(const QString& scheme, const QString& executablePath) {
    const QString applications =
        QStandardPaths::writableLocation(QStandardPaths::ApplicationsLocation);
    const QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    if (applications.isEmpty() || config.isEmpty()) {
        qCWarning(lcApp, "No user applications or configuration folder; the %s scheme is not registered.",
                  qPrintable(scheme));
        return false;
    }
    const QString entryName = scheme + QStringLiteral(".desktop");
    bool ok = WriteFile(QDir(applications).filePath(entryName),
                        DesktopEntryText(scheme, executablePath));

    const QString mimeApps = QDir(config).filePath(QStringLiteral("mimeapps.list"));
    QString existing;
    QFile current(mimeApps);
    if (current.open(QIODevice::ReadOnly))
        existing = QString::fromUtf8(current.readAll());
    current.close();
    ok = WriteFile(mimeApps, MimeAppsWithDefault(existing, QStringLiteral("x-scheme-handler/") + scheme,
                                                 entryName)) && ok;
    return ok;
}

}  // namespace vorn::platform
