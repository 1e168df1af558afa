#pragma once

#include "platform/FolderSteps.h"

#include <cstddef>
#include <cstdint>

// Decoding of an entry's times and attribute bits into the values of ArchiveItem, and the file
// system's form of those times. Pure functions (the DOS conversion reads the process's time zone),
// safe on any thread.
namespace vorn::archive {

struct EntryTimes {
    int64_t access = 0, creation = 0, write = 0;  // FILETIME values, 0 = unknown
};

// FILETIME (100 ns units since 1601-01-01 UTC) of a count of seconds since 1970-01-01 UTC.
int64_t UnixSecondsToFileTime(int64_t seconds);

// The DOS date (high 16 bits) and time (low 16 bits) taken as local time, as UTC FILETIME.
// Returns 0 for a date or time that does not exist (month 0, 30 February, second 60...).
int64_t DosTimeToFileTime(uint32_t dosDateTime);

// Replaces the times that the first "UT" block of a local extra field carries (flag bit 0
// write, 1 access, 2 creation). Reads nothing beyond `length` or beyond the block's own size.
void ApplyUtExtraField(const uint8_t* extra, size_t length, EntryTimes* times);

// Windows attribute bits from the external attributes and the version-made-by field: host
// systems 0, 7, 11 and 14 store DOS bits, the others Unix mode bits in the high 16 bits.
uint32_t DecodeAttributes(uint32_t externalAttributes, uint32_t versionMadeBy);

// An item's time (FILETIME ticks) as the file system sets it; not known for 0 (unknown) or
// values before 1601.
platform::FileStamp ToFileStamp(int64_t fileTime);

}  // namespace vorn::archive
