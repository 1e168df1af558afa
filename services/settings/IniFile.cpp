#include "services/settings/IniFile.h"

#include "common/Logging.h"
#include "platform/RegularFile.h"

#include <QFile>
#include <QMutex>
#include <QSaveFile>
#include <QSet>

#include <climits>
#include <optional>
#include <vector>

namespace vorn {
namespace {

constexpr char kBom[] = "\xEF\xBB\xBF";

// The profile functions trim white space and the end-of-file mark Ctrl+Z around names and values.
bool IsProfileSpace(QChar c) {
    return c.isSpace() || c.unicode() == 0x1A;
}

QString ProfileTrimmed(const QString& text) {
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && IsProfileSpace(text[begin]))
        ++begin;
    while (end > begin && IsProfileSpace(text[end - 1]))
        --end;
    return text.mid(begin, end - begin);
}

bool SameName(const QString& a, const QString& b) {
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

// One line of the file as byte offsets into the file's content, with what it declares.
struct IniLine {
    enum Kind { Other, Section, Key };
    Kind kind = Other;
    QString name;   // section or key name, trimmed
    QString value;  // key value, trimmed
    qsizetype begin = 0;
    qsizetype contentEnd = 0;  // before "\n" or "\r\n"
    qsizetype next = 0;        // start of the following line
};

std::vector<IniLine> ParseLines(const QByteArray& data) {
    std::vector<IniLine> lines;
    qsizetype pos = data.startsWith(kBom) ? 3 : 0;
    while (pos < data.size()) {
        IniLine line;
        line.begin = pos;
        qsizetype newline = data.indexOf('\n', pos);
        line.next = newline < 0 ? data.size() : newline + 1;
        line.contentEnd = newline < 0 ? data.size() : newline;
        if (line.contentEnd > line.begin && data[line.contentEnd - 1] == '\r')
            --line.contentEnd;
        pos = line.next;

        const QString text = ProfileTrimmed(
            QString::fromUtf8(data.constData() + line.begin, line.contentEnd - line.begin));
        if (text.startsWith(u'[')) {
            // The last ']' closes the name, so a name may itself contain ']'. A header that is
            // never closed declares nothing.
            const qsizetype close = text.lastIndexOf(u']');
            if (close > 0) {
                line.kind = IniLine::Section;
                line.name = ProfileTrimmed(text.mid(1, close - 1));
            }
        } else if (!text.startsWith(u';')) {
            const qsizetype eq = text.indexOf(u'=');
            if (eq > 0) {
                line.kind = IniLine::Key;
                line.name = ProfileTrimmed(text.left(eq));
                line.value = ProfileTrimmed(text.mid(eq + 1));
            }
        }
        lines.push_back(std::move(line));
    }
    return lines;
}

struct Lookup {
    qsizetype section = -1;  // index of the header line; -1 with found == the keys before any
    bool sectionFound = false;
    qsizetype key = -1;            // index of the key line, -1 when missing
    qsizetype lastInSection = -1;  // header or last key line of the section
};

Lookup Find(const std::vector<IniLine>& lines, const QString& section, const QString& key) {
    Lookup result;
    const QString wantedSection = ProfileTrimmed(section);
    const QString wantedKey = ProfileTrimmed(key);
    qsizetype i = 0;
    if (wantedSection.isEmpty()) {
        result.sectionFound = true;
    } else {
        for (; i < static_cast<qsizetype>(lines.size()); ++i) {
            if (lines[i].kind == IniLine::Section && SameName(lines[i].name, wantedSection)) {
                result.section = i;
                result.sectionFound = true;
                result.lastInSection = i;
                ++i;
                break;
            }
        }
        if (!result.sectionFound)
            return result;
    }
    // Only the first section of that name is searched, as the profile functions do.
    for (; i < static_cast<qsizetype>(lines.size()) && lines[i].kind != IniLine::Section; ++i) {
        if (lines[i].kind != IniLine::Key)
            continue;
        result.lastInSection = i;
        if (result.key < 0 && SameName(lines[i].name, wantedKey))
            result.key = i;
    }
    return result;
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
    std::optional<std::string> bytes = platform::ReadRegularFile(
        QFile::encodeName(path).toStdString(), IniFile::kMaxFileBytes, platform::LinkPolicy::Follow,
        &why);
    if (missing)
        *missing = why == platform::FileReadError::Missing;
    if (!bytes) {
        if (why != platform::FileReadError::Missing)
            WarnOnce(path, why);
        return std::nullopt;
    }
    return QByteArray(bytes->data(), static_cast<qsizetype>(bytes->size()));
}

// The profile functions drop one pair of matching quotes around a value.
QString StripQuotes(const QString& value) {
    if (value.size() >= 2 && (value.front() == u'"' || value.front() == u'\'') &&
        value.back() == value.front())
        return value.mid(1, value.size() - 2);
    return value;
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

std::optional<QString> ReadValue(const QString& path, const QString& section, const QString& key) {
    const std::optional<QByteArray> data = ReadFile(path);
    if (!data)
        return std::nullopt;
    const std::vector<IniLine> lines = ParseLines(*data);
    const Lookup found = Find(lines, section, key);
    if (found.key < 0)
        return std::nullopt;
    return StripQuotes(lines[found.key].value);
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

}  // namespace

int IniFile::ReadInt(const QString& path,
                     const QString& section,
                     const QString& key,
                     int defaultValue) {
    const std::optional<QString> stored = ReadValue(path, section, key);
    if (!stored)
        return defaultValue;
    // The profile function reads into a 30-character buffer and gives the default for an
    // empty value; the number itself is parsed by RtlUnicodeStringToInteger with base 10,
    // which skips control characters and blanks, takes one sign and wraps on overflow.
    const QString value = CutAt(*stored, 29);
    if (value.isEmpty())
        return defaultValue;
    qsizetype i = 0;
    while (i < value.size() && value[i].unicode() <= u' ')
        ++i;
    bool negative = false;
    if (i < value.size() && (value[i] == u'+' || value[i] == u'-')) {
        negative = value[i] == u'-';
        ++i;
    }
    quint32 total = 0;
    for (; i < value.size() && value[i] >= u'0' && value[i] <= u'9'; ++i)
        total = total * 10u + static_cast<quint32>(value[i].unicode() - u'0');
    if (negative)
        total = 0u - total;
    return static_cast<int>(total);
}

QString IniFile::ReadString(const QString& path,
                            const QString& section,
                            const QString& key,
                            const QString& defaultValue,
                            int maxChars) {
    const std::optional<QString> stored = ReadValue(path, section, key);
    if (!stored)
        return defaultValue;
    return CutAt(*stored, maxChars);
}

bool IniFile::WriteString(const QString& path,
                          const QString& section,
                          const QString& key,
                          const QString& value) {
    const QString sectionName = ProfileTrimmed(section);
    const QString keyName = ProfileTrimmed(key);
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

    const std::vector<IniLine> lines = ParseLines(data);
    const Lookup found = Find(lines, sectionName, keyName);
    const QByteArray eol = LineEnding(data);
    if (found.key >= 0) {
        const IniLine& line = lines[found.key];
        // The stored spelling of the key stays; only the value changes.
        const QByteArray replacement = (line.name + u'=' + value).toUtf8();
        data.replace(line.begin, line.contentEnd - line.begin, replacement);
    } else if (found.sectionFound) {
        const IniLine& after = lines[found.lastInSection];
        QByteArray insertion = (keyName + u'=' + value).toUtf8() + eol;
        if (after.contentEnd == after.next)  // last line of a file without a final line break
            insertion.prepend(eol);
        data.insert(after.next, insertion);
    } else {
        if (!data.isEmpty() && data.size() > (data.startsWith(kBom) ? 3 : 0)) {
            if (!data.endsWith('\n'))
                data.append(eol);
            if (!lines.empty() && lines.back().contentEnd > lines.back().begin)
                data.append(eol);
        }
        data.append((u'[' + sectionName + u']').toUtf8() + eol);
        data.append((keyName + u'=' + value).toUtf8() + eol);
    }

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

int WToI(const QString& text) {
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
