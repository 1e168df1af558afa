#include "models/archive/Archive.h"
#include "models/archive/ArchiveNames.h"

#include <gtest/gtest.h>

using namespace vorn;
using namespace vorn::archive;

namespace {

struct SanitiseCase {
    std::u16string in, out;
};

TEST(ArchiveNames, SanitisingTable) {
    const SanitiseCase cases[] = {
        {u"C:\\data\\a.bin", u"data\\a.bin"},
        {u"/x/y", u"x/y"},
        {u"\\x", u"x"},
        {u"a/b/../c.bin", u"c.bin"},
        {u"..\\..\\x.txt", u"x.txt"},
        {u"x/..\\..\\y.txt", u"y.txt"},  // "\..\" is searched for before "/..\"
        {u"a\\..\\..\\x.txt", u"..\\x.txt"},
        {u"C:x", u"x"},
        {u"C:C:\\\\/x", u"x"},                     // rules repeat until none applies
        {u"/C:/../etc/passwd", u"../etc/passwd"},  // left climbing: refused later
        {u"//server/share/f", u"server/share/f"},
        {u"a/b/c", u"a/b/c"},
        {u"plain.json", u"plain.json"},
        {u"", u""},
        {u":", u":"},
        // The search order decides: "\..\" wins over "/../" even when it comes later.
        {u"p/../q\\..\\r", u"r"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SanitiseEntryName(c.in), c.out) << EncodeUtf8(c.in);
}

TEST(ArchiveNames, SanitisingRepeatsUntilNothingApplies) {
    EXPECT_EQ(SanitiseEntryName(u"q/../r"), u"r");
    EXPECT_EQ(SanitiseEntryName(u"p/../q/../r"), u"r");
}

TEST(ArchiveNames, RelativeNamesThatClimbOrCarryControlsAreRefused) {
    const std::u16string refused[] = {
        u"..",        u"../x",     u"..\\x",   u"a/../../x",
        u"a/..",      u"a\\..\\b", u"x/../y",  std::u16string(u"a\0b", 3),
        u"tab\there", u"bell\x07", u"del\x7f", u"nl\n",
    };
    for (const auto& name : refused)
        EXPECT_EQ(CheckRelativeName(name), ZR_UNSAFE_NAME) << EncodeUtf8(name);
    const std::u16string accepted[] = {
        u"",   u"a", u"a/b\\c", u"...", u"..a", u"a..", u"a/./b", u"a//b", u"\u00e9t\u00e9.json",
        u"C:x"};
    for (const auto& name : accepted)
        EXPECT_EQ(CheckRelativeName(name), ZR_OK) << EncodeUtf8(name);
    EXPECT_EQ(CheckAbsoluteName(u"/a/../b"), ZR_OK);
    EXPECT_EQ(CheckAbsoluteName(u"/a\x01"), ZR_UNSAFE_NAME);
}

TEST(ArchiveNames, AbsoluteForms) {
    EXPECT_TRUE(IsAbsoluteName(u"/x"));
    EXPECT_TRUE(IsAbsoluteName(u"\\x"));
    EXPECT_TRUE(IsAbsoluteName(u"C:\\x"));
    EXPECT_TRUE(IsAbsoluteName(u"C:"));
    EXPECT_FALSE(IsAbsoluteName(u"C"));
    EXPECT_FALSE(IsAbsoluteName(u""));
    EXPECT_FALSE(IsAbsoluteName(u"x/y"));
}

TEST(ArchiveNames, Utf8DecodingReplacesWhatIsNotUtf8) {
    EXPECT_EQ(DecodeUtf8("a\xc3\xa9"), u"a\u00e9");
    EXPECT_EQ(DecodeUtf8("\xf0\x9f\x98\x80"), u"\U0001F600");
    // GBK bytes of a Chinese name: not UTF-8, each unusable byte becomes U+FFFD.
    EXPECT_EQ(DecodeUtf8("\xc4\xe3\xba\xc3.bin"), u"\uFFFD\uFFFD\uFFFD\uFFFD.bin");
    EXPECT_EQ(DecodeUtf8("\xc0\xaf"), u"\uFFFD\uFFFD");            // overlong "/"
    EXPECT_EQ(DecodeUtf8("\xed\xa0\x80"), u"\uFFFD\uFFFD\uFFFD");  // encoded surrogate
    EXPECT_EQ(DecodeUtf8("\xe2\x82"), u"\uFFFD\uFFFD");            // cut short
    EXPECT_EQ(DecodeUtf8(std::string("\0x", 2)), std::u16string(u"\0x", 2));
}

TEST(ArchiveNames, Utf8EncodingRoundTripsAndReplacesLoneSurrogates) {
    const std::u16string text = u"mod\u00e8le/\u6a21\u578b/\U0001F600.json";
    EXPECT_EQ(DecodeUtf8(EncodeUtf8(text)), text);
    EXPECT_EQ(EncodeUtf8(std::u16string(1, char16_t(0xD800))), "\xef\xbf\xbd");
    EXPECT_EQ(EncodeUtf8(std::u16string(1, char16_t(0xDC00)) + u"a"),
              "\xef\xbf\xbd"
              "a");
}

// Names Windows would read as a device, a stream or another name: refused there, whatever the
// case or extension; everything else passes, including names that merely begin like a device.
TEST(ArchiveNames, WindowsRefusesDevicesStreamsAndTrailingDotsOrSpaces) {
    for (const char* refused : {"CON",
                                "con",
                                "Nul.txt",
                                "aux.tar.gz",
                                "PRN ",
                                "prn .log",
                                "COM1",
                                "lpt9.bin",
                                "COM0",
                                "com\xc2\xb9",
                                "LPT\xc2\xb3.x",
                                "CONIN$",
                                "conout$.txt",
                                "name.",
                                "name ",
                                "a:b",
                                "file.txt:stream",
                                "what?",
                                "a*b",
                                "<x>",
                                "pipe|",
                                "quote\"",
                                "back\\slash",
                                "tab\t"})
        EXPECT_EQ(CheckWindowsStepName(refused), ZR_UNSAFE_NAME) << refused;
    for (const char* allowed :
         {"CONSOLE", "console.txt", "nul_file", "COM10", "LPT", "COMA", "com\xc2\xb4", ".hidden",
          "a.b.c", "\xe6\xa8\xa1\xe5\x9e\x8b.json", " leading", "x.CON"})
        EXPECT_EQ(CheckWindowsStepName(allowed), ZR_OK) << allowed;
}

}  // namespace
