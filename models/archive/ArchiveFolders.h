#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Folder and file creation for extraction. Below a base folder every step is opened relative
// to the previous one with O_NOFOLLOW, so a symbolic link placed there (by anyone) is refused
// instead of followed, and no ".." step is taken. Safe on any thread; returned descriptors
// belong to the caller.
namespace vorn::archive {

// Opens the folder `folder` ("/"-separated, UTF-8), creating every missing step:
//  - base given, folder relative: below the base, which is created first when missing (its
//    parent must exist); links and ".." refused;
//  - no base, folder relative: below the current directory, links and ".." refused;
//  - folder absolute ("/..." or a drive form "X:..."): as the system resolves it.
// On success *fd is an O_DIRECTORY descriptor; otherwise ZR_NOFILE, ZR_LINK or ZR_UNSAFE_NAME.
uint32_t OpenFolder(const std::string* base, std::string_view folder, bool absolute, int* fd);

// As OpenFolder below a base folder, from an open descriptor of that base (not taken over).
// Without `create`, a missing step gives ZR_NOFILE instead of being made.
uint32_t OpenFolderAt(int baseFd, std::string_view folder, int* fd, bool create = true);

// Creates or truncates the regular file `name` in the folder `dirFd` for writing, never
// through a link. A read-only or non-regular file in the way gives ZR_NOFILE and stays as it
// is; a link gives ZR_LINK. `readOnly` removes the write bits right away (the returned
// descriptor still writes). On success *fd is the open descriptor.
uint32_t CreateFileAt(int dirFd, const std::string& name, bool readOnly, int* fd);

}  // namespace vorn::archive
