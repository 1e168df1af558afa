#pragma once

#include <QString>

#include <cstddef>

namespace vorn {

// Profile (INI) files with the semantics of the Win32 profile functions, on a UTF-8 file (a UTF-8
// byte-order mark is tolerated and kept). Section and key names are compared without regard to
// case after trimming; the first matching section and, inside it, the first matching key win.
// Lines whose first non-blank character is ';' are comments; lines without '=' are not keys;
// keys before the first section header belong to the section named "". Every call opens and
// closes the file itself, so any thread may call; writers in different processes are not
// serialised (the last rename wins, neither leaves a half-written file).
class IniFile {
public:
    // Only a regular file (or a link to one) of at most this size is read: a settings file has
    // a handful of lines, and a FIFO or device under its name must not stall or flood the
    // client. Anything else reads as a missing file, with one warning per file and process.
    static constexpr std::size_t kMaxFileBytes = 1024 * 1024;

    // GetPrivateProfileIntW: `defaultValue` when the file, section or key is missing or the
    // value is empty; otherwise the value's leading blanks, sign and decimal digits (first 29
    // characters) read modulo 2^32, so a present value without digits gives 0.
    static int ReadInt(const QString& path,
                       const QString& section,
                       const QString& key,
                       int defaultValue);

    // GetPrivateProfileStringW: the value trimmed, one pair of matching surrounding quotes
    // (' or ") removed, then cut to `maxChars` UTF-16 units (never splitting a surrogate
    // pair). `defaultValue` unchanged when the file, section or key is missing.
    static QString ReadString(const QString& path,
                              const QString& section,
                              const QString& key,
                              const QString& defaultValue,
                              int maxChars = 259);

    // WritePrivateProfileStringW: replaces the first matching key's line or adds the key at
    // the end of the section (creating file and section when missing); every other byte of
    // the file stays. Written to a temporary file and renamed over the original, unless the
    // file already holds exactly that (then nothing is written and true returned). Returns
    // false, leaving the file as it was, when it cannot be read or written, or when a name or
    // the value could not be stored as one line (empty names, line breaks anywhere, '=' or a
    // leading '[' or ';' in the key). Writers inside this process are serialised.
    static bool WriteString(const QString& path,
                            const QString& section,
                            const QString& key,
                            const QString& value);

    // WriteString of the value formatted with "%d".
    static bool WriteInt(const QString& path,
                         const QString& section,
                         const QString& key,
                         int value);
};

// The integer a text begins with, read as the Windows C runtime reads wide text (the port the
// page passes to Init has always been read so): leading white space (QChar::isSpace), an
// optional sign, then decimal digits of any script (full-width ones too) up to the first other
// character. No digits gives 0; a value beyond the int range gives INT_MAX or INT_MIN. The
// standard parsers refuse trailing text and other scripts' digits, so they cannot stand in.
int LeadingIntSaturated(const QString& text);

}  // namespace vorn
