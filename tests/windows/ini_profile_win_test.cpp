// Our profile (INI) file rules against the system's own: every case is written to a real file
// and read once through GetPrivateProfileStringW / GetPrivateProfileIntW and once through
// vorn::ini on the same bytes. Where the two differ on purpose, the case names the system's
// answer, so a difference that appears or goes away is seen.
#include "platform/win32/Text_win.h"
#include "services/settings/IniText.h"

#include "WinTestSupport.h"

#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

using vorn::platform::win32::Utf8ToWide;
using vorn::platform::win32::WideToUtf8;

namespace {

struct Case {
    const char* label;
    std::optional<std::string> file;  // nullopt: no file at all
    std::string section;
    std::string key;
    bool integer = false;
    std::string defaultText = "<default>";
    int defaultInt = -99;
    int maxUnits = 259;
    // Where our reader answers differently from the system on purpose: the system's answer,
    // or any other answer when it depends on the machine (its ANSI code page).
    bool differs = false;
    std::optional<std::string> systemAnswer = std::nullopt;
};

Case Str(const char* label,
         std::optional<std::string> file,
         std::string section,
         std::string key,
         int maxUnits = 259) {
    Case c{label, std::move(file), std::move(section), std::move(key)};
    c.maxUnits = maxUnits;
    return c;
}

Case Int(const char* label, std::optional<std::string> file, std::string section, std::string key) {
    Case c{label, std::move(file), std::move(section), std::move(key)};
    c.integer = true;
    return c;
}

Case Differs(Case c, std::optional<std::string> systemAnswer) {
    c.differs = true;
    c.systemAnswer = std::move(systemAnswer);
    return c;
}

Case WithDefault(Case c, std::string defaultText) {
    c.defaultText = std::move(defaultText);
    return c;
}

const std::string kBom = "\xEF\xBB\xBF";
const std::string kNames =
    "Url=before-any-section\n[other]\nurl=wrong-section\n"
    "[ CONFIG ]\n  uRl  = first \nURL=second\n[config]\nComPort=7\n";
const std::string kComments =
    "; comment\n[Config]\n;Url=commented\n   ; indented comment\n\nnot a key\n"
    "[unclosed\nUrl=real\n";
const std::string kQuotes =
    "[Config]\na=\t spaced value \t\nb=\"quoted\"\nc=' single '\nd=\"mismatched'\ne=\"\n"
    "f=\"\"inner\"\"\ng=\nh=\"\"\n";
const std::string kLong =
    "[Config]\nUrl=http://x/" + std::string(300, 'a') + "\nPair=ab\xF0\x9F\x98\x80z\n";
const std::string kPair = kBom + "[Config]\nPair=ab\xF0\x9F\x98\x80z\n";
const std::string kInts =
    "[Config]\nplain=42\nneg=-7\nplus=+5\ntrail=12abc\nword=abc\nhex=0x10\nempty=\n"
    "quoted='13'\nwrap=4294967297\nbig=2147483648\nsign=-\n"
    "long=000000000000000000000000001234567\nspaced=  -8 \ntab=\t9\n";
const std::string kUnicode = kBom +
                             "[Pr\xC3\xBC"
                             "fung]\n\xC3\x84rger=1\nName=\xE8\x80\x83\xE8\xAF\x95\n"
                             "nbsp=\xC2\xA0x\xC2\xA0\nideo=\xE3\x80\x80y\xE3\x80\x80\n";
const std::string kOdd =
    "[Config]\r\nCrlf=value\r\nInner Space = x y \r\nEof=z\x1A\r\n[a]b]\r\nk=in a]b\r\n";

std::vector<Case> Cases() {
    return {
        Str("missing file", std::nullopt, "Config", "Url"),
        Int("missing file int", std::nullopt, "Config", "ComPort"),
        Str("missing section", "[Other]\nUrl=x\n", "Config", "Url"),
        Str("missing key", "[Config]\nUrl=x\n", "Config", "Port"),
        Int("missing key int", "[Config]\nUrl=x\n", "Config", "Port"),
        Str("names ignore case", kNames, "Config", "Url"),
        Str("names ignore case 2", kNames, "config", "URL"),
        Int("first section only", kNames, "Config", "ComPort"),
        Str("keys before any section", kNames, "", "Url"),
        // The system has no comments: ";Url" is a key to it. Ours keeps a commented-out line
        // off, as the administrator who commented it meant.
        Differs(Str("comment is not a key", kComments, "Config", ";Url"), "commented"),
        Str("line without =", kComments, "Config", "not a key"),
        Str("unclosed header", kComments, "Config", "Url"),
        Str("unclosed header name", kComments, "unclosed", "Url"),
        Str("spaces trimmed", kQuotes, "Config", "a"),
        Str("double quotes", kQuotes, "Config", "b"),
        Str("single quotes", kQuotes, "Config", "c"),
        Str("mismatched quotes", kQuotes, "Config", "d"),
        Str("lone quote", kQuotes, "Config", "e"),
        Str("one pair only", kQuotes, "Config", "f"),
        Str("empty value", kQuotes, "Config", "g"),
        Str("empty quotes", kQuotes, "Config", "h"),
        Str("long value", kLong, "Config", "Url"),
        Str("long value short buffer", kLong, "Config", "Url", 20),
        // Without a byte-order mark the system reads the ANSI code page; ours always UTF-8.
        Differs(Str("no byte-order mark", kLong, "Config", "Pair"), std::nullopt),
        // The system cuts a surrogate pair in half (it reads back as U+FFFD); ours never does.
        Differs(Str("pair not split", kPair, "Config", "Pair", 3), "ab\xEF\xBF\xBD"),
        Str("pair whole", kPair, "Config", "Pair", 4),
        Str("no room", kPair, "Config", "Pair", 0),
        // The system drops trailing blanks of the caller's default; ours hands it back as given.
        Differs(
            WithDefault(Str("missing key keeps the default", kPair, "Config", "none"), " def  "),
            " def"),
        Int("plain", kInts, "Config", "plain"),
        Int("negative", kInts, "Config", "neg"),
        Int("plus sign", kInts, "Config", "plus"),
        Int("trailing junk", kInts, "Config", "trail"),
        Int("no digits", kInts, "Config", "word"),
        // Wine reads the number with base 0 (0x, 0o, 0b prefixes); ours decimal only.
        Differs(Int("hex", kInts, "Config", "hex"), "16"),
        Int("empty int", kInts, "Config", "empty"),
        Int("quoted int", kInts, "Config", "quoted"),
        Int("wraps", kInts, "Config", "wrap"),
        Int("beyond int", kInts, "Config", "big"),
        Int("sign only", kInts, "Config", "sign"),
        Int("first 29 characters", kInts, "Config", "long"),
        Int("spaced int", kInts, "Config", "spaced"),
        Int("tab int", kInts, "Config", "tab"),
        Int("int from missing key", kInts, "Config", "none"),
        Str("utf-8 value", kUnicode,
            "Pr\xC3\xBC"
            "fung",
            "Name"),
        Str("non-ASCII names ignore case", kUnicode,
            "PR\xC3\x9C"
            "FUNG",
            "\xC3\xA4rger"),
        // Ours trims every Unicode space around a value; the system only ASCII white space.
        Differs(Str("no-break space trimmed", kUnicode,
                    "Pr\xC3\xBC"
                    "fung",
                    "nbsp"),
                "\xC2\xA0x\xC2\xA0"),
        Differs(Str("ideographic space trimmed", kUnicode,
                    "Pr\xC3\xBC"
                    "fung",
                    "ideo"),
                "\xE3\x80\x80y\xE3\x80\x80"),
        Str("crlf", kOdd, "Config", "Crlf"),
        Str("space inside name", kOdd, "Config", "inner space"),
        Str("end-of-file mark trimmed", kOdd, "Config", "Eof"),
        Str("bracket inside section name", kOdd, "a]b", "k"),
    };
}

class IniProfileDifferential : public testing::TestWithParam<Case> {
protected:
    static void SetUpTestSuite() { folder_ = new wintest::TempFolder(L"vorn-ini"); }
    static void TearDownTestSuite() {
        delete folder_;
        folder_ = nullptr;
    }

    // Each case gets its own file: the profile functions cache a file they have read.
    std::wstring WriteCase(const Case& c) {
        const std::wstring path = folder_->path() + L"\\case" + std::to_wstring(next_++) + L".ini";
        if (c.file) {
            std::ofstream out(std::filesystem::path(path), std::ios::binary);
            out << *c.file;
        }
        return path;
    }

    static std::string System(const Case& c, const std::wstring& path) {
        const std::wstring section = Utf8ToWide(c.section);
        const std::wstring key = Utf8ToWide(c.key);
        if (c.integer)
            return std::to_string(static_cast<int>(
                GetPrivateProfileIntW(section.c_str(), key.c_str(), c.defaultInt, path.c_str())));
        std::wstring buffer(static_cast<std::size_t>(c.maxUnits) + 1, L'\0');
        const DWORD length = GetPrivateProfileStringW(
            section.c_str(), key.c_str(), Utf8ToWide(c.defaultText).c_str(), buffer.data(),
            static_cast<DWORD>(buffer.size()), path.c_str());
        return WideToUtf8(std::wstring_view(buffer.data(), length));
    }

    static std::string Ours(const Case& c) {
        const std::string data = c.file.value_or("");
        if (c.integer)
            return std::to_string(vorn::ini::ReadInt(data, c.section, c.key, c.defaultInt));
        return vorn::ini::ReadString(data, c.section, c.key, c.defaultText, c.maxUnits);
    }

    static inline wintest::TempFolder* folder_ = nullptr;
    static inline int next_ = 0;
};

TEST_P(IniProfileDifferential, AgreesWithTheSystem) {
    const Case& c = GetParam();
    const std::wstring path = WriteCase(c);
    const std::string system = System(c, path);
    const std::string ours = Ours(c);
    if (c.differs) {
        if (c.systemAnswer) {
            EXPECT_EQ(system, *c.systemAnswer) << c.label << ": the system's answer changed";
        }
        EXPECT_NE(ours, system) << c.label << ": now agrees with the system";
    } else {
        EXPECT_EQ(ours, system) << c.label;
    }
}

INSTANTIATE_TEST_SUITE_P(Cases,
                         IniProfileDifferential,
                         testing::ValuesIn(Cases()),
                         [](const testing::TestParamInfo<Case>& info) {
                             std::string name;
                             for (const char* p = info.param.label; *p; ++p)
                                 name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
                             return name;
                         });

}  // namespace
