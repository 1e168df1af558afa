#include "models/archive/ArchiveTimes.h"
#include "platform/linux/FolderSteps_linux.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

using namespace vorn::archive;

namespace {

constexpr int64_t kTick = 10000000;
constexpr uint32_t kDosNoon = (uint32_t(2021 - 1980) << 9 | 6 << 5 | 15) << 16 | (12u << 11);

// Runs the block with TZ set to the given POSIX zone and restores the previous one after.
class ZoneGuard {
public:
    explicit ZoneGuard(const char* zone) {
        if (const char* old = std::getenv("TZ"))
            m_old = old, m_had = true;
        setenv("TZ", zone, 1);
        tzset();
    }
    ~ZoneGuard() {
        if (m_had)
            setenv("TZ", m_old.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }

private:
    std::string m_old;
    bool m_had = false;
};

TEST(ArchiveTimes, UnixSecondsAndFileTime) {
    EXPECT_EQ(UnixSecondsToFileTime(0), 116444736000000000LL);
    EXPECT_EQ(UnixSecondsToFileTime(-1), 116444736000000000LL - kTick);
    const auto FileTimeToTimespec = [](int64_t fileTime) {
        return vorn::platform::ToTimespec(ToFileStamp(fileTime));
    };
    const timespec ts = FileTimeToTimespec(UnixSecondsToFileTime(1623760200) + 5);
    EXPECT_EQ(ts.tv_sec, 1623760200);
    EXPECT_EQ(ts.tv_nsec, 500);
    EXPECT_EQ(FileTimeToTimespec(0).tv_nsec, UTIME_OMIT);
    EXPECT_EQ(FileTimeToTimespec(-5).tv_nsec, UTIME_OMIT);
}

TEST(ArchiveTimes, DosTimeIsLocalTimeConvertedToUtc) {
    {
        ZoneGuard zone("UTC0");
        // 2021-06-15 12:00:00 UTC
        EXPECT_EQ(DosTimeToFileTime(kDosNoon), UnixSecondsToFileTime(1623758400));
    }
    {
        ZoneGuard zone("CST-8");  // eight hours east of UTC, no daylight saving
        EXPECT_EQ(DosTimeToFileTime(kDosNoon), UnixSecondsToFileTime(1623758400 - 8 * 3600));
    }
    {
        ZoneGuard zone("EST5EDT,M3.2.0,M11.1.0");  // summer time in June: UTC-4
        EXPECT_EQ(DosTimeToFileTime(kDosNoon), UnixSecondsToFileTime(1623758400 + 4 * 3600));
    }
}

TEST(ArchiveTimes, DosTimeKeepsTwoSecondStepsAndRejectsDatesThatDoNotExist) {
    ZoneGuard zone("UTC0");
    EXPECT_EQ(DosTimeToFileTime(kDosNoon | 29), UnixSecondsToFileTime(1623758400 + 58));
    const uint32_t feb30 = (uint32_t(41) << 9 | 2 << 5 | 30) << 16;
    EXPECT_EQ(DosTimeToFileTime(feb30), 0);
    EXPECT_EQ(DosTimeToFileTime(0), 0);              // month 0, day 0
    EXPECT_EQ(DosTimeToFileTime(kDosNoon | 30), 0);  // second 60
    EXPECT_EQ(DosTimeToFileTime((kDosNoon & 0xFFFF0000) | (24u << 11)), 0);
    const uint32_t feb29leap = (uint32_t(2020 - 1980) << 9 | 2 << 5 | 29) << 16;
    EXPECT_NE(DosTimeToFileTime(feb29leap), 0);
}

std::string Le32(int32_t v) {
    std::string s;
    for (int i = 0; i < 4; ++i)
        s.push_back(char((uint32_t(v) >> (8 * i)) & 0xFF));
    return s;
}

std::string Block(const std::string& id, const std::string& data) {
    return id + char(data.size() & 0xFF) + char(data.size() >> 8) + data;
}

EntryTimes Apply(const std::string& extra) {
    EntryTimes t{1, 2, 3};  // access, creation, write
    ApplyUtExtraField(reinterpret_cast<const uint8_t*>(extra.data()), extra.size(), &t);
    return t;
}

TEST(ArchiveTimes, UtBlockReplacesTheFlaggedTimes) {
    const EntryTimes all = Apply(Block("UT", "\x07" + Le32(1000) + Le32(2000) + Le32(3000)));
    EXPECT_EQ(all.write, UnixSecondsToFileTime(1000));
    EXPECT_EQ(all.access, UnixSecondsToFileTime(2000));
    EXPECT_EQ(all.creation, UnixSecondsToFileTime(3000));

    // Only the access time: it is the first value after the flags.
    const EntryTimes access = Apply(Block("UT", "\x02" + Le32(2000)));
    EXPECT_EQ(access.write, 3);
    EXPECT_EQ(access.access, UnixSecondsToFileTime(2000));
    EXPECT_EQ(access.creation, 2);

    const EntryTimes negative = Apply(Block("UT", "\x01" + Le32(-86400)));
    EXPECT_EQ(negative.write, UnixSecondsToFileTime(-86400));
}

TEST(ArchiveTimes, UtBlockIsFoundAfterOtherBlocksAndOnlyTheFirstCounts) {
    const std::string other = Block("ux", std::string(11, 'z'));
    const EntryTimes t =
        Apply(other + Block("UT", "\x01" + Le32(1000)) + Block("UT", "\x01" + Le32(5000)));
    EXPECT_EQ(t.write, UnixSecondsToFileTime(1000));
}

TEST(ArchiveTimes, DamagedExtraFieldsAreReadNoFurtherThanTheyReach) {
    // Block claims more than there is: the values that are whole are still read.
    std::string cut = Block("UT", "\x07" + Le32(1000) + Le32(2000) + Le32(3000));
    cut.resize(cut.size() - 6);
    EntryTimes t = Apply(cut);
    EXPECT_EQ(t.write, UnixSecondsToFileTime(1000));
    EXPECT_EQ(t.access, 1);
    EXPECT_EQ(t.creation, 2);
    // A block whose size says 1 but whose flags promise a value past it.
    t = Apply(Block("UT", "\x01") + Le32(1000));
    EXPECT_EQ(t.write, 3);
    // Empty block, a lone header, fewer than five bytes, nothing.
    EXPECT_EQ(Apply(Block("UT", "")).write, 3);
    EXPECT_EQ(Apply("UT\x05").write, 3);
    EXPECT_EQ(Apply("").write, 3);
    ApplyUtExtraField(nullptr, 10, &t);
    // A block size that overflows the walk ends it.
    EXPECT_EQ(Apply(std::string("ab\xff\xff") + "UT\x05\x00\x01" + Le32(7)).write, 3);
}

TEST(ArchiveTimes, AttributesFromUnixAndDosHosts) {
    const uint32_t unixHost = 0x031E, dosHost = 0x0014, ntfsHost = 0x0B00, vfatHost = 0x0E00,
                   macHost = 0x0714;
    EXPECT_EQ(DecodeAttributes(0100644u << 16, unixHost), 0x20u);
    EXPECT_EQ(DecodeAttributes(0100444u << 16, unixHost), 0x21u);
    EXPECT_EQ(DecodeAttributes(040755u << 16, unixHost), 0x30u);
    EXPECT_EQ(DecodeAttributes(0120777u << 16, unixHost), 0x20u);  // a link is a plain file
    EXPECT_EQ(DecodeAttributes(0, unixHost), 0x21u);               // no mode at all: read-only
    EXPECT_EQ(DecodeAttributes(0x10, dosHost), 0x10u);
    EXPECT_EQ(DecodeAttributes(0x27, dosHost), 0x27u);
    EXPECT_EQ(DecodeAttributes(0x00, dosHost), 0x00u);  // DOS without the archive bit
    EXPECT_EQ(DecodeAttributes(0x21, ntfsHost), 0x21u);
    EXPECT_EQ(DecodeAttributes(0x12, vfatHost), 0x12u);
    EXPECT_EQ(DecodeAttributes(0x01, macHost), 0x01u);  // host 7 also stores DOS bits
    // Unix bits are ignored for DOS hosts, DOS bits for Unix hosts.
    EXPECT_EQ(DecodeAttributes(040755u << 16, dosHost), 0x00u);
    EXPECT_EQ(DecodeAttributes((0100644u << 16) | 0x11, unixHost), 0x20u);
}

}  // namespace
