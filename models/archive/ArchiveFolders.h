#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// Folder and file creation for extraction. Below a base folder every step is opened relative
// to the handle of the previous one and never through a link, so a link placed there (by
// anyone) is refused instead of followed, and no ".." step is taken. The walk itself is the
// same everywhere (ArchiveFolders.cpp); each system supplies the steps: descriptors and
// O_NOFOLLOW on POSIX systems (ArchiveFolders_posix.cpp), handles opened relative to a root
// handle that refuse reparse points on Windows (ArchiveFolders_win.cpp). Names are UTF-8,
// "/"-separated. Safe on any thread; returned handles belong to the caller.
namespace vorn::archive {

#ifdef _WIN32
using NativeHandle = void*;  // a HANDLE
inline constexpr NativeHandle kNoHandle = nullptr;
#else
using NativeHandle = int;  // a descriptor
inline constexpr NativeHandle kNoHandle = -1;
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

private:
    NativeHandle m_handle = kNoHandle;
};

// Opens the folder `folder`, creating every missing step:
//  - base given, folder relative: below the base, which is created first when missing (its
//    parent must exist); links and ".." refused;
//  - no base, folder relative: below the current directory, links and ".." refused;
//  - folder absolute ("/..." or a drive form "X:..."): as the system resolves it.
// On success *folderOut is the open folder; otherwise ZR_NOFILE, ZR_LINK or ZR_UNSAFE_NAME.
uint32_t OpenFolder(const std::string* base,
                    std::string_view folder,
                    bool absolute,
                    OsHandle* folderOut);

// As OpenFolder below a base folder, from an open handle of that base (not taken over).
// Without `create`, a missing step gives ZR_NOFILE instead of being made.
uint32_t OpenFolderAt(NativeHandle base,
                      std::string_view folder,
                      OsHandle* folderOut,
                      bool create = true);

// ZR_UNSAFE_NAME when a step of the "/"-separated `path` is one CheckStepName refuses, else
// ZR_OK; for a whole target before anything of it is made.
uint32_t CheckPathSteps(std::string_view path);

// The steps each system supplies.

// The folder at `path` as the system resolves it (a base folder, "/", "."); with `create`, a
// missing last step is made first (its parent must exist). Invalid when it cannot be opened.
OsHandle OpenSystemFolder(const std::string& path, bool create);

// How many leading characters of an absolute `path` name a root the walk starts from ("/"; on
// Windows also "X:/" and "//server/share/"); 0 when the walk starts at the current directory.
size_t RootLength(std::string_view path);

// Asks the file system to place the folders made in `folder` apart from it, as it does for
// folders at its root: a hint, ignored where the system has none (Windows).
void MarkAsTopOfTree(NativeHandle folder);

// Opens the one step `name` below `folder` as a folder, creating it when missing and `create`.
// Without `followLinks` a link there (a symbolic link; on Windows also a junction) gives
// ZR_LINK. ZR_NOFILE when it is missing (and not to be created), a file, or cannot be made.
// A folder it makes is marked, where the system has such a hint, as the top of a tree, so that
// the folders made in it are placed apart (see ArchiveFolders_posix.cpp).
uint32_t OpenFolderStep(NativeHandle folder,
                        const std::string& name,
                        bool followLinks,
                        bool create,
                        OsHandle* out);

// ZR_UNSAFE_NAME when the system would give the step `name` a meaning of its own instead of
// a file or folder of that name (on Windows: device names, trailing dots or spaces, streams);
// ZR_OK otherwise. Checked for every step before anything is made.
uint32_t CheckStepName(std::string_view name);

// Creates or truncates the regular file `name` in `folder` for writing, never through a link.
// A read-only or non-regular file in the way gives ZR_NOFILE and stays as it is; a link gives
// ZR_LINK. `readOnly` makes the file read-only right away (the returned handle still writes).
uint32_t CreateFileAt(NativeHandle folder, const std::string& name, bool readOnly, OsHandle* out);

// Writes all of `data`; false on an error.
bool WriteAll(NativeHandle file, const char* data, size_t size);

// Sets the times of an open file, FILETIME values (0: left as it is). Where the system keeps
// no creation time it is ignored.
void SetFileTimes(NativeHandle file, int64_t creation, int64_t access, int64_t write);

// A regular file opened for reading (others may read and write it too) and its size; invalid
// when `path` cannot be opened or is no regular file.
OsHandle OpenFileForReading(const std::string& path, uint64_t* size);

// A second handle on the same open folder or file (for a file: to read from another thread);
// invalid when none can be had.
OsHandle Duplicate(NativeHandle handle);

// Up to `size` bytes at `offset`, leaving any shared position alone; the count read (short at
// the end), or -1 on a read error.
long ReadFileAt(NativeHandle file, uint64_t offset, void* into, size_t size);

}  // namespace vorn::archive
