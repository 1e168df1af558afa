#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include <ioapi.h>

#include "models/archive/ArchiveFolders.h"

// The bytes of an archive as minizip and the entry reader read them: a file opened read-only
// (others may read and write it too) or a caller's memory block. Used by one thread at a time;
// two sources opened with ShareOf read the same file independently.
namespace vorn::archive {

class ArchiveSource {
public:
    ArchiveSource() = default;
    ~ArchiveSource();
    ArchiveSource(const ArchiveSource&) = delete;
    ArchiveSource& operator=(const ArchiveSource&) = delete;

    // Opens the file at a UTF-8 path. False when it cannot be opened for reading.
    bool OpenFile(const std::string& path);
    // Reads from `data` (kept alive by the caller). False for null or empty data.
    bool OpenMemory(const void* data, size_t size);
    // Reads what `other` reads, through a descriptor of its own. False when none can be had.
    bool ShareOf(const ArchiveSource& other);

    uint64_t Size() const { return m_size; }

    // Up to `size` bytes at `offset`, independent of minizip's position; the count read (short
    // at the end of the archive), or -1 on a read error.
    long ReadAt(uint64_t offset, void* into, size_t size);

    // minizip's callbacks; pass this object as the "path" argument of unzOpen2_64.
    zlib_filefunc64_def Functions();

private:
    static voidpf Open(voidpf opaque, const void* name, int mode);
    static uLong Read(voidpf opaque, voidpf stream, void* buf, uLong size);
    static uLong Write(voidpf opaque, voidpf stream, const void* buf, uLong size);
    static ZPOS64_T Tell(voidpf opaque, voidpf stream);
    static long Seek(voidpf opaque, voidpf stream, ZPOS64_T offset, int origin);
    static int Close(voidpf opaque, voidpf stream);
    static int Error(voidpf opaque, voidpf stream);

    long ReadFile(uint64_t offset, void* into, size_t size);

    OsHandle m_file;
    const uint8_t* m_data = nullptr;
    uint64_t m_size = 0;
    uint64_t m_pos = 0;
    bool m_failed = false;
    // minizip reads headers a few bytes at a time, alternating between the central directory
    // and the local headers; two windows of the file turn those reads into copies instead of
    // one system call each.
    struct Window {
        std::unique_ptr<uint8_t[]> bytes;
        uint64_t start = 0;
        size_t size = 0;
        uint64_t used = 0;  // for replacing the least recently used
    };
    Window m_windows[2];
    uint64_t m_uses = 0;
};

}  // namespace vorn::archive
