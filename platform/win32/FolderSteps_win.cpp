// The folder steps on Windows. Each step is opened with NtCreateFile relative to the handle of
// the folder before it (OBJECT_ATTRIBUTES.RootDirectory), so no path is resolved again from the
// top, and with FILE_OPEN_REPARSE_POINT, so a symbolic link or junction is opened itself instead
// of what it names; its reparse tag then refuses it. Names go to the system as UTF-16.

#include "platform/FolderSteps.h"

#include "common/LogSink.h"
#include "platform/win32/FolderSteps_win.h"
#include "platform/win32/Text_win.h"

#include <windows.h>
#include <winternl.h>

#include <algorithm>
#include <vector>

namespace vorn::platform {

std::optional<std::wstring> win32::FinalPathOf(HANDLE handle) {
    std::wstring path(MAX_PATH, L'\0');
    DWORD length = GetFinalPathNameByHandleW(handle, path.data(), DWORD(path.size()), 0);
    if (length >= path.size()) {
        path.resize(length + 1);
        length = GetFinalPathNameByHandleW(handle, path.data(), DWORD(path.size()), 0);
    }
    if (length == 0 || length >= path.size())
        return std::nullopt;
    path.resize(length);
    return path;
}

std::wstring win32::SystemPath(const std::string& path) {
    std::wstring wide = win32::Utf8ToWide(path);
    std::replace(wide.begin(), wide.end(), L'/', L'\\');
    // "X:" alone means the current folder of drive X.
    if (wide.size() == 2 && wide[1] == L':')
        wide += L'.';
    return wide;
}

namespace {

using log::Area;
using platform::win32::Utf8ToWide;
using win32::IsLinkTag;
using win32::SystemPath;

constexpr NTSTATUS kNameCollision = static_cast<NTSTATUS>(0xC0000035);  // OBJECT_NAME_COLLISION
constexpr DWORD kMaxChunk = 1u << 30;

// The object attributes naming `name` (one step) below `folder`; `text` must outlive them.
void NameBelow(HANDLE folder,
               const std::wstring& name,
               UNICODE_STRING* text,
               OBJECT_ATTRIBUTES* object) {
    text->Buffer = const_cast<wchar_t*>(name.c_str());
    text->Length = text->MaximumLength = static_cast<USHORT>(name.size() * sizeof(wchar_t));
    InitializeObjectAttributes(object, text, OBJ_CASE_INSENSITIVE, folder, nullptr);
}

// NtCreateFile of `name` (one step) relative to `folder`.
NTSTATUS OpenRelative(HANDLE folder,
                      const std::wstring& name,
                      ACCESS_MASK access,
                      ULONG attributes,
                      ULONG disposition,
                      ULONG options,
                      HANDLE* out) {
    *out = nullptr;
    if (name.size() * sizeof(wchar_t) > 0xFFFE)
        return static_cast<NTSTATUS>(0xC0000033);  // OBJECT_NAME_INVALID
    UNICODE_STRING text;
    OBJECT_ATTRIBUTES object;
    NameBelow(folder, name, &text, &object);
    IO_STATUS_BLOCK io{};
    const NTSTATUS status =
        NtCreateFile(out, access | SYNCHRONIZE, &object, &io, nullptr, attributes,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, disposition,
                     options | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
    if (!NT_SUCCESS(status))
        *out = nullptr;
    return status;
}

// Whether the name `name` below `folder`, looked up by name, carries the reparse attribute.
bool NameShowsReparsePoint(HANDLE folder, const std::wstring& name) {
    // By the folder's path: Wine answers a lookup relative to a folder handle with "not found".
    std::optional<std::wstring> found = win32::FinalPathOf(folder);
    if (!found)
        return false;
    std::wstring path = std::move(*found);
    path += L'\\';
    path += name;
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// 1 when `opened`, just opened as `name` below `folder` with FILE_OPEN_REPARSE_POINT, is a link
// or came through one, 0 when not, -1 when that cannot be told. Windows opens the reparse point
// itself, so its own tag decides. Wine follows the host's symbolic links even then and shows
// them only by name (the reparse attribute, no tag on the handle): a name that shows a reparse
// point which the handle does not is a link that was followed.
int IsLinkOpened(HANDLE folder, const std::wstring& name, HANDLE opened) {
    FILE_ATTRIBUTE_TAG_INFO tag{};
    if (!GetFileInformationByHandleEx(opened, FileAttributeTagInfo, &tag, sizeof tag))
        return -1;
    if (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
        return IsLinkTag(tag.ReparseTag) ? 1 : 0;
    return NameShowsReparsePoint(folder, name) ? 1 : 0;
}

// Whether `name` below `folder` is a link, looked at without following it.
bool IsLinkAt(HANDLE folder, const std::wstring& name) {
    HANDLE probe = nullptr;
    if (!NT_SUCCESS(OpenRelative(folder, name, FILE_READ_ATTRIBUTES, 0, FILE_OPEN,
                                 FILE_OPEN_REPARSE_POINT, &probe)))
        return false;
    const bool link = IsLinkOpened(folder, name, probe) == 1;
    CloseHandle(probe);
    return link;
}

}  // namespace

// NTFS places folders without such a hint.
void MarkAsTopOfTree(NativeHandle) {}

void OsHandle::Reset(NativeHandle handle) {
    if (m_handle != kNoHandle)
        CloseHandle(m_handle);
    m_handle = handle == INVALID_HANDLE_VALUE ? kNoHandle : handle;
}

OsHandle OpenSystemFolder(const std::string& path, bool create) {
    const std::wstring wide = SystemPath(path);
    if (create && !CreateDirectoryW(wide.c_str(), nullptr) &&
        GetLastError() != ERROR_ALREADY_EXISTS)
        log::Debug(Area::Models, "archive: cannot create base folder " + path);
    // FILE_FLAG_BACKUP_SEMANTICS is what opens a folder at all.
    OsHandle folder(CreateFileW(
        wide.c_str(), FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
        FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION info{};
    if (!folder.Valid() || !GetFileInformationByHandle(folder.Get(), &info) ||
        !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return OsHandle();
    return folder;
}

size_t RootLength(std::string_view path) {
    if (path.size() >= 2 && path[0] == '/' && path[1] == '/') {
        // "//server/share/": the share is the root; a path naming no share has none to open.
        const size_t server = path.find('/', 2);
        if (server == std::string_view::npos)
            return path.size();
        const size_t share = path.find('/', server + 1);
        return share == std::string_view::npos ? path.size() : share + 1;
    }
    if (path.size() >= 2 && path[1] == ':')
        return path.size() >= 3 && path[2] == '/' ? 3 : 2;
    return !path.empty() && path[0] == '/' ? 1 : 0;
}

StepResult OpenFolderStep(NativeHandle folder,
                          const std::string& name,
                          bool followLinks,
                          bool create,
                          OsHandle* out) {
    const std::wstring wide = Utf8ToWide(name);
    HANDLE opened = nullptr;
    // One call opens the folder or makes it, so another extraction making the same folder at
    // the same time is no failure.
    const NTSTATUS status =
        OpenRelative(folder, wide, FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES,
                     FILE_ATTRIBUTE_NORMAL, create ? FILE_OPEN_IF : FILE_OPEN,
                     FILE_DIRECTORY_FILE | (followLinks ? 0 : FILE_OPEN_REPARSE_POINT), &opened);
    if (NT_SUCCESS(status)) {
        OsHandle step(opened);
        const int link = followLinks ? 0 : IsLinkOpened(folder, wide, step.Get());
        if (link != 0) {
            log::Info(Area::Models, "archive: refusing to follow the link or junction " + name);
            return link > 0 ? StepResult::Link : StepResult::Failed;
        }
        *out = std::move(step);
        return StepResult::Ok;
    }
    // A link to a file is no folder, yet a link all the same.
    if (!followLinks && IsLinkAt(folder, wide)) {
        log::Info(Area::Models, "archive: refusing to follow the link " + name);
        return StepResult::Link;
    }
    log::Debug(Area::Models, "archive: cannot open or create folder " + name + ": " +
                                 platform::win32::ErrorText(RtlNtStatusToDosError(status)));
    return StepResult::Failed;
}

namespace {
constexpr ULONG kFileOptions = FILE_NON_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT;
constexpr ACCESS_MASK kFileWrite = GENERIC_WRITE | FILE_READ_ATTRIBUTES;

// What stands at the name is looked at as it is (a link itself, not what it names); a link, a
// folder, a device or a read-only file is kept rather than replaced.
StepResult CheckReplaceable(NativeHandle folder,
                            const std::wstring& wide,
                            const std::string& name) {
    HANDLE existing = nullptr;
    if (!NT_SUCCESS(OpenRelative(folder, wide, FILE_READ_ATTRIBUTES, 0, FILE_OPEN,
                                 FILE_OPEN_REPARSE_POINT, &existing)))
        return StepResult::Failed;
    OsHandle probe(existing);
    FILE_ATTRIBUTE_TAG_INFO tag{};
    if (!GetFileInformationByHandleEx(probe.Get(), FileAttributeTagInfo, &tag, sizeof tag))
        return StepResult::Failed;
    if (IsLinkOpened(folder, wide, probe.Get()) != 0) {
        log::Info(Area::Models, "archive: refusing to write through the link " + name);
        return StepResult::Link;
    }
    // A read-only file is kept, as a folder or device in the way is.
    if (tag.FileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY) ||
        GetFileType(probe.Get()) != FILE_TYPE_DISK)
        return StepResult::Failed;
    return StepResult::Ok;
}

// The temporary name only has to be unique among concurrent extractions into this folder;
// a clash is retried with the next name, anything else is a failure.
StepResult CreateTemporary(NativeHandle folder, bool readOnly, OsHandle* file) {
    for (int attempt = 0; attempt < 8 && !file->Valid(); ++attempt) {
        const std::wstring temporary =
            L".vorn-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
            std::to_wstring(GetTickCount64() + static_cast<unsigned>(attempt)) + L".part";
        HANDLE fresh = nullptr;
        const NTSTATUS made =
            OpenRelative(folder, temporary, kFileWrite | DELETE,
                         readOnly ? FILE_ATTRIBUTE_READONLY : FILE_ATTRIBUTE_NORMAL, FILE_CREATE,
                         kFileOptions, &fresh);
        if (NT_SUCCESS(made))
            *file = OsHandle(fresh);
        else if (made != kNameCollision)
            return StepResult::Failed;
    }
    return file->Valid() ? StepResult::Ok : StepResult::Failed;
}

// The new content goes into a new file that then takes the name, instead of into the file
// that stands there: whatever that name turns out to be by then (Wine follows the host's
// symbolic links to files even when told not to, and shows no sign of them), it is replaced,
// never written through.
StepResult ReplaceThroughTemporary(NativeHandle folder,
                                   const std::wstring& wide,
                                   bool readOnly,
                                   OsHandle* out) {
    OsHandle file;
    if (const StepResult rc = CreateTemporary(folder, readOnly, &file); rc != StepResult::Ok)
        return rc;
    std::vector<char> buffer(sizeof(FILE_RENAME_INFORMATION) + wide.size() * sizeof(wchar_t));
    auto* rename = reinterpret_cast<FILE_RENAME_INFORMATION*>(buffer.data());
    rename->ReplaceIfExists = TRUE;
    rename->RootDirectory = folder;
    rename->FileNameLength = static_cast<ULONG>(wide.size() * sizeof(wchar_t));
    std::copy(wide.begin(), wide.end(), rename->FileName);
    IO_STATUS_BLOCK io{};
    if (!NT_SUCCESS(NtSetInformationFile(file.Get(), &io, rename, static_cast<ULONG>(buffer.size()),
                                         FileRenameInformation))) {
        FILE_DISPOSITION_INFO gone{TRUE};
        SetFileInformationByHandle(file.Get(), FileDispositionInfo, &gone, sizeof gone);
        return StepResult::Failed;
    }
    *out = std::move(file);
    return StepResult::Ok;
}
}  // namespace

StepResult CreateFileAt(NativeHandle folder,
                        const std::string& name,
                        bool readOnly,
                        OsHandle* out) {
    *out = OsHandle();
    // The archive refuses a name with a meaning of its own (kStepNamesHaveSystemMeanings)
    // before anything is made.
    if (name.empty() || name == "." || name == "..")
        return StepResult::Failed;
    const std::wstring wide = Utf8ToWide(name);
    // Usually nothing is there yet: one exclusive create, which cannot meet a link.
    HANDLE created = nullptr;
    const NTSTATUS status = OpenRelative(folder, wide, kFileWrite,
                                         readOnly ? FILE_ATTRIBUTE_READONLY : FILE_ATTRIBUTE_NORMAL,
                                         FILE_CREATE, kFileOptions, &created);
    if (NT_SUCCESS(status)) {
        // The read-only attribute stops later opens for writing, not this handle.
        *out = OsHandle(created);
        return StepResult::Ok;
    }
    if (status != kNameCollision)
        return IsLinkAt(folder, wide) ? StepResult::Link : StepResult::Failed;
    if (const StepResult rc = CheckReplaceable(folder, wide, name); rc != StepResult::Ok)
        return rc;
    return ReplaceThroughTemporary(folder, wide, readOnly, out);
}

bool WriteAll(NativeHandle file, const char* data, size_t size) {
    while (size > 0) {
        DWORD written = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(size, kMaxChunk));
        if (!WriteFile(file, data, chunk, &written, nullptr) || written == 0)
            return false;
        data += written;
        size -= written;
    }
    return true;
}

namespace {

constexpr int64_t kSecondsFrom1601To1970 = 11644473600LL;
constexpr int64_t kTicksPerSecond = 10000000LL;

// A stamp in FILETIME's 100 ns ticks since 1601; 0 when not known or not representable.
int64_t ToFileTimeTicks(FileStamp stamp) {
    if (!stamp.known)
        return 0;
    return (stamp.seconds + kSecondsFrom1601To1970) * kTicksPerSecond + stamp.nanoseconds / 100;
}

}  // namespace

void SetFileTimes(NativeHandle file, FileStamp creation, FileStamp access, FileStamp write) {
    FILETIME times[3];
    const int64_t values[3] = {ToFileTimeTicks(creation), ToFileTimeTicks(access),
                               ToFileTimeTicks(write)};
    FILETIME* given[3] = {};
    for (int i = 0; i < 3; ++i) {
        if (values[i] <= 0)
            continue;
        times[i].dwLowDateTime = static_cast<DWORD>(values[i] & 0xFFFFFFFF);
        times[i].dwHighDateTime = static_cast<DWORD>(static_cast<uint64_t>(values[i]) >> 32);
        given[i] = &times[i];
    }
    SetFileTime(file, given[0], given[1], given[2]);
}

OsHandle OpenFileForReading(const std::string& path, uint64_t* size) {
    const std::wstring wide = SystemPath(path);
    // Without FILE_FLAG_BACKUP_SEMANTICS a folder does not open; a device is no disk file.
    OsHandle file(CreateFileW(wide.c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER length{};
    if (!file.Valid() || GetFileType(file.Get()) != FILE_TYPE_DISK ||
        !GetFileSizeEx(file.Get(), &length) || length.QuadPart < 0)
        return OsHandle();
    *size = static_cast<uint64_t>(length.QuadPart);
    return file;
}

OsHandle Duplicate(NativeHandle handle) {
    HANDLE copy = nullptr;
    if (handle == kNoHandle || !DuplicateHandle(GetCurrentProcess(), handle, GetCurrentProcess(),
                                                &copy, 0, FALSE, DUPLICATE_SAME_ACCESS))
        return OsHandle();
    return OsHandle(copy);
}

long ReadFileAt(NativeHandle file, uint64_t offset, void* into, size_t size) {
    size_t done = 0;
    while (done < size) {
        // The offset is given with each read; the handle's own position is not relied on, so
        // handles shared by Duplicate read independently (the system orders their reads).
        OVERLAPPED at{};
        const uint64_t position = offset + done;
        at.Offset = static_cast<DWORD>(position & 0xFFFFFFFF);
        at.OffsetHigh = static_cast<DWORD>(position >> 32);
        DWORD got = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(size - done, kMaxChunk));
        if (!ReadFile(file, static_cast<char*>(into) + done, chunk, &got, &at)) {
            if (GetLastError() == ERROR_HANDLE_EOF)
                break;
            return -1;
        }
        if (got == 0)
            break;
        done += got;
    }
    return static_cast<long>(done);
}

// Files of an earlier extraction are not reused here (see FolderSteps.h): every file is written.
bool LookAt(NativeHandle, const std::string&, FileFacts*) {
    return false;
}

bool LookAt(NativeHandle, FileFacts*) {
    return false;
}

OsHandle OpenFileBelow(NativeHandle, const std::string&) {
    return OsHandle();
}

OsHandle OpenFolderBelow(NativeHandle, const std::string&) {
    return OsHandle();
}

bool HardLink(NativeHandle, NativeHandle, const std::string&) {
    return false;
}

bool RemoveFileName(NativeHandle, const std::string&) {
    return false;
}

}  // namespace vorn::platform
