#include "models/archive/ArchiveTimes.h"

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <string>

namespace vorn::archive {

namespace {

constexpr int64_t kSecondsFrom1601To1970 = 11644473600LL;
constexpr int64_t kTicksPerSecond = 10000000LL;

uint32_t ReadLe32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

}  // namespace

int64_t UnixSecondsToFileTime(int64_t seconds) {
    return (seconds + kSecondsFrom1601To1970) * kTicksPerSecond;
}

int64_t DosTimeToFileTime(uint32_t dosDateTime) {
    const uint32_t date = dosDateTime >> 16;
    const uint32_t time = dosDateTime & 0xFFFF;
    std::tm tm{};
    tm.tm_year = int(date >> 9) + 1980 - 1900;
    tm.tm_mon = int((date >> 5) & 15) - 1;
    tm.tm_mday = int(date & 31);
    tm.tm_hour = int(time >> 11);
    tm.tm_min = int((time >> 5) & 63);
    tm.tm_sec = int(time & 31) * 2;
    tm.tm_isdst = -1;
    if (tm.tm_mon < 0 || tm.tm_mon > 11 || tm.tm_mday < 1 || tm.tm_hour > 23 || tm.tm_min > 59 ||
        tm.tm_sec > 59)
        return 0;
    const std::tm asked = tm;
    // glibc's mktime guards its time-zone state with an internal lock that ThreadSanitizer
    // cannot see; this lock (taken once per entry) makes the ordering visible to it. Entries of
    // an archive mostly share their time, and each mktime looks at the zone file again: the
    // last answer is kept for as long as TZ names the same zone.
    static std::mutex zoneLock;
    static uint32_t lastDos = 0;
    static std::string lastZone;
    static std::time_t lastTime = 0;
    static std::tm lastTm{};
    const char* zoneEnv = std::getenv("TZ");
    const std::string zone = zoneEnv ? std::string("=") + zoneEnv : std::string();
    std::unique_lock lock(zoneLock);
    std::time_t t;
    if (lastDos == dosDateTime && dosDateTime != 0 && lastZone == zone) {
        t = lastTime;
        tm = lastTm;
    } else {
        t = std::mktime(&tm);
        lastDos = dosDateTime;
        lastZone = zone;
        lastTime = t;
        lastTm = tm;
    }
    lock.unlock();
    // mktime quietly moves 30 February to 2 March; the stored date did not exist.
    if (t == std::time_t(-1) || tm.tm_mday != asked.tm_mday || tm.tm_mon != asked.tm_mon ||
        tm.tm_year != asked.tm_year)
        return 0;
    return UnixSecondsToFileTime(t);
}

void ApplyUtExtraField(const uint8_t* extra, size_t length, EntryTimes* times) {
    if (!extra)
        return;
    size_t start = 0;
    while (start + 4 < length) {
        const uint32_t id = uint32_t(extra[start]) | uint32_t(extra[start + 1]) << 8;
        const size_t size = uint32_t(extra[start + 2]) | uint32_t(extra[start + 3]) << 8;
        if (id == 0x5455) {  // the bytes "UT"
            const uint8_t* data = extra + start + 4;
            const size_t available = std::min(size, length - start - 4);
            if (available < 1)
                return;
            const uint8_t flags = data[0];
            size_t at = 1;
            int64_t* targets[3] = {&times->write, &times->access, &times->creation};
            for (int bit = 0; bit < 3; ++bit) {
                if (!(flags & (1 << bit)))
                    continue;
                if (at + 4 > available)
                    return;
                const auto seconds = static_cast<int32_t>(ReadLe32(data + at));
                *targets[bit] = UnixSecondsToFileTime(seconds);
                at += 4;
            }
            return;
        }
        start += 4 + size;
    }
}

uint32_t DecodeAttributes(uint32_t external, uint32_t versionMadeBy) {
    bool directory = external & 0x40000000;
    bool readOnly = !(external & 0x800000);
    bool hidden = false, system = false, archive = true;
    const uint32_t host = (versionMadeBy >> 8) & 0xFF;
    if (host == 0 || host == 7 || host == 11 || host == 14) {
        readOnly = external & 0x01;
        hidden = external & 0x02;
        system = external & 0x04;
        directory = external & 0x10;
        archive = external & 0x20;
    }
    return (directory ? 0x10u : 0u) | (archive ? 0x20u : 0u) | (hidden ? 0x02u : 0u) |
           (readOnly ? 0x01u : 0u) | (system ? 0x04u : 0u);
}

platform::FileStamp ToFileStamp(int64_t fileTime) {
    if (fileTime <= 0)
        return {};
    return {fileTime / kTicksPerSecond - kSecondsFrom1601To1970,
            static_cast<uint32_t>(fileTime % kTicksPerSecond) * 100, true};
}

}  // namespace vorn::archive
