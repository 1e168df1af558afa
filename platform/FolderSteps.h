#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// Files and folders opened one step at a time relative to an open folder, never through a link
// unless asked: the steps the archive's extraction and the model installer build their walks
// from. Descriptors, *at calls and O_NOFOLLOW on Linux; handles opened relative to a folder
// handle that refuse reparse points on Windows. Names are UTF-8 single steps unless said
// otherwise. Safe on any thread; returned handles belong to the caller.
namespace vorn::platform {

// The handle type is the system's own, so a step costs no translation (this header is the one
// place that chooses).
// kStepNamesHaveSystemMeanings: whether a name step can mean something other than a file or
// folder of that name (devices, trailing dots or spaces, streams): so on Windows; on Linux every
// name but "." and ".." is plain. kWidePaths: whether the system's paths are UTF-16 (Windows)
// rather than bytes.
#ifdef _WIN32
using NativeHandle = void*;  // a HANDLE
inline constexpr NativeHandle kNoHandle = nullptr;
inline constexpr bool kStepNamesHaveSystemMeanings = true;
inline constexpr bool kWidePaths = true;
#else
using NativeHandle = int;  // a descriptor
inline constexpr NativeHandle kNoHandle = -1;
inline constexpr bool kStepNamesHaveSystemMeanings = false;
inline constexpr bool kWidePaths = false;
#endif

// Owns one open folder or file of the system and closes it when it goes.
class OsHandle {
public:
    OsHandle() = default;
    // Takes over `handle`; a failed open's value (-1, or INVALID_HANDLE_VALUE) is no handle.
    explicit OsHandle(NativeHandle handle) { Reset(handle); }
    ~OsHandle() { Reset(); }
    OsHandle(const OsHandle&) = delete;
    OsHandle& operator=(const OsHandle&) = delete;
    OsHandle(OsHandle&& other) noexcept : m_handle(other.m_handle) { other.m_handle = kNoHandle; }
    OsHandle& operator=(OsHandle&& other) noexcept {
        if (this != &other) {
            Reset(other.m_handle);
            other.m_handle = kNoHandle;
        }
        return *this;
    }

    NativeHandle Get() const { return m_handle; }
    bool Valid() const { return m_handle != kNoHandle; }
    void Reset(NativeHandle handle = kNoHandle);
    // Gives the handle up without closing it; the caller closes it.
    NativeHandle Release() {
        const NativeHandle handle = m_handle;
        m_handle = kNoHandle;
        return handle;
    }

private:
    NativeHandle m_handle = kNoHandle;
};

// How a step ended.
enum class StepResult {
    Ok,
    Failed,  // missing (and not to be made), of the wrong kind, or refused by the system
    Link,    // a link (on Windows also a junction) stands there and links were not to be followed
};

// A time a file carries: seconds since 1970-01-01 UTC and the nanoseconds within. A time that
// is not `known` is left as the file has it.
struct FileStamp {
    int64_t seconds = 0;
    uint32_t nanoseconds = 0;
    bool known = false;

    bool operator==(const FileStamp&) const = default;
};

// What a name stands for, looked at without following a link.
struct FileFacts {
    enum class Kind { Regular, Folder, Link, Other } kind = Kind::Other;
    uint64_t size = 0;
    FileStamp modified;
    bool readOnly = false;              // nobody may write it (root may all the same on Linux)
    uint32_t permissions = 0;           // the POSIX permission bits (07777); on Windows derived
    uint64_t device = 0, identity = 0;  // the same pair names the same file
};

// The folder at `path` as the system resolves it (a base folder, "/", "."); with `create`, a
// missing last step is made first (its parent must exist). Invalid when it cannot be opened.
OsHandle OpenSystemFolder(const std::string& path, bool create);

// How many leading characters of an absolute `path` name a root a walk starts from ("/"; on
// Windows also "X:/" and "//server/share/"); 0 when the walk starts at the current directory.
size_t RootLength(std::string_view path);

// Asks the file system to place the folders made in `folder` apart from it, as it does for
// folders at its root: a hint, ignored where the system has none (Windows).
void MarkAsTopOfTree(NativeHandle folder);

// Opens the one step `name` below `folder` as a folder, creating it when missing and `create`.
// Without `followLinks` a link there gives Link. Failed when it is missing (and not to be
// created), a file, or cannot be made. A folder it makes is marked as the top of a tree.
StepResult OpenFolderStep(NativeHandle folder,
                          const std::string& name,
                          bool followLinks,
                          bool create,
                          OsHandle* out);

// Creates or truncates the regular file `name` in `folder` for writing, never through a link.
// A read-only or non-regular file in the way gives Failed and stays as it is; a link gives Link.
// `readOnly` makes the file read-only right away (the returned handle still writes).
StepResult CreateFileAt(NativeHandle folder, const std::string& name, bool readOnly, OsHandle* out);

// Writes all of `data`; false on an error.
bool WriteAll(NativeHandle file, const char* data, size_t size);

// Sets the times of an open file (a time not known is left alone). Where the system keeps no
// creation time it is ignored.
void SetFileTimes(NativeHandle file, FileStamp creation, FileStamp access, FileStamp write);

// A regular file opened for reading (others may read and write it too) and its size; invalid
// when `path` cannot be opened or is no regular file.
OsHandle OpenFileForReading(const std::string& path, uint64_t* size);

// A second handle on the same open folder or file (for a file: to read from another thread);
// invalid when none can be had.
OsHandle Duplicate(NativeHandle handle);

// Up to `size` bytes at `offset`, leaving any shared position alone; the count read (short at
// the end), or -1 on a read error.
long ReadFileAt(NativeHandle file, uint64_t offset, void* into, size_t size);

// Reusing the files of an earlier extraction by hard links is a Linux saving: on Windows, where
// every file is written, the steps below report that nothing can be looked at, opened or linked.

// The folder a descriptor number handed through a program's interface names (the number itself
// on Linux; none on Windows, whose programs hand no descriptors).
#ifdef _WIN32
inline NativeHandle HandleOfDescriptor(int) {
    return kNoHandle;
}
#else
inline NativeHandle HandleOfDescriptor(int descriptor) {
    return descriptor < 0 ? kNoHandle : descriptor;
}
#endif

// What `name` below `folder` stands for, the link itself when it is one; false when nothing
// can be looked at there.
bool LookAt(NativeHandle folder, const std::string& name, FileFacts* facts);

// What the open `file` is; false when that cannot be told.
bool LookAt(NativeHandle file, FileFacts* facts);

// Opens the file `name` below `folder` for reading, never through a link and without waiting
// on a device or pipe; invalid when it cannot be.
OsHandle OpenFileBelow(NativeHandle folder, const std::string& name);

// Opens the folder `name` below `folder`, never through a link; invalid when it cannot be.
OsHandle OpenFolderBelow(NativeHandle folder, const std::string& name);

// Makes `name` in `toFolder` a second name of the file `name` in `fromFolder` (a link found
// there is linked as itself, never followed); false when it cannot be.
bool HardLink(NativeHandle fromFolder, NativeHandle toFolder, const std::string& name);

// Removes the file name `name` from `folder`; false when it cannot be.
bool RemoveFileName(NativeHandle folder, const std::string& name);

}  // namespace vorn::platform
