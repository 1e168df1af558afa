#include "platform/RegularFile.h"

#include "platform/win32/Text_win.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <algorithm>

namespace vorn::platform {

void CloseDescriptor(int fd) {
    _close(fd);
}
namespace {

void Set(FileReadError* why, FileReadError value) {
    if (why)
        *why = value;
}

FileReadError FromError(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_NAME:
            return FileReadError::Missing;
        default:
            return FileReadError::Unreadable;
    }
}

HANDLE Open(const std::wstring& path, DWORD flags) {
    // Shared for writing and deletion: a file another program holds open is still read, as
    // on Linux. Opening never waits: a pipe without a free instance fails at once.
    return CreateFileW(path.c_str(), GENERIC_READ,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, flags, nullptr);
}

// Symbolic links and junctions are the reparse points that lead elsewhere; others (cloud or
// deduplicated files) are the file's own data and are read through the file system.
bool IsLinkTag(DWORD tag) {
    return tag == IO_REPARSE_TAG_SYMLINK || tag == IO_REPARSE_TAG_MOUNT_POINT;
}

// A handle to `path` only when it is a regular file, or INVALID_HANDLE_VALUE with the reason.
HANDLE OpenRegularHandle(const std::string& path, LinkPolicy links, FileReadError* why) {
    const std::wstring wide = win32::Utf8ToWide(path);
    // FILE_FLAG_OPEN_REPARSE_POINT opens a link itself instead of what it names, so it can be
    // recognised and refused; without FILE_FLAG_BACKUP_SEMANTICS a folder does not open at all.
    HANDLE file = Open(wide, links == LinkPolicy::Refuse ? FILE_FLAG_OPEN_REPARSE_POINT : 0);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        const DWORD attributes = GetFileAttributesW(wide.c_str());
        // A link whose target is missing fails to open at all; it is still a link.
        const bool known = attributes != INVALID_FILE_ATTRIBUTES;
        Set(why, known && links == LinkPolicy::Refuse && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
                     ? FileReadError::Link
                 : known && (attributes & FILE_ATTRIBUTE_DIRECTORY) ? FileReadError::NotRegular
                                                                    : FromError(error));
        return INVALID_HANDLE_VALUE;
    }
    FILE_ATTRIBUTE_TAG_INFO tag{};
    if (links == LinkPolicy::Refuse &&
        GetFileInformationByHandleEx(file, FileAttributeTagInfo, &tag, sizeof tag) &&
        (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        CloseHandle(file);
        if (IsLinkTag(tag.ReparseTag)) {
            Set(why, FileReadError::Link);
            return INVALID_HANDLE_VALUE;
        }
        file = Open(wide, 0);
        if (file == INVALID_HANDLE_VALUE) {
            Set(why, FromError(GetLastError()));
            return INVALID_HANDLE_VALUE;
        }
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (GetFileType(file) != FILE_TYPE_DISK || !GetFileInformationByHandle(file, &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        CloseHandle(file);
        Set(why, FileReadError::NotRegular);
        return INVALID_HANDLE_VALUE;
    }
    Set(why, FileReadError::None);
    return file;
}

// Reads up to `size` bytes; -1 on an error.
long long ReadSome(HANDLE file, char* data, std::size_t size) {
    DWORD got = 0;
    const DWORD ask = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
    if (!ReadFile(file, data, ask, &got, nullptr))
        return -1;
    return got;
}

}  // namespace

UniqueFd OpenRegularFile(const std::string& path, LinkPolicy links, FileReadError* why) {
    HANDLE file = OpenRegularHandle(path, links, why);
    if (file == INVALID_HANDLE_VALUE)
        return UniqueFd();
    // The descriptor owns the handle from here on; closing it closes the handle.
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_RDONLY | _O_BINARY);
    if (fd < 0) {
        CloseHandle(file);
        Set(why, FileReadError::Unreadable);
    }
    return UniqueFd(fd);
}

UniqueFd OpenRegularFileToAppend(const std::string& path, FileReadError* why) {
    const std::wstring wide = win32::Utf8ToWide(path);
    // FILE_FLAG_OPEN_REPARSE_POINT: a link opens as itself and is refused below, never
    // followed. A pipe or device is not a disk file and is refused the same way.
    HANDLE file =
        CreateFileW(wide.c_str(), FILE_APPEND_DATA | FILE_READ_ATTRIBUTES,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        Set(why, FileReadError::Unreadable);
        return UniqueFd();
    }
    FILE_ATTRIBUTE_TAG_INFO tag{};
    const bool link = GetFileInformationByHandleEx(file, FileAttributeTagInfo, &tag, sizeof tag) &&
                      (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
                      IsLinkTag(tag.ReparseTag);
    if (link || GetFileType(file) != FILE_TYPE_DISK ||
        (tag.FileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        CloseHandle(file);
        Set(why, link ? FileReadError::Link : FileReadError::NotRegular);
        return UniqueFd();
    }
    const int fd =
        _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_WRONLY | _O_APPEND | _O_BINARY);
    if (fd < 0) {
        CloseHandle(file);
        Set(why, FileReadError::Unreadable);
        return UniqueFd();
    }
    Set(why, FileReadError::None);
    return UniqueFd(fd);
}

bool StreamRegularFile(const std::string& path,
                       std::size_t maxBytes,
                       LinkPolicy links,
                       const std::function<void(std::string_view piece)>& consume,
                       FileReadError* why) {
    HANDLE file = OpenRegularHandle(path, links, why);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    std::string buffer(std::size_t{1} << 20, '\0');
    std::size_t total = 0;
    bool ok = true;
    for (;;) {
        const long long n = ReadSome(file, buffer.data(), buffer.size());
        if (n < 0) {
            Set(why, FileReadError::Unreadable);
            ok = false;
            break;
        }
        if (n == 0)
            break;
        total += static_cast<std::size_t>(n);
        if (total > maxBytes) {
            Set(why, FileReadError::TooLarge);
            ok = false;
            break;
        }
        consume(std::string_view(buffer.data(), static_cast<std::size_t>(n)));
    }
    CloseHandle(file);
    return ok;
}

std::optional<std::string> ReadRegularFile(const std::string& path,
                                           std::size_t maxBytes,
                                           LinkPolicy links,
                                           FileReadError* why) {
    std::string out;
    if (!StreamRegularFile(
            path, maxBytes, links, [&out](std::string_view piece) { out.append(piece); }, why))
        return std::nullopt;
    return out;
}

}  // namespace vorn::platform
