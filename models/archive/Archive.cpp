#include "models/archive/Archive.h"

#include "common/LogSink.h"
#include "models/archive/ArchiveFolders.h"
#include "models/archive/ArchiveNames.h"
#include "models/archive/ArchiveSource.h"
#include "models/archive/ArchiveTimes.h"
#include "models/archive/EntryReader.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <unordered_map>
#include <vector>

#include <unzip.h>

namespace vorn {

using namespace vorn::archive;

namespace {

constexpr size_t kBufferSize = 0x4000;
constexpr size_t kMaxName = 260;  // bytes of an entry name, and UTF-16 units of a path
constexpr uint64_t kMaxReadItem = 256ull << 20;
constexpr uint32_t kDirectory = 0x10;
constexpr uint32_t kReadOnly = 0x01;

using vorn::log::Area;

std::string ToDiskPath(std::u16string_view name) {
    std::string path = EncodeUtf8(name);
    std::replace(path.begin(), path.end(), '\\', '/');
    return path;
}

// A path as the folder steps take it: UTF-8 (on Linux the bytes the system gave).
std::string PathText(const std::filesystem::path& path) {
    if constexpr (platform::kWidePaths)
        return EncodeUtf8(path.u16string());
    else
        return path.string();
}

std::string Hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%x", static_cast<unsigned>(value));
    return text;
}

}  // namespace

// Folders below one base folder that a handle has opened, kept so that the files of one folder
// do not walk the path again; relative "/"-separated path to descriptor. Without `create`, a
// folder found missing is remembered as missing too.
class FolderCache {
public:
    FolderCache() = default;
    FolderCache(const FolderCache&) = delete;
    FolderCache& operator=(const FolderCache&) = delete;

    // The handle stays the cache's; it is valid until the next call. A descriptor number names
    // one folder for as long as it is given as `base`; another number starts the cache over.
    uint32_t Open(NativeHandle base, const std::string& folder, bool create, NativeHandle* handle) {
        if (base != m_base) {
            m_folders.clear();
            m_base = base;
        }
        if (const auto it = m_folders.find(folder); it != m_folders.end()) {
            *handle = it->second.Get();
            return it->second.Valid() ? ZR_OK : ZR_NOFILE;
        }
        OsHandle opened;
        const uint32_t rc = OpenFolderAt(base, folder, &opened, create);
        if (rc != ZR_OK && (create || rc != ZR_NOFILE))
            return rc;
        if (m_folders.size() >= kMaxFolders)
            m_folders.erase(m_folders.begin());
        *handle = opened.Get();
        m_folders.emplace(folder, std::move(opened));
        return rc;
    }

private:
    // Descriptors are not plentiful: a handle keeps two caches and the installer one handle
    // per core, in a process that also holds the engine's.
    static constexpr size_t kMaxFolders = 32;
    NativeHandle m_base = kNoHandle;  // not owned
    std::unordered_map<std::string, OsHandle> m_folders;
};

// Everything extraction needs to know of one entry, read once.
struct EntryRecord {
    uint32_t result = ZR_OK;  // what ArchiveGetItem gives
    ArchiveItem item;
    EntryData data;
    uint64_t headerStart = 0;
    bool located = false;  // headerStart and data.start are known
    bool encrypted = false;
    uint16_t method = 0;  // as the central directory names it
};

struct ArchiveHandleImpl {
    ArchiveSource source;
    unzFile zip = nullptr;
    int count = 0;
    bool hasPassword = false;
    std::string password;
    std::string base;                       // absolute, UTF-8, as the system names it
    std::u16string baseUnits;               // the same ending in "/", for the path length limit
    std::unique_ptr<char[]> writeBuffer;    // allocated at the first extraction
    std::unique_ptr<char[]> compareBuffer;  // allocated at the first comparison
    std::vector<uint8_t> centralExtra;      // allocated at the first entry read
    std::optional<std::optional<uint64_t>> shift;  // DirectoryShift, once asked for
    OsHandle baseFolder;                           // opened (and made) at the first relative target
    FolderCache folders;                           // below baseFolder, for relative targets
    FolderCache previousFolders;                   // below the previous folder extracted against

    // Reader position: the entry minizip stands on, and the first entry known to be
    // unreachable (the archive never changes, so neither does that).
    int current = -1;
    int firstUnreachable = INT_MAX;

    // Every entry, once ArchiveSurveyEntries has read them; shared by duplicated handles.
    std::shared_ptr<const std::vector<EntryRecord>> table;

    // The last entry returned.
    int cachedIndex = -1;
    EntryRecord cached;
};

namespace {

bool SetBase(ArchiveHandleImpl* h, const std::filesystem::path& baseFolder) {
    std::error_code ec;
    std::filesystem::path base = baseFolder.empty() ? std::filesystem::current_path(ec)
                                                    : std::filesystem::absolute(baseFolder, ec);
    if (ec)
        return false;
    h->base = PathText(base);
    h->baseUnits = base.u16string();
    if (h->baseUnits.empty() || !IsSeparator(h->baseUnits.back()))
        h->baseUnits.push_back(u'/');
    return true;
}

ArchiveHandle Finish(std::unique_ptr<ArchiveHandleImpl> h,
                     const char* password,
                     const std::filesystem::path& baseFolder) {
    if (!SetBase(h.get(), baseFolder))
        return nullptr;
    if (password) {
        h->hasPassword = true;
        h->password = password;
    }
    zlib_filefunc64_def functions = h->source.Functions();
    h->zip = unzOpen2_64(&h->source, &functions);
    if (!h->zip) {
        vorn::log::Debug(Area::Models, "archive: no readable zip directory");
        return nullptr;
    }
    unz_global_info64 info{};
    if (unzGetGlobalInfo64(h->zip, &info) != UNZ_OK) {
        unzClose(h->zip);
        return nullptr;
    }
    h->count = static_cast<int>(std::min<ZPOS64_T>(info.number_entry, INT_MAX));
    return h.release();
}

// Moves the reader to entry `index`, stepping forward from the current entry or the first.
uint32_t Position(ArchiveHandleImpl* h, int index) {
    if (index >= h->firstUnreachable)
        return ZR_UNREACHABLE;
    if (h->current < 0 || index < h->current) {
        h->current = -1;
        if (unzGoToFirstFile(h->zip) != UNZ_OK) {
            h->firstUnreachable = 0;
            return ZR_UNREACHABLE;
        }
        h->current = 0;
    }
    while (h->current < index) {
        if (unzGoToNextFile(h->zip) != UNZ_OK) {
            h->firstUnreachable = h->current + 1;
            h->current = -1;
            vorn::log::Debug(Area::Models, "archive: entries from " +
                                               std::to_string(h->firstUnreachable) +
                                               " on cannot be reached");
            return ZR_UNREACHABLE;
        }
        ++h->current;
    }
    return ZR_OK;
}

uint16_t Le16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}
uint32_t Le32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
uint64_t Le64(const uint8_t* p) {
    return uint64_t(Le32(p)) | uint64_t(Le32(p + 4)) << 32;
}

// The zip64 block of a central extra field carries, in this order and each only when its
// 32-bit field holds 0xFFFFFFFF, the uncompressed size, the compressed size and the local
// header's offset. The system's minizip compares those fields against a 64-bit all-ones value
// and so never reads them; this reads them. The offset cannot be told apart from minizip's
// fields, so it is taken when the block still holds eight bytes after the sizes.
// True when a size came from the block.
bool ApplyZip64(const uint8_t* extra,
                size_t size,
                ZPOS64_T* usize,
                ZPOS64_T* csize,
                std::optional<uint64_t>* offset) {
    constexpr uint64_t kMax32 = 0xFFFFFFFF;
    for (size_t at = 0; at + 4 <= size;) {
        const uint16_t id = Le16(extra + at);
        const size_t length = std::min<size_t>(Le16(extra + at + 2), size - at - 4);
        const uint8_t* data = extra + at + 4;
        if (id == 0x0001) {
            size_t used = 0;
            if (*usize == kMax32 && used + 8 <= length) {
                *usize = Le64(data + used);
                used += 8;
            }
            if (*csize == kMax32 && used + 8 <= length) {
                *csize = Le64(data + used);
                used += 8;
            }
            const bool sizes = used > 0;
            if (used + 8 <= length)
                *offset = Le64(data + used);
            return sizes;
        }
        at += 4 + length;
    }
    return false;
}

// How far the archive's bytes lie behind where its directory says (data prepended to the
// archive), found as minizip finds it: from the zip64 end record when a locator points at one,
// else from the end record. Nothing when neither can be read.
std::optional<uint64_t> DirectoryShift(ArchiveSource& source) {
    const uint64_t size = source.Size();
    const uint64_t tailSize = std::min<uint64_t>(size, 0xFFFF + 22 + 20);
    std::vector<uint8_t> tail(static_cast<size_t>(tailSize));
    if (tail.size() < 22 ||
        source.ReadAt(size - tailSize, tail.data(), tail.size()) != long(tail.size()))
        return std::nullopt;
    for (size_t at = tail.size() - 22;; --at) {
        if (Le32(tail.data() + at) == 0x06054B50) {
            const uint64_t endAt = size - tailSize + at;
            uint64_t directoryEnd = 0;
            uint64_t recordAt = endAt;
            if (at >= 20 && Le32(tail.data() + at - 20) == 0x07064B50) {
                recordAt = Le64(tail.data() + at - 20 + 8);
                uint8_t record[56];
                if (source.ReadAt(recordAt, record, sizeof record) != long(sizeof record) ||
                    Le32(record) != 0x06064B50)
                    return std::nullopt;
                directoryEnd = Le64(record + 48) + Le64(record + 40);
            } else {
                directoryEnd = uint64_t(Le32(tail.data() + at + 16)) + Le32(tail.data() + at + 12);
            }
            if (recordAt < directoryEnd)
                return std::nullopt;
            return recordAt - directoryEnd;
        }
        if (at == 0)
            return std::nullopt;
    }
}

// The local header offset the positioned entry's central record gives in its 32-bit field.
std::optional<uint64_t> CentralHeaderOffset(ArchiveHandleImpl* h, const unz_file_info64& info) {
    if (!h->shift)
        h->shift = DirectoryShift(h->source);
    const std::optional<uint64_t> shift = *h->shift;
    if (!shift)
        return std::nullopt;
    uint8_t record[46];
    if (h->source.ReadAt(unzGetOffset64(h->zip) + *shift, record, sizeof record) !=
            long(sizeof record) ||
        Le32(record) != 0x02014B50 || Le16(record + 28) != info.size_filename)
        return std::nullopt;
    return Le32(record + 42) + *shift;
}

// The local header at `offset`, checked against the central record as minizip checks it, for
// entries whose offset only the zip64 block gives.
uint32_t ReadLocalHeader(ArchiveHandleImpl* h,
                         uint64_t offset,
                         const unz_file_info64& info,
                         EntryRecord* r,
                         std::vector<uint8_t>* extra) {
    uint8_t header[30];
    if (h->source.ReadAt(offset, header, sizeof header) != long(sizeof header) ||
        Le32(header) != 0x04034B50 || Le16(header + 8) != info.compression_method ||
        Le16(header + 26) != info.size_filename ||
        (!(Le16(header + 6) & 8) && Le32(header + 14) != static_cast<uint32_t>(info.crc)))
        return ZR_CORRUPT;
    extra->resize(Le16(header + 28));
    if (!extra->empty() && h->source.ReadAt(offset + 30 + info.size_filename, extra->data(),
                                            extra->size()) != static_cast<long>(extra->size()))
        return ZR_NOTFOUND_EXTRA;
    // The sizes, unless a data descriptor gives them: the plain fields, or where those say
    // 0xFFFFFFFF the header's own zip64 block, must give what the central directory gives.
    if (!(Le16(header + 6) & 8)) {
        ZPOS64_T usize = Le32(header + 22);
        ZPOS64_T csize = Le32(header + 18);
        std::optional<uint64_t> ignored;
        ApplyZip64(extra->data(), extra->size(), &usize, &csize, &ignored);
        if (usize != info.uncompressed_size || csize != info.compressed_size)
            return ZR_CORRUPT;
    }
    r->headerStart = offset;
    r->data.start = offset + 30 + info.size_filename + extra->size();
    r->located = true;
    return ZR_OK;
}

// The central directory's record of the positioned entry: its name into `name` and what it
// says of the data into r->data (sizes corrected from the zip64 block). `zip64Offset` gets the
// local header's offset when only that block gives it.
uint32_t ReadCentralRecord(ArchiveHandleImpl* h,
                           EntryRecord* r,
                           unz_file_info64* info,
                           char (&name)[kMaxName],
                           std::optional<uint64_t>* zip64Offset,
                           bool* zip64Sizes) {
    if (h->centralExtra.empty())
        h->centralExtra.resize(0x10000);
    if (unzGetCurrentFileInfo64(h->zip, info, name, sizeof name, h->centralExtra.data(),
                                h->centralExtra.size(), nullptr, 0) != UNZ_OK)
        return ZR_UNREACHABLE;
    r->method = static_cast<uint16_t>(info->compression_method);
    r->encrypted = info->flag & 1;
    *zip64Sizes =
        ApplyZip64(h->centralExtra.data(), std::min<size_t>(info->size_file_extra, 0x10000),
                   &info->uncompressed_size, &info->compressed_size, zip64Offset);
    r->data.compressedSize = info->compressed_size;
    r->data.uncompressedSize = info->uncompressed_size;
    r->data.crc = static_cast<uint32_t>(info->crc);
    r->data.dosDate = static_cast<uint32_t>(info->dosDate);
    r->data.flag = static_cast<uint16_t>(info->flag);
    r->data.method = r->method;
    if (info->size_filename >= kMaxName)
        return ZR_TOO_LONG;
    // minizip lets other methods through its header check; only stored and deflate are read.
    if (info->compression_method != 0 && info->compression_method != Z_DEFLATED)
        return ZR_CORRUPT;
    return ZR_OK;
}

// Where the positioned entry's local header and data start, and the header's extra field (it
// holds the entry's times). minizip finds the header unless only the zip64 block gives its
// offset, or gives sizes that minizip compares in their 32-bit form (a local header with the
// plain sizes is well formed there); then the header is read and checked here.
uint32_t LocateData(ArchiveHandleImpl* h,
                    const unz_file_info64& info,
                    const std::optional<uint64_t>& zip64Offset,
                    bool zip64Sizes,
                    EntryRecord* r,
                    std::vector<uint8_t>* extra) {
    if (unzOpenCurrentFile2(h->zip, nullptr, nullptr, 1) != UNZ_OK) {
        if (zip64Offset)
            return ReadLocalHeader(h, *zip64Offset, info, r, extra);
        if (!zip64Sizes)
            return ZR_CORRUPT;
        const std::optional<uint64_t> offset = CentralHeaderOffset(h, info);
        return offset ? ReadLocalHeader(h, *offset, info, r, extra) : ZR_CORRUPT;
    }
    extra->resize(static_cast<size_t>(std::max(0, unzGetLocalExtrafield(h->zip, nullptr, 0))));
    const int extraRead =
        extra->empty() ? 0 : unzGetLocalExtrafield(h->zip, extra->data(), unsigned(extra->size()));
    r->data.start = unzGetCurrentFileZStreamPos64(h->zip);
    unzCloseCurrentFile(h->zip);
    if (extraRead != static_cast<int>(extra->size()))
        return ZR_NOTFOUND_EXTRA;
    r->headerStart = r->data.start - 30 - info.size_filename - extra->size();
    r->located = true;
    return ZR_OK;
}

// What a caller is shown of the entry: its checked name, attributes, times and sizes. A name
// that climbs out of the target folder or holds control characters refuses the entry.
uint32_t DescribeItem(int index,
                      const unz_file_info64& info,
                      std::string_view name,
                      const std::vector<uint8_t>& extra,
                      ArchiveItem* item) {
    std::u16string decoded = DecodeUtf8(name);
    item->index = index;
    item->attributes = DecodeAttributes(static_cast<uint32_t>(info.external_fa),
                                        static_cast<uint32_t>(info.version));
    // Some tools mark folders only by the trailing separator; such a name cannot be a file.
    if (!decoded.empty() && IsSeparator(decoded.back()))
        item->attributes |= kDirectory;
    item->name = SanitiseEntryName(std::move(decoded));
    if (const uint32_t rc = CheckRelativeName(item->name); rc != ZR_OK) {
        vorn::log::Info(Area::Models, "archive: refusing entry " + std::to_string(index) +
                                          " (its name climbs out or holds control characters)");
        return rc;
    }

    EntryTimes times;
    times.write = times.access = times.creation =
        DosTimeToFileTime(static_cast<uint32_t>(info.dosDate));
    ApplyUtExtraField(extra.data(), extra.size(), &times);
    item->writeTime = times.write;
    item->accessTime = times.access;
    item->creationTime = times.creation;
    item->compressedSize =
        static_cast<int32_t>(std::min<ZPOS64_T>(info.compressed_size, INT32_MAX));
    item->uncompressedSize =
        static_cast<int32_t>(std::min<ZPOS64_T>(info.uncompressed_size, INT32_MAX));
    return ZR_OK;
}

// Reads entry `index` through minizip into *r; r->result tells how far it got.
void ReadRecord(ArchiveHandleImpl* h, int index, EntryRecord* r) {
    *r = EntryRecord{};
    r->result = Position(h, index);
    if (r->result != ZR_OK)
        return;
    unz_file_info64 info{};
    char name[kMaxName];
    std::optional<uint64_t> zip64Offset;
    bool zip64Sizes = false;
    r->result = ReadCentralRecord(h, r, &info, name, &zip64Offset, &zip64Sizes);
    if (r->result != ZR_OK)
        return;
    std::vector<uint8_t> extra;
    r->result = LocateData(h, info, zip64Offset, zip64Sizes, r, &extra);
    if (r->result != ZR_OK)
        return;
    r->result =
        DescribeItem(index, info, std::string_view(name, info.size_filename), extra, &r->item);
}

uint32_t LoadItem(ArchiveHandleImpl* h, int index) {
    if (index != h->cachedIndex) {
        if (h->table && static_cast<size_t>(index) >= h->table->size()) {
            h->cached = EntryRecord{};
            h->cached.result = ZR_UNREACHABLE;
        } else if (h->table)
            h->cached = (*h->table)[static_cast<size_t>(index)];
        else
            ReadRecord(h, index, &h->cached);
        h->cachedIndex = index;
    }
    return h->cached.result;
}

// Streams the positioned, cached entry to `sink` in 16 KiB blocks up to its recorded size,
// then checks its length and CRC.
template <typename Sink>
uint32_t CopyData(ArchiveHandleImpl* h, char* buffer, Sink&& sink) {
    EntryReader reader;
    if (const uint32_t rc =
            reader.Open(&h->source, h->cached.data, h->hasPassword ? &h->password : nullptr);
        rc != ZR_OK)
        return rc;
    auto* bytes = reinterpret_cast<uint8_t*>(buffer);
    for (;;) {
        const long got = reader.Read(bytes, kBufferSize);
        if (got < 0)
            return ZR_FLATE;
        if (got == 0)
            break;
        if (!sink(buffer, static_cast<size_t>(got)))
            return ZR_WRITE;
    }
    return reader.Close();
}

// LinkIfSame's answer when the previous file differs or cannot be linked: extract as usual.
constexpr uint32_t kNotSame = 1;

// Whether a previous file's metadata matches what extracting the loaded entry would write;
// most changed files are told apart here, before their data is read.
bool LooksSame(const ArchiveHandleImpl* h, const platform::FileFacts& facts) {
    const platform::FileStamp written = ToFileStamp(h->cached.item.writeTime);
    return facts.kind == platform::FileFacts::Kind::Regular &&
           facts.size == h->cached.data.uncompressedSize && written.known &&
           facts.modified == written &&
           facts.readOnly == bool(h->cached.item.attributes & kReadOnly);
}

// Hard-links the file of the previous folder at `folderPath`/`name` into targetFolder when it
// is exactly what extracting the loaded entry would write there. Returns ZR_OK (linked),
// kNotSame, or the failure of the entry's data.
uint32_t LinkIfSame(ArchiveHandleImpl* h,
                    NativeHandle previousFolder,
                    const std::string& folderPath,
                    const std::string& name,
                    NativeHandle targetFolder) {
    NativeHandle oldFolder = kNoHandle;
    platform::FileFacts facts;
    if (name.empty() || name == "." || name == ".." ||
        h->previousFolders.Open(previousFolder, folderPath, false, &oldFolder) != ZR_OK ||
        !platform::LookAt(oldFolder, name, &facts) || !LooksSame(h, facts))
        return kNotSame;
    // The file compared is the one opened; only that one is linked (checked below).
    const OsHandle old = platform::OpenFileBelow(oldFolder, name);
    if (!old.Valid() || !platform::LookAt(old.Get(), &facts) || !LooksSame(h, facts))
        return kNotSame;

    if (!h->writeBuffer)
        h->writeBuffer = std::make_unique<char[]>(kBufferSize);
    if (!h->compareBuffer)
        h->compareBuffer = std::make_unique<char[]>(kBufferSize);
    char* const theirs = h->compareBuffer.get();
    const NativeHandle fd = old.Get();
    bool same = true;
    uint64_t offset = 0;
    const uint32_t rc = CopyData(h, h->writeBuffer.get(), [&](const char* p, size_t n) {
        if (ReadFileAt(fd, offset, theirs, n) != static_cast<long>(n))
            return same = false;
        offset += n;
        return same = std::memcmp(p, theirs, n) == 0;
    });
    if (!same || (rc == ZR_OK && offset != facts.size))
        return kNotSame;
    if (rc != ZR_OK)
        return rc;
    if (!platform::HardLink(oldFolder, targetFolder, name))
        return kNotSame;
    // Only the very file compared may stand at the target (its name could have been replaced
    // in between; a link is linked as itself rather than followed).
    platform::FileFacts linked;
    if (!platform::LookAt(targetFolder, name, &linked) || linked.identity != facts.identity ||
        linked.device != facts.device) {
        platform::RemoveFileName(targetFolder, name);
        return kNotSame;
    }
    return ZR_OK;
}
}  // namespace

ArchiveHandle ArchiveOpenFile(const std::u16string& path,
                              const char* password,
                              const std::filesystem::path& baseFolder) {
    auto h = std::make_unique<ArchiveHandleImpl>();
    if (path.empty() || !h->source.OpenFile(ToDiskPath(path)))
        return nullptr;
    return Finish(std::move(h), password, baseFolder);
}

ArchiveHandle ArchiveOpenMemory(const void* data,
                                size_t size,
                                const char* password,
                                const std::filesystem::path& baseFolder) {
    auto h = std::make_unique<ArchiveHandleImpl>();
    if (!h->source.OpenMemory(data, size))
        return nullptr;
    return Finish(std::move(h), password, baseFolder);
}

uint32_t ArchiveGetItem(ArchiveHandle h, int index, ArchiveItem* item) {
    if (!item)
        return ZR_ARGS;
    *item = ArchiveItem{};
    if (!h || index < -1 || index >= h->count)
        return ZR_ARGS;
    if (index == -1) {
        item->index = h->count;
        return ZR_OK;
    }
    const uint32_t rc = LoadItem(h, index);
    if (rc == ZR_OK)
        *item = h->cached.item;
    return rc;
}

namespace {
// Where an entry lands: a folder entry's whole name is its folder; a file's folder is what
// comes before its last separator, so both kinds share one folder step.
struct TargetParts {
    std::u16string_view folder;
    std::u16string_view file;
    bool absolute = false;
};

TargetParts SplitTarget(const std::u16string& targetName, bool isDirectory) {
    TargetParts parts;
    const size_t split = targetName.find_last_of(u"\\/");
    parts.folder = isDirectory ? std::u16string_view(targetName)
                               : std::u16string_view(targetName)
                                     .substr(0, split == std::u16string::npos ? 0 : split + 1);
    parts.file = isDirectory ? std::u16string_view()
                             : std::u16string_view(targetName).substr(parts.folder.size());
    parts.absolute = IsAbsoluteName(parts.folder);
    return parts;
}

// Refuses a name before anything is created on disk: nothing may climb out of the base
// folder or exceed the system's path limit once the base is put in front.
uint32_t CheckTarget(const ArchiveHandleImpl* h, const std::u16string& targetName, bool absolute) {
    const uint32_t nameCheck =
        absolute ? CheckAbsoluteName(targetName) : CheckRelativeName(targetName);
    if (nameCheck != ZR_OK)
        return nameCheck;
    if ((absolute ? 0 : h->baseUnits.size()) + targetName.size() >= kMaxName)
        return ZR_TOO_LONG;
    const std::string diskTarget = ToDiskPath(targetName);
    if (CheckPathSteps(
            std::string_view(diskTarget).substr(absolute ? platform::RootLength(diskTarget) : 0)) !=
        ZR_OK)
        return ZR_UNSAFE_NAME;
    return ZR_OK;
}

uint32_t OpenRelativeFolder(ArchiveHandleImpl* h, const std::string& folder, NativeHandle* handle) {
    if (!h->baseFolder.Valid()) {
        // The base is made when missing (its parent must exist), as OpenFolder does.
        h->baseFolder = platform::OpenSystemFolder(h->base, true);
        if (!h->baseFolder.Valid())
            return ZR_NOFILE;
    }
    return h->folders.Open(h->baseFolder.Get(), folder, true, handle);
}

// A relative target reuses the handle's cache of open folders, so sibling entries do not walk
// their path again; an absolute one gets its own folder handle, owned by the caller.
uint32_t OpenTargetFolder(ArchiveHandleImpl* h,
                          const TargetParts& parts,
                          OsHandle* absoluteFolder,
                          NativeHandle* folder) {
    *folder = kNoHandle;
    const uint32_t opened =
        parts.absolute ? OpenFolder(&h->base, ToDiskPath(parts.folder), true, absoluteFolder)
                       : OpenRelativeFolder(h, ToDiskPath(parts.folder), folder);
    if (parts.absolute)
        *folder = absoluteFolder->Get();
    return opened;
}

// The file is created even when the entry's data is known to be unreadable (`loaded` not
// ZR_OK), so callers that name their own targets still find it; that data then fails.
uint32_t WriteEntryFile(ArchiveHandleImpl* h,
                        int index,
                        NativeHandle folder,
                        std::u16string_view fileName,
                        const ArchiveItem& item,
                        uint32_t loaded) {
    OsHandle file;
    if (const uint32_t rc =
            CreateEntryFile(folder, ToDiskPath(fileName), item.attributes & kReadOnly, &file);
        rc != ZR_OK)
        return rc;
    if (loaded != ZR_OK)
        return ZR_FLATE;

    if (!h->writeBuffer)
        h->writeBuffer = std::make_unique<char[]>(kBufferSize);
    const NativeHandle out = file.Get();
    const uint32_t result = CopyData(
        h, h->writeBuffer.get(), [out](const char* p, size_t n) { return WriteAll(out, p, n); });
    if (result == ZR_OK) {
        platform::SetFileTimes(out, ToFileStamp(item.creationTime), ToFileStamp(item.accessTime),
                               ToFileStamp(item.writeTime));
    } else {
        vorn::log::Debug(Area::Models,
                         "archive: entry " + std::to_string(index) + " failed with " + Hex(result));
    }
    return result;
}
}  // namespace

uint32_t ArchiveExtractItem(ArchiveHandle h,
                            int index,
                            const std::u16string& targetName,
                            int previousFolder) {
    if (!h || index < 0 || index >= h->count)
        return ZR_ARGS;
    const uint32_t loaded = LoadItem(h, index);
    // An entry whose local header is unusable is still given its file (empty), as callers
    // that name their own targets expect; its data then counts as unreadable.
    if (loaded != ZR_OK && loaded != ZR_CORRUPT && loaded != ZR_NOTFOUND_EXTRA)
        return loaded;
    const ArchiveItem item = loaded == ZR_OK ? h->cached.item : ArchiveItem{};

    const bool isDirectory = item.attributes & kDirectory;
    const TargetParts parts = SplitTarget(targetName, isDirectory);
    if (const uint32_t rc = CheckTarget(h, targetName, parts.absolute); rc != ZR_OK)
        return rc;

    OsHandle absoluteFolder;
    NativeHandle folder = kNoHandle;
    const uint32_t opened = OpenTargetFolder(h, parts, &absoluteFolder, &folder);
    if (isDirectory || opened != ZR_OK)
        return opened;

    // Hard links from an earlier extraction are a Linux saving; on Windows no descriptor names
    // a folder, so every file is written.
    if (const NativeHandle previous = platform::HandleOfDescriptor(previousFolder);
        previous != kNoHandle && !parts.absolute && loaded == ZR_OK) {
        const uint32_t rc =
            LinkIfSame(h, previous, ToDiskPath(parts.folder), ToDiskPath(parts.file), folder);
        if (rc != kNotSame)
            return rc;
    }
    return WriteEntryFile(h, index, folder, parts.file, item, loaded);
}

uint32_t ArchiveReadItem(ArchiveHandle h, int index, std::string* bytes) {
    if (!bytes)
        return ZR_ARGS;
    bytes->clear();
    if (!h || index < 0 || index >= h->count)
        return ZR_ARGS;
    if (const uint32_t rc = LoadItem(h, index); rc != ZR_OK)
        return rc;
    if (h->cached.item.attributes & kDirectory)
        return ZR_OK;
    if (h->cached.data.uncompressedSize > kMaxReadItem)
        return ZR_TOO_LARGE;
    // The recorded size is the archive's claim; memory grows with the data actually read.
    bytes->reserve(
        static_cast<size_t>(std::min<uint64_t>(h->cached.data.uncompressedSize, 1 << 20)));
    char buffer[kBufferSize];
    const uint32_t result = CopyData(h, buffer, [bytes](const char* p, size_t n) {
        bytes->append(p, n);
        return true;
    });
    if (result != ZR_OK)
        bytes->clear();
    return result;
}

uint32_t ArchiveClose(ArchiveHandle h) {
    if (!h)
        return ZR_ARGS;
    if (h->zip)
        unzClose(h->zip);
    delete h;
    return ZR_OK;
}

void CreateFolderPath(const std::filesystem::path* base, const std::u16string& relative) {
    const std::string baseText = base ? PathText(*base) : std::string();
    const bool absolute = !base && IsAbsoluteName(relative);
    OsHandle folder;
    OpenFolder(base ? &baseText : nullptr, ToDiskPath(relative), absolute, &folder);
}

uint32_t ArchiveSurveyEntries(ArchiveHandle h, ArchiveSurvey* survey) {
    if (!survey)
        return ZR_ARGS;
    *survey = ArchiveSurvey{};
    if (!h)
        return ZR_ARGS;
    // Every central record takes at least 46 bytes: a count beyond what the archive could hold
    // is not believed (nor given memory); the survey then reports the rest as unreachable.
    const size_t believable = static_cast<size_t>(
        std::min<uint64_t>(static_cast<uint64_t>(h->count), h->source.Size() / 46 + 1));
    if (!h->table) {
        auto table = std::make_shared<std::vector<EntryRecord>>(believable);
        for (size_t i = 0; i < believable; ++i)
            ReadRecord(h, static_cast<int>(i), &(*table)[i]);
        h->table = std::move(table);
        h->cachedIndex = -1;
    }
    // Each entry's local header and data must be its own: entries that share or overlap their
    // bytes let a small archive claim any amount of content.
    struct Span {
        uint64_t begin, end;
        int index;
    };
    std::vector<Span> spans;
    spans.reserve(h->table->size());
    survey->entries.reserve(h->table->size());
    for (const EntryRecord& r : *h->table) {
        ArchiveEntrySummary summary;
        summary.result = r.result;
        summary.method = r.method;
        summary.encrypted = r.encrypted;
        summary.uncompressedSize = r.data.uncompressedSize;
        if (r.result == ZR_OK) {
            summary.item = r.item;
            if (!(r.item.attributes & kDirectory))
                survey->unpackedBytes += r.data.uncompressedSize;
        }
        if (r.located) {
            const uint64_t end =
                r.data.start + std::min<uint64_t>(r.data.compressedSize, UINT64_MAX - r.data.start);
            spans.push_back({r.headerStart, end, static_cast<int>(survey->entries.size())});
        }
        survey->entries.push_back(std::move(summary));
    }
    std::sort(spans.begin(), spans.end(),
              [](const Span& a, const Span& b) { return a.begin < b.begin; });
    for (size_t i = 1; i < spans.size(); ++i) {
        if (spans[i].begin < spans[i - 1].end) {
            survey->overlapping = std::max(spans[i].index, spans[i - 1].index);
            vorn::log::Debug(Area::Models, "archive: entries " +
                                               std::to_string(spans[i - 1].index) + " and " +
                                               std::to_string(spans[i].index) +
                                               " overlap; the archive is refused");
            return ZR_OVERLAP;
        }
    }
    return believable < static_cast<size_t>(h->count) ? ZR_UNREACHABLE : ZR_OK;
}

ArchiveHandle ArchiveDuplicate(ArchiveHandle h) {
    if (!h || !h->table)
        return nullptr;
    auto copy = std::make_unique<ArchiveHandleImpl>();
    if (!copy->source.ShareOf(h->source))
        return nullptr;
    copy->count = h->count;
    copy->hasPassword = h->hasPassword;
    copy->password = h->password;
    copy->base = h->base;
    copy->baseUnits = h->baseUnits;
    copy->table = h->table;
    return copy.release();
}

}  // namespace vorn
