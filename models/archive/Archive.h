#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace vorn {

// The zip archive layer: open an archive (file or memory), list its entries, extract one entry
// to a file below a base folder, close. Entry names are always sanitised; nothing an archive
// names can land outside the base folder, follow a symbolic link there or create one.
//
// A handle is used by one thread at a time; different handles are independent, so two threads
// may each extract from their own handle of the same archive.

// One entry of an archive.
struct ArchiveItem {
    int index = 0;            // the entry's index; for the request with index -1, the entry count
    std::u16string name;      // sanitised name, at most 259 UTF-16 units, "\" or "/" as separators
    uint32_t attributes = 0;  // Windows bits: 0x10 directory, 0x20 archive, 2 hidden, 1 read-only,
                              // 4 system
    int64_t accessTime = 0, creationTime = 0, writeTime = 0;  // FILETIME: 100 ns since 1601, UTC
    int32_t compressedSize = 0, uncompressedSize = 0;  // from the central directory (clamped)
};

enum ArchiveResult : uint32_t {
    ZR_OK = 0,
    ZR_NOFILE = 0x200,   // archive unreadable (open gives null), or the target cannot be created
                         // (also: a read-only file is in the way, or a folder is a plain file)
    ZR_WRITE = 0x400,    // writing the target file failed
    ZR_CORRUPT = 0x700,  // local header disagrees with the central record, or the method is
                         // neither stored nor deflate
    ZR_NOTFOUND_EXTRA = 0x800,  // the local extra field cannot be read
    ZR_PASSWORD = 0x1000,       // encrypted entry, password missing or wrong
    ZR_ARGS = 0x10000,          // null handle or item, index out of range
    // Refusals of this layer's own:
    ZR_UNSAFE_NAME = 0x20000,  // after sanitising the name still climbs out (a ".." segment) or
                               // holds a NUL or control character; on Windows also a step that
                               // Windows reads as something else (a device such as CON or
                               // NUL.txt, a trailing dot or space, a ':' stream, <>"|?*);
                               // nothing is written
    ZR_TOO_LONG = 0x30000,     // entry name of 260 bytes or more, or a target path (base folder
                               // plus name) of 260 UTF-16 units or more; nothing is written
    ZR_UNREACHABLE = 0x40000,  // the central record of this or an earlier entry is unreadable
    ZR_LINK = 0x50000,         // a symbolic link (on Windows also a junction) stands where a folder
                               // or the file would go
    ZR_TOO_LARGE = 0x60000,    // ArchiveReadItem: the entry is larger than it will hold in memory
    ZR_OVERLAP = 0x70000,      // ArchiveSurveyEntries: two entries share or overlap their bytes
    ZR_FLATE = 0x5000000,      // decompression failed, the data ended before the entry's end
                               // or holds more than it records, or a stored entry's two sizes
                               // differ
    ZR_CRC = 0x6000000,        // all data read, but its CRC-32 differs from the recorded one
};

struct ArchiveHandleImpl;
using ArchiveHandle = ArchiveHandleImpl*;

// Opens an archive file ("\" and "/" both separate folders). The password (may be null) is
// copied. An empty base folder means the current directory; a relative one is resolved against
// the current directory now, so later changes of it do not move the extraction. Returns null
// when the file cannot be opened or holds no readable zip directory. The caller owns the handle
// until ArchiveClose.
ArchiveHandle ArchiveOpenFile(const std::u16string& path,
                              const char* password = nullptr,
                              const std::filesystem::path& baseFolder = {});

// As ArchiveOpenFile, on bytes in memory that the caller keeps alive and unchanged until
// ArchiveClose. Returns null for null/empty data or data that is not a zip archive.
ArchiveHandle ArchiveOpenMemory(const void* data,
                                size_t size,
                                const char* password = nullptr,
                                const std::filesystem::path& baseFolder = {});

// Fills *item for entry `index`, or with index -1 puts the entry count in item->index. The item
// is reset first (index 0, empty name, zero sizes), so a caller that ignores the result sees a
// count of 0 for a null handle. Returns ZR_OK or the code of the first failure.
uint32_t ArchiveGetItem(ArchiveHandle handle, int index, ArchiveItem* item);

// Writes entry `index` to `targetName`: a relative name goes below the base folder (folders on
// the way are created), one that begins with "\" or "/" or has ":" as second character is used
// as it stands. An existing file is replaced unless it is read-only (ZR_NOFILE, old file kept).
// On an error a partly written file stays. Returns ZR_OK or the failure code.
//
// previousFolder (a descriptor, or -1; not used on Windows, where every file is written): a
// folder laid out as the base folder, such as the one an earlier extraction of a similar archive
// filled. When it holds, at the target's relative place and reached without following a link, a
// regular file with exactly the entry's bytes, modification time and read-only state, that file
// is hard-linked at the target instead of a new one being written. The entry's data is read and
// checked all the same, so damaged data fails as it does in extraction. The handle keeps the
// folders it opened below previousFolder: a descriptor number names one folder for as long as
// the handle is given it.
uint32_t ArchiveExtractItem(ArchiveHandle handle,
                            int index,
                            const std::u16string& targetName,
                            int previousFolder = -1);

// Reads entry `index` whole into *bytes (replaced; empty for a directory entry). Entries above
// 256 MiB give ZR_TOO_LARGE. Returns ZR_OK or the failure code; *bytes is then empty.
uint32_t ArchiveReadItem(ArchiveHandle handle, int index, std::string* bytes);

// What ArchiveSurveyEntries learns of one entry.
struct ArchiveEntrySummary {
    uint32_t result = ZR_OK;  // what ArchiveGetItem gives for it
    ArchiveItem item;         // filled when result is ZR_OK
    uint16_t method = 0;      // compression method the central directory names
    bool encrypted = false;
    uint64_t uncompressedSize = 0;  // as recorded (zip64 sizes read), not clamped
};

struct ArchiveSurvey {
    std::vector<ArchiveEntrySummary> entries;  // in index order
    uint64_t unpackedBytes = 0;                // recorded sizes of the file entries that can be got
    int overlapping = -1;  // an entry whose header or data overlaps another's, or -1
};

// Reads every entry's central record and local header once (the handle keeps them, so later
// gets and extractions read no headers again) and checks that no two entries share bytes.
// Returns ZR_OK; ZR_OVERLAP (survey filled all the same); ZR_UNREACHABLE when the archive
// claims more entries than its size can hold (only those it can are listed); ZR_ARGS for a
// null handle.
uint32_t ArchiveSurveyEntries(ArchiveHandle handle, ArchiveSurvey* survey);

// A second handle on the surveyed archive of `handle`, with the same base folder and password
// and its own read position, for another thread. Null when `handle` is null or not surveyed,
// or no descriptor is left. Each handle is closed on its own.
ArchiveHandle ArchiveDuplicate(ArchiveHandle handle);

// Releases everything the handle holds. Returns ZR_OK, or ZR_ARGS for a null handle.
uint32_t ArchiveClose(ArchiveHandle handle);

// Creates `base` (when given and missing; its parent must exist) and then every missing folder
// of `relative` below it; without a base, `relative` is taken from the current directory or, if
// absolute, as it stands. Below a base no ".." step is taken and no symbolic link is followed.
// Reports nothing: a folder that could not be made shows up when a file inside it cannot be.
void CreateFolderPath(const std::filesystem::path* base, const std::u16string& relative);

}  // namespace vorn
