#include "models/archive/Archive.h"

#include "models/archive/ArchiveFolders.h"
#include "models/archive/ArchiveNames.h"
#include "models/archive/ArchiveSource.h"
#include "models/archive/ArchiveTimes.h"
#include "models/archive/EntryReader.h"
#include "platform/Logging.h"
#include "platform/UniqueFd.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <memory>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>
#include <unzip.h>

using namespace vorn::archive;

namespace {

constexpr size_t kBufferSize = 0x4000;
constexpr size_t kMaxName = 260;  // bytes of an entry name, and UTF-16 units of a path
constexpr uint64_t kMaxReadItem = 256ull << 20;
constexpr uint32_t kDirectory = 0x10;
constexpr uint32_t kReadOnly = 0x01;

using vorn::UniqueFd;

std::string ToDiskPath(std::u16string_view name) {
    std::string path = EncodeUtf8(name);
    std::replace(path.begin(), path.end(), '\\', '/');
    return path;
}

}  // namespace

struct ArchiveHandleImpl {
    ArchiveSource source;
    unzFile zip = nullptr;
    int count = 0;
    bool hasPassword = false;
    std::string password;
    std::string base;                     // absolute, UTF-8, as the system names it
    std::u16string baseUnits;             // the same ending in "/", for the path length limit
    std::unique_ptr<char[]> writeBuffer;  // allocated at the first extraction

    // Reader position: the entry minizip stands on, and the first entry known to be
    // unreachable (the archive never changes, so neither does that).
    int current = -1;
    int firstUnreachable = INT_MAX;

    // The last item returned, with what extraction needs of its central record.
    int cachedIndex = -1;
    ArchiveItem cached;
    unz_file_info64 cachedInfo{};
};

namespace {

bool SetBase(ArchiveHandleImpl* h, const std::filesystem::path& baseFolder) {
    std::error_code ec;
    std::filesystem::path base = baseFolder.empty() ? std::filesystem::current_path(ec)
                                                    : std::filesystem::absolute(baseFolder, ec);
    if (ec)
        return false;
    h->base = base.native();
    h->baseUnits = DecodeUtf8(h->base);
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
        qCDebug(lcModels) << "archive: no readable zip directory";
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
            qCDebug(lcModels) << "archive: entries from" << h->firstUnreachable
                              << "on cannot be reached";
            return ZR_UNREACHABLE;
        }
        ++h->current;
    }
    return ZR_OK;
}

uint32_t LoadItem(ArchiveHandleImpl* h, int index) {
    if (index == h->cachedIndex)
        return ZR_OK;
    h->cachedIndex = -1;
    if (const uint32_t rc = Position(h, index); rc != ZR_OK)
        return rc;

    unz_file_info64 info{};
    char name[kMaxName];
    if (unzGetCurrentFileInfo64(h->zip, &info, name, sizeof name, nullptr, 0, nullptr, 0) != UNZ_OK)
        return ZR_UNREACHABLE;
    if (info.size_filename >= kMaxName)
        return ZR_TOO_LONG;

    // minizip lets other methods through its header check; only stored and deflate are read.
    if (info.compression_method != 0 && info.compression_method != Z_DEFLATED)
        return ZR_CORRUPT;
    if (unzOpenCurrentFile2(h->zip, nullptr, nullptr, 1) != UNZ_OK)
        return ZR_CORRUPT;
    std::vector<uint8_t> extra(
        static_cast<size_t>(std::max(0, unzGetLocalExtrafield(h->zip, nullptr, 0))));
    const int extraRead =
        extra.empty() ? 0 : unzGetLocalExtrafield(h->zip, extra.data(), unsigned(extra.size()));
    unzCloseCurrentFile(h->zip);
    if (extraRead != static_cast<int>(extra.size()))
        return ZR_NOTFOUND_EXTRA;

    std::u16string decoded = DecodeUtf8(std::string_view(name, info.size_filename));
    ArchiveItem item;
    item.index = index;
    item.attributes = DecodeAttributes(static_cast<uint32_t>(info.external_fa),
                                       static_cast<uint32_t>(info.version));
    // Some tools mark folders only by the trailing separator; such a name cannot be a file.
    if (!decoded.empty() && IsSeparator(decoded.back()))
        item.attributes |= kDirectory;
    item.name = SanitiseEntryName(std::move(decoded));
    if (const uint32_t rc = CheckRelativeName(item.name); rc != ZR_OK) {
        qCInfo(lcModels) << "archive: refusing entry" << index
                         << "(its name climbs out or holds control characters)";
        return rc;
    }

    EntryTimes times;
    times.write = times.access = times.creation =
        DosTimeToFileTime(static_cast<uint32_t>(info.dosDate));
    ApplyUtExtraField(extra.data(), extra.size(), &times);
    item.writeTime = times.write;
    item.accessTime = times.access;
    item.creationTime = times.creation;
    item.compressedSize = static_cast<int32_t>(std::min<ZPOS64_T>(info.compressed_size, INT32_MAX));
    item.uncompressedSize =
        static_cast<int32_t>(std::min<ZPOS64_T>(info.uncompressed_size, INT32_MAX));

    h->cached = std::move(item);
    h->cachedInfo = info;
    h->cachedIndex = index;
    return ZR_OK;
}

// Streams the positioned, cached entry to `sink` in 16 KiB blocks up to its recorded size,
// then checks its length and CRC.
template <typename Sink>
uint32_t CopyData(ArchiveHandleImpl* h, char* buffer, Sink&& sink) {
    EntryReader reader;
    if (const uint32_t rc =
            reader.Open(h->zip, h->cachedInfo, h->hasPassword ? &h->password : nullptr);
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

bool WriteAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
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
        *item = h->cached;
    return rc;
}

uint32_t ArchiveExtractItem(ArchiveHandle h, int index, const std::u16string& targetName) {
    if (!h || index < 0 || index >= h->count)
        return ZR_ARGS;
    const uint32_t loaded = LoadItem(h, index);
    // An entry whose local header is unusable is still given its file (empty), as callers
    // that name their own targets expect; its data then counts as unreadable.
    if (loaded != ZR_OK && loaded != ZR_CORRUPT && loaded != ZR_NOTFOUND_EXTRA)
        return loaded;
    const ArchiveItem item = loaded == ZR_OK ? h->cached : ArchiveItem{};

    const bool isDirectory = item.attributes & kDirectory;
    const size_t split = targetName.find_last_of(u"\\/");
    const std::u16string_view folderPart =
        isDirectory ? std::u16string_view(targetName)
                    : std::u16string_view(targetName)
                          .substr(0, split == std::u16string::npos ? 0 : split + 1);
    const std::u16string_view filePart =
        isDirectory ? std::u16string_view()
                    : std::u16string_view(targetName).substr(folderPart.size());
    const bool absolute = IsAbsoluteName(folderPart);
    const uint32_t nameCheck =
        absolute ? CheckAbsoluteName(targetName) : CheckRelativeName(targetName);
    if (nameCheck != ZR_OK)
        return nameCheck;
    if ((absolute ? 0 : h->baseUnits.size()) + targetName.size() >= kMaxName)
        return ZR_TOO_LONG;

    UniqueFd folder;
    const uint32_t opened = OpenFolder(&h->base, ToDiskPath(folderPart), absolute, folder.out());
    if (isDirectory || opened != ZR_OK)
        return opened;

    UniqueFd file;
    if (const uint32_t rc = CreateFileAt(folder.get(), ToDiskPath(filePart),
                                         item.attributes & kReadOnly, file.out());
        rc != ZR_OK)
        return rc;
    if (loaded != ZR_OK)
        return ZR_FLATE;

    if (!h->writeBuffer)
        h->writeBuffer = std::make_unique<char[]>(kBufferSize);
    const int fd = file.get();
    const uint32_t result = CopyData(h, h->writeBuffer.get(),
                                     [fd](const char* p, size_t n) { return WriteAll(fd, p, n); });
    if (result == ZR_OK) {
        const timespec times[2] = {FileTimeToTimespec(item.accessTime),
                                   FileTimeToTimespec(item.writeTime)};
        ::futimens(fd, times);
    } else {
        qCDebug(lcModels) << "archive: entry" << index << "failed with" << Qt::hex << result;
    }
    return result;
}

uint32_t ArchiveReadItem(ArchiveHandle h, int index, std::string* bytes) {
    if (!bytes)
        return ZR_ARGS;
    bytes->clear();
    if (!h || index < 0 || index >= h->count)
        return ZR_ARGS;
    if (const uint32_t rc = LoadItem(h, index); rc != ZR_OK)
        return rc;
    if (h->cached.attributes & kDirectory)
        return ZR_OK;
    if (h->cachedInfo.uncompressed_size > kMaxReadItem)
        return ZR_TOO_LARGE;
    // The recorded size is the archive's claim; memory grows with the data actually read.
    bytes->reserve(
        static_cast<size_t>(std::min<uint64_t>(h->cachedInfo.uncompressed_size, 1 << 20)));
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
    unzClose(h->zip);
    delete h;
    return ZR_OK;
}

void CreateFolderPath(const std::filesystem::path* base, const std::u16string& relative) {
    const std::string baseText = base ? base->native() : std::string();
    const bool absolute = !base && IsAbsoluteName(relative);
    UniqueFd folder;
    OpenFolder(base ? &baseText : nullptr, ToDiskPath(relative), absolute, folder.out());
}
