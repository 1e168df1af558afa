// The whole-folder operations on Windows. Where Windows has no equivalent of the Linux call the
// operation says so (false, with the reason as the thread's last error) rather than doing a
// weaker thing under the same name: folders are not exchanged in one step, and the file system is
// flushed only where the volume itself may be opened. Paths go to the system as UTF-16.

#include "platform/FolderTree.h"

#include "platform/win32/FolderSteps_win.h"
#include "platform/win32/Text_win.h"

#include <windows.h>

#include <accctrl.h>
#include <aclapi.h>
#include <sddl.h>
#include <winternl.h>

#include <algorithm>
#include <vector>

namespace vorn::platform {

namespace {

using platform::win32::IsLinkTag;
using platform::win32::SystemPath;
using platform::win32::Utf8ToWide;

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// ERROR_STOPPED_ON_SYMLINK, which older mingw-w64 headers lack.
constexpr DWORD kStoppedOnLink = 681;
constexpr DWORD kListAccess =
    FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | SYNCHRONIZE;

// Whether the name `path` carries the reparse attribute. Wine follows the host's symbolic links
// even when told to open the reparse point itself, and shows them only by name.
bool NameShowsReparsePoint(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// A name-surrogate reparse point (symbolic link, junction) is a link; so is a reparse point
// whose tag the listing does not give (Wine's view of the host's links). Other reparse points
// (cloud placeholders, deduplicated files) are the file or folder itself.
EntryKind KindOf(DWORD attributes, DWORD reparseTag) {
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) && (reparseTag == 0 || IsLinkTag(reparseTag)))
        return EntryKind::Link;
    return attributes & FILE_ATTRIBUTE_DIRECTORY ? EntryKind::Folder : EntryKind::Regular;
}

// Reads the entries of `folder` from its start, moving the position of that handle only.
std::map<std::string, EntryKind> ReadEntries(HANDLE folder, std::error_code& error) {
    std::map<std::string, EntryKind> children;
    // Aligned for the records, which hold 64-bit fields.
    std::vector<LONGLONG> buffer(64 * 1024 / sizeof(LONGLONG));
    FILE_INFO_BY_HANDLE_CLASS query = FileFullDirectoryRestartInfo;
    for (;;) {
        if (!GetFileInformationByHandleEx(folder, query, buffer.data(),
                                          DWORD(buffer.size() * sizeof(LONGLONG)))) {
            const DWORD failure = GetLastError();
            // system_category carries the system's own message and maps to std::errc.
            if (failure != ERROR_NO_MORE_FILES)
                error = std::error_code(int(failure), std::system_category());
            return children;
        }
        query = FileFullDirectoryInfo;
        const char* at = reinterpret_cast<const char*>(buffer.data());
        for (;;) {
            const auto* entry = reinterpret_cast<const FILE_FULL_DIR_INFO*>(at);
            const std::wstring_view name(entry->FileName, entry->FileNameLength / sizeof(wchar_t));
            if (name != L"." && name != L"..") {
                // For a reparse point the field of extended attributes' size holds its tag.
                const DWORD tag =
                    entry->FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT ? entry->EaSize : 0;
                children.emplace(win32::WideToUtf8(name), KindOf(entry->FileAttributes, tag));
            }
            if (entry->NextEntryOffset == 0)
                break;
            at += entry->NextEntryOffset;
        }
    }
}

// A handle of its own on the folder or file `handle` is open on, with `access`; the reparse
// point itself, never what it names.
OsHandle Reopen(HANDLE handle, DWORD access) {
    return OsHandle(ReOpenFile(handle, access, kShareAll,
                               FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT));
}

// The string form of the SID of the user this process runs as; empty when it cannot be told.
std::wstring CurrentUserSid() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return {};
    std::vector<LONGLONG> buffer(64);
    DWORD size = 0;
    bool known = GetTokenInformation(token, TokenUser, buffer.data(),
                                     DWORD(buffer.size() * sizeof(LONGLONG)), &size);
    if (!known && GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
        buffer.resize(size / sizeof(LONGLONG) + 1);
        known = GetTokenInformation(token, TokenUser, buffer.data(),
                                    DWORD(buffer.size() * sizeof(LONGLONG)), &size);
    }
    CloseHandle(token);
    wchar_t* text = nullptr;
    if (!known ||
        !ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &text))
        return {};
    std::wstring sid = text;
    LocalFree(text);
    return sid;
}

}  // namespace

OsHandle OpenFolderPath(const std::string& path, bool* missing) {
    const std::wstring wide = SystemPath(path);
    // FILE_FLAG_BACKUP_SEMANTICS is what opens a folder at all; FILE_FLAG_OPEN_REPARSE_POINT opens
    // a link or junction itself, which its tag then refuses.
    OsHandle folder(CreateFileW(wide.c_str(), kListAccess, kShareAll, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                nullptr));
    if (missing) {
        const DWORD failure = GetLastError();
        *missing =
            !folder.Valid() && (failure == ERROR_FILE_NOT_FOUND || failure == ERROR_PATH_NOT_FOUND);
    }
    if (!folder.Valid())
        return folder;
    FILE_ATTRIBUTE_TAG_INFO tag{};
    if (!GetFileInformationByHandleEx(folder.Get(), FileAttributeTagInfo, &tag, sizeof tag))
        return OsHandle();
    if (((tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) && IsLinkTag(tag.ReparseTag)) ||
        (!(tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) && NameShowsReparsePoint(wide))) {
        SetLastError(kStoppedOnLink);
        return OsHandle();
    }
    if (!(tag.FileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        SetLastError(ERROR_DIRECTORY);
        return OsHandle();
    }
    return folder;
}

std::optional<uint64_t> FreeSpace(const std::string& folder) {
    std::wstring wide = SystemPath(folder);
    // A UNC path is taken only with its trailing separator.
    if (!wide.empty() && wide.back() != L'\\')
        wide += L'\\';
    ULARGE_INTEGER available{}, total{}, free{};
    if (!GetDiskFreeSpaceExW(wide.c_str(), &available, &total, &free))
        return std::nullopt;
    // What this user may still write: quotas included, as statvfs's f_bavail.
    return uint64_t(available.QuadPart);
}

std::map<std::string, EntryKind> ListFolder(const std::string& path, std::error_code& error) {
    const OsHandle folder(CreateFileW(SystemPath(path).c_str(), kListAccess, kShareAll, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!folder.Valid()) {
        error = std::error_code(int(GetLastError()), std::system_category());
        return {};
    }
    return ReadEntries(folder.Get(), error);
}

std::map<std::string, EntryKind> ListFolder(NativeHandle folder, std::error_code& error) {
    // A handle of its own: the position of a listing belongs to the handle.
    const OsHandle own = Reopen(folder, kListAccess);
    if (!own.Valid()) {
        error = std::error_code(int(GetLastError()), std::system_category());
        return {};
    }
    return ReadEntries(own.Get(), error);
}

bool MakePrivateFolder(NativeHandle folder, const std::string& name) {
    // Protected from the parent's inheritable entries: only the user this process runs as may
    // use the folder (and what is made in it) until SetPermissions opens it.
    const std::wstring sid = CurrentUserSid();
    if (sid.empty())
        return false;
    const std::wstring sddl = L"D:P(A;OICI;FA;;;" + sid + L")";
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1,
                                                              &descriptor, nullptr))
        return false;
    const std::wstring wide = Utf8ToWide(name);
    UNICODE_STRING text;
    text.Buffer = const_cast<wchar_t*>(wide.c_str());
    text.Length = text.MaximumLength = USHORT(std::min<size_t>(wide.size() * 2, 0xFFFE));
    OBJECT_ATTRIBUTES object;
    InitializeObjectAttributes(&object, &text, OBJ_CASE_INSENSITIVE, folder, descriptor);
    IO_STATUS_BLOCK io{};
    HANDLE made = nullptr;
    const NTSTATUS status =
        name.empty() || wide.size() * 2 > 0xFFFE
            ? static_cast<NTSTATUS>(0xC0000033)  // OBJECT_NAME_INVALID
            : NtCreateFile(&made, FILE_LIST_DIRECTORY | SYNCHRONIZE, &object, &io, nullptr,
                           FILE_ATTRIBUTE_NORMAL, kShareAll, FILE_CREATE,
                           FILE_DIRECTORY_FILE | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
    LocalFree(descriptor);
    if (!NT_SUCCESS(status)) {
        SetLastError(RtlNtStatusToDosError(status));
        return false;
    }
    CloseHandle(made);
    return true;
}

// Windows keeps no POSIX bits. What they say is mapped where Windows has a like: a file nobody
// may write (no 0200) is read-only, and a folder others may use (any of 0077) takes its parent's
// inheritable entries again, undoing MakePrivateFolder's. Nothing else of the bits is kept.
bool SetPermissions(NativeHandle handle, uint32_t permissions) {
    // A handle of its own that may change attributes, whatever `handle` may.
    const OsHandle attributes = Reopen(handle, FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES);
    FILE_BASIC_INFO basic{};
    if (!attributes.Valid() ||
        !GetFileInformationByHandleEx(attributes.Get(), FileBasicInfo, &basic, sizeof basic))
        return false;
    if (!(basic.FileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        const DWORD wanted = permissions & 0200
                                 ? basic.FileAttributes & ~DWORD(FILE_ATTRIBUTE_READONLY)
                                 : basic.FileAttributes | FILE_ATTRIBUTE_READONLY;
        if (wanted == basic.FileAttributes)
            return true;
        FILE_BASIC_INFO change{};  // times left as they are (zero)
        change.FileAttributes = wanted == 0 ? FILE_ATTRIBUTE_NORMAL : wanted;
        return SetFileInformationByHandle(attributes.Get(), FileBasicInfo, &change, sizeof change);
    }
    if (!(permissions & 0077))
        return true;
    const OsHandle own = Reopen(handle, READ_CONTROL | WRITE_DAC);
    if (!own.Valid())
        return false;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    DWORD rc = GetSecurityInfo(own.Get(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                               nullptr, &dacl, nullptr, &descriptor);
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    if (rc == ERROR_SUCCESS && GetSecurityDescriptorControl(descriptor, &control, &revision) &&
        (control & SE_DACL_PROTECTED))
        rc = SetSecurityInfo(own.Get(), SE_FILE_OBJECT,
                             DACL_SECURITY_INFORMATION | UNPROTECTED_DACL_SECURITY_INFORMATION,
                             nullptr, nullptr, dacl, nullptr);
    if (descriptor)
        LocalFree(descriptor);
    if (rc != ERROR_SUCCESS) {
        SetLastError(rc);
        return false;
    }
    return true;
}

// Flushing a whole volume needs its handle, which only an administrator may open for writing;
// without one this is false (the caller then does without the ordering it asked for).
bool FlushFileSystem(NativeHandle handle) {
    const std::optional<std::wstring> path = win32::FinalPathOf(handle);
    if (!path)
        return false;
    std::wstring root(path->size() + 1, L'\0');
    if (!GetVolumePathNameW(path->c_str(), root.data(), DWORD(root.size())))
        return false;
    root.resize(wcslen(root.c_str()));
    // The volume's device ("\\?\Volume{...}" or "\\?\C:"), without the trailing separator.
    std::wstring volume(64, L'\0');
    if (GetVolumeNameForVolumeMountPointW(root.c_str(), volume.data(), DWORD(volume.size())))
        volume.resize(wcslen(volume.c_str()));
    else
        volume = root;
    if (!volume.empty() && volume.back() == L'\\')
        volume.pop_back();
    const OsHandle device(CreateFileW(volume.c_str(), GENERIC_READ | GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                      nullptr));
    return device.Valid() && FlushFileBuffers(device.Get());
}

bool MoveFolderNoReplace(const std::string& from, const std::string& to) {
    // Without MOVEFILE_REPLACE_EXISTING nothing standing at `to` is replaced, and without
    // MOVEFILE_COPY_ALLOWED a folder is never copied to another volume.
    return MoveFileExW(SystemPath(from).c_str(), SystemPath(to).c_str(), 0);
}

// NTFS has no exchange of two names in one step (transactional NTFS could, but is deprecated
// and absent from Wine). Two renames would show a reader a moment with neither folder, so
// nothing is done and the caller takes its slower way.
bool ExchangeFolders(const std::string&, const std::string&) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return false;
}

// What stands at the name is opened as itself and looked at first. A link Windows shows is
// removed through that handle. A file is not, nor by DeleteFileW: under Wine a handle or name of
// the host's link to a file reaches the file it names, with no sign of the link. Instead an
// empty file of ours takes the name (a rename replaces a link, never what it names) and is
// removed through its own handle. A folder, or a link to one that Windows cannot open as itself,
// is refused.
bool RemoveFileIfPresent(const std::string& path) {
    const std::wstring wide = SystemPath(path);
    OsHandle file(CreateFileW(wide.c_str(), DELETE | FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                              OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file.Valid()) {
        const DWORD failure = GetLastError();
        return failure == ERROR_FILE_NOT_FOUND || failure == ERROR_PATH_NOT_FOUND;
    }
    FILE_ATTRIBUTE_TAG_INFO tag{};
    if (!GetFileInformationByHandleEx(file.Get(), FileAttributeTagInfo, &tag, sizeof tag))
        return false;
    FILE_DISPOSITION_INFO gone{TRUE};
    if ((tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) && IsLinkTag(tag.ReparseTag))
        return SetFileInformationByHandle(file.Get(), FileDispositionInfo, &gone, sizeof gone);
    if (tag.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        SetLastError(NameShowsReparsePoint(wide) ? kStoppedOnLink : ERROR_ACCESS_DENIED);
        return false;
    }
    file.Reset();  // an open file cannot be replaced
    std::wstring full(MAX_PATH, L'\0');
    DWORD length = GetFullPathNameW(wide.c_str(), DWORD(full.size()), full.data(), nullptr);
    if (length >= full.size()) {
        full.resize(length + 1);
        length = GetFullPathNameW(wide.c_str(), DWORD(full.size()), full.data(), nullptr);
    }
    if (length == 0 || length >= full.size())
        return false;
    full.resize(length);
    const std::wstring folder = full.substr(0, full.find_last_of(L'\\') + 1);
    OsHandle ours;
    for (int attempt = 0; attempt < 8 && !ours.Valid(); ++attempt) {
        const std::wstring temporary =
            folder + L".vorn-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
            std::to_wstring(GetTickCount64() + unsigned(attempt)) + L".gone";
        ours = OsHandle(CreateFileW(temporary.c_str(), DELETE | GENERIC_WRITE, kShareAll, nullptr,
                                    CREATE_NEW, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        if (!ours.Valid() && GetLastError() != ERROR_FILE_EXISTS)
            return false;
    }
    if (!ours.Valid())
        return false;
    // The system's own form of the path, as the rename takes it.
    std::wstring target = L"\\??\\" + full;
    if (full.rfind(L"\\\\?\\", 0) == 0)
        target = L"\\??\\" + full.substr(4);
    else if (full.rfind(L"\\\\", 0) == 0)
        target = L"\\??\\UNC" + full.substr(1);
    std::vector<char> buffer(sizeof(FILE_RENAME_INFO) + target.size() * sizeof(wchar_t));
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    rename->ReplaceIfExists = TRUE;
    rename->RootDirectory = nullptr;
    rename->FileNameLength = DWORD(target.size() * sizeof(wchar_t));
    std::copy(target.begin(), target.end(), rename->FileName);
    const bool replaced =
        SetFileInformationByHandle(ours.Get(), FileRenameInfo, rename, DWORD(buffer.size()));
    const DWORD failure = GetLastError();
    const bool removed =
        SetFileInformationByHandle(ours.Get(), FileDispositionInfo, &gone, sizeof gone);
    if (!replaced)
        SetLastError(failure);
    return replaced && removed;
}

OsHandle CreateNewFile(const std::string& path) {
    // CREATE_NEW fails on any name that stands, a link included; others may read the file and
    // remove it while it is written, as on Linux.
    return OsHandle(CreateFileW(SystemPath(path).c_str(), GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
}

// CloseHandle reports no failure of the delayed writes; what it reports is passed on.
bool CloseFile(OsHandle* file) {
    const HANDLE handle = file->Release();
    return handle == kNoHandle || CloseHandle(handle);
}

std::string LastFailureText() {
    return win32::ErrorText(GetLastError());
}

}  // namespace vorn::platform
