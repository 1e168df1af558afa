#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The profile (INI) file rules of IniFile on the file's bytes, in standard C++ only so the same
// rules build for Windows, where they are compared with the system's own profile functions.
// Text in and out is UTF-8; a leading UTF-8 byte-order mark is skipped.
namespace vorn::ini {

// One line of the file as byte offsets into the file's content, with what it declares.
struct Line {
    enum Kind { Other, Section, Key };
    Kind kind = Other;
    std::string name;   // section or key name, trimmed
    std::string value;  // key value, trimmed, quotes still on
    std::size_t begin = 0;
    std::size_t contentEnd = 0;  // before "\n" or "\r\n"
    std::size_t next = 0;        // start of the following line
};

// Whether two trimmed names are the same name. The default folds ASCII letters only; the Qt
// build passes a comparison that folds every script.
using SameNameFn = bool (*)(std::string_view, std::string_view);
bool SameNameAscii(std::string_view a, std::string_view b);

struct Lookup {
    std::ptrdiff_t section = -1;  // index of the header line; -1 with found == keys before any
    bool sectionFound = false;
    std::ptrdiff_t key = -1;            // index of the key line, -1 when missing
    std::ptrdiff_t lastInSection = -1;  // header or last key line of the section
};

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

// White space as QChar::isSpace sees it, plus the end-of-file mark Ctrl+Z, trimmed from both
// ends of UTF-8 text.
std::string Trimmed(std::string_view text);

std::vector<Line> ParseLines(std::string_view data);

// The first section named `section` ("" = the keys before any header) and in it the first key
// named `key`; names are trimmed first.
Lookup Find(const std::vector<Line>& lines,
            std::string_view section,
            std::string_view key,
            SameNameFn sameName = SameNameAscii);

// The stored value of the key with one pair of matching surrounding quotes (' or ") removed;
// nullopt when the section or key is missing.
std::optional<std::string> Value(std::string_view data,
                                 std::string_view section,
                                 std::string_view key,
                                 SameNameFn sameName = SameNameAscii);

// At most `maxUnits` UTF-16 code units of UTF-8 text, never half of a surrogate pair. A byte
// that is not valid UTF-8 counts as one unit (it reads as U+FFFD).
std::string CutToUtf16Units(std::string_view text, int maxUnits);

// GetPrivateProfileIntW on a stored value: nullopt (the caller's default) when the value is
// empty; otherwise leading control characters and blanks, one sign and decimal digits of the
// first 29 characters, modulo 2^32 — a value without digits gives 0.
std::optional<int> ProfileInt(std::string_view value);

// The lookups of the profile functions on a file's content. A missing key gives the default
// unchanged (not cut).
int ReadInt(std::string_view data,
            std::string_view section,
            std::string_view key,
            int defaultValue,
            SameNameFn sameName = SameNameAscii);
std::string ReadString(std::string_view data,
                       std::string_view section,
                       std::string_view key,
                       std::string_view defaultValue,
                       int maxUnits = 259,
                       SameNameFn sameName = SameNameAscii);

}  // namespace vorn::ini
