#include "services/settings/IniFile.h"

#include "common/Logging.h"
#include "platform/RegularFile.h"
#include "services/settings/IniText.h"

#include <QFile>
#include <QMutex>
#include <QSaveFile>
#include <QSet>

#include <climits>
#include <optional>
#include <vector>

namespace vorn {
namespace {

// Names are compared with Unicode case folding, as QString does, so a section spelt in any
// script matches however it is capitalised.
bool SameName(std::string_view a, std::string_view b) {
    return QString::fromUtf8(a.data(), static_cast<qsizetype>(a.size()))
               .compare(QString::fromUtf8(b.data(), static_cast<qsizetype>(b.size())),
                        Qt::CaseInsensitive) == 0;
}

std::string_view View(const QByteArray& data) {
    return std::string_view(data.constData(), static_cast<std::size_t>(data.size()));
}

QString FromUtf8(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// Says once per file and process what is wrong with it: the settings are read several times
// at start, and one line is enough.
void WarnOnce(const QString& path, platform::FileReadError error) {
    static QMutex mutex;
    static QSet<QString> warned;
    QMutexLocker locker(&mutex);
    if (warned.contains(path))
        return;
    warned.insert(path);
    qCWarning(lcSettings, "Settings file %s",
              platform::DescribeFileReadError(error, QFile::encodeName(path).toStdString(),
                                              IniFile::kMaxFileBytes)
                  .c_str());
}

// The whole file; nullopt when it does not exist or is not a readable regular file of at most
// kMaxFileBytes (then `missing` tells the two apart). A link is followed: an administrator may
// keep config.ini elsewhere; what it leads to must still be a regular file.
std::optional<QByteArray> ReadFile(const QString& path, bool* missing = nullptr) {
    platform::FileReadError why = platform::FileReadError::None;
    std::optional<std::string> bytes =
        platform::ReadRegularFile(QFile::encodeName(path).toStdString(), IniFile::kMaxFileBytes,
                                  platform::LinkPolicy::Follow, &why);
    if (missing)
        *missing = why == platform::FileReadError::Missing;
    if (!bytes) {
        if (why != platform::FileReadError::Missing)
            WarnOnce(path, why);
        return std::nullopt;
    }
    return QByteArray(bytes->data(), static_cast<qsizetype>(bytes->size()));
}

QString CutAt(const QString& text, int maxChars) {
    if (maxChars < 0)
        maxChars = 0;
    if (text.size() <= maxChars)
        return text;
    qsizetype cut = maxChars;
    if (cut > 0 && text[cut - 1].isHighSurrogate() && text[cut].isLowSurrogate())
        --cut;
    return text.left(cut);
}

std::optional<std::string> ReadValue(const QString& path,
                                     const QString& section,
                                     const QString& key) {
    const std::optional<QByteArray> data = ReadFile(path);
    if (!data)
        return std::nullopt;
    return ini::Value(View(*data), section.toStdString(), key.toStdString(), SameName);
}

bool HasLineBreak(const QString& text) {
    return text.contains(u'\n') || text.contains(u'\r');
}

QByteArray LineEnding(const QByteArray& data) {
    const qsizetype newline = data.indexOf('\n');
    return newline > 0 && data[newline - 1] == '\r' ? QByteArrayLiteral("\r\n")
                                                    : QByteArrayLiteral("\n");
}

QMutex& WriteMutex() {
    static QMutex mutex;
    return mutex;
}

// Sets `keyName` of `sectionName` in the file's text `data`: the value of its first line
// replaced (the key's stored spelling kept), or a line appended to the section, or a new
// section at the end; every other byte stays.
void PutSetting(QByteArray& data,
                const QString& sectionName,
                const QString& keyName,
                const QString& value) {
    const std::vector<ini::Line> lines = ini::ParseLines(View(data));
    const ini::Lookup found =
        ini::Find(lines, sectionName.toStdString(), keyName.toStdString(), SameName);
    const QByteArray eol = LineEnding(data);
    if (found.key >= 0) {
        const ini::Line& line = lines[found.key];
        // The stored spelling of the key stays; only the value changes.
        const QByteArray replacement = (FromUtf8(line.name) + u'=' + value).toUtf8();
        data.replace(static_cast<qsizetype>(line.begin),
                     static_cast<qsizetype>(line.contentEnd - line.begin), replacement);
    } else if (found.sectionFound) {
        const ini::Line& after = lines[found.lastInSection];
        QByteArray insertion = (keyName + u'=' + value).toUtf8() + eol;
        if (after.contentEnd == after.next)  // last line of a file without a final line break
            insertion.prepend(eol);
        data.insert(static_cast<qsizetype>(after.next), insertion);
    } else {
        if (!data.isEmpty() &&
            data.size() > (View(data).starts_with(ini::kByteOrderMark) ? 3 : 0)) {
            if (!data.endsWith('\n'))
                data.append(eol);
            if (!lines.empty() && lines.back().contentEnd > lines.back().begin)
                data.append(eol);
        }
        data.append((u'[' + sectionName + u']').toUtf8() + eol);
        data.append((keyName + u'=' + value).toUtf8() + eol);
    }
}

}  // namespace

int IniFile::ReadInt(const QString& path,
                     const QString& section,
                     const QString& key,
                     int defaultValue) {
    const std::optional<std::string> stored = ReadValue(path, section, key);
    if (!stored)
        return defaultValue;
    return ini::ProfileInt(*stored).value_or(defaultValue);
}

QString IniFile::ReadString(const QString& path,
                            const QString& section,
                            const QString& key,
                            const QString& defaultValue,
                            int maxChars) {
    const std::optional<std::string> stored = ReadValue(path, section, key);
    if (!stored)
        return defaultValue;
    // Cut after decoding, so an invalid byte counts as QString shows it.
    return CutAt(FromUtf8(*stored), maxChars);
}

bool IniFile::WriteString(const QString& path,
                          const QString& section,
                          const QString& key,
                          const QString& value) {
    const QString sectionName = FromUtf8(ini::Trimmed(section.toStdString()));
    const QString keyName = FromUtf8(ini::Trimmed(key.toStdString()));
    if (sectionName.isEmpty() || keyName.isEmpty() || HasLineBreak(section) || HasLineBreak(key) ||
        HasLineBreak(value) || keyName.contains(u'=') || keyName.startsWith(u'[') ||
        keyName.startsWith(u';')) {
        qCWarning(lcSettings) << "Refused to write a setting that cannot be stored as one line:"
                              << section << key;
        return false;
    }

    QMutexLocker locker(&WriteMutex());
    QByteArray data;
    bool missing = false;
    if (std::optional<QByteArray> existing = ReadFile(path, &missing)) {
        data = std::move(*existing);
    } else if (!missing) {
        qCWarning(lcSettings) << "Cannot read" << path << "- the setting" << key
                              << "was not written.";
        return false;
    }
    const QByteArray before = data;

    PutSetting(data, sectionName, keyName, value);

    // Nothing to change (the page's Init repeats the port it gave before): the file stays as
    // it is, with no rewrite on the caller's thread.
    if (data == before && !missing)
        return true;

    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly) || out.write(data) != data.size() || !out.commit()) {
        qCWarning(lcSettings) << "Cannot write" << path << ":" << out.errorString();
        return false;
    }
    return true;
}

bool IniFile::WriteInt(const QString& path, const QString& section, const QString& key, int value) {
    return WriteString(path, section, key, QString::number(value));
}

int LeadingIntSaturated(const QString& text) {
    qsizetype i = 0;
    while (i < text.size() && text[i].isSpace())
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    // Accumulated as a negative number so INT_MIN itself is representable.
    qint64 total = 0;
    bool overflow = false;
    for (; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c.category() != QChar::Number_DecimalDigit)
            break;
        if (!overflow) {
            total = total * 10 - c.digitValue();
            if (total < qint64(INT_MIN) - 1)
                overflow = true;
        }
    }
    if (negative)
        return overflow || total < INT_MIN ? INT_MIN : static_cast<int>(total);
    return overflow || -total > INT_MAX ? INT_MAX : static_cast<int>(-total);
}

}  // namespace vorn
