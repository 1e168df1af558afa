#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/FolderSteps.h"

// Folder and file creation for extraction. Below a base folder every step is opened relative
// to the handle of the previous one and never through a link, so a link placed there (by
// anyone) is refused instead of followed, and no ".." step is taken. The walk is the same
// everywhere (ArchiveFolders.cpp); the steps are the system's (platform/FolderSteps.h). Names
// are UTF-8, "/"-separated. Safe on any thread; returned handles belong to the caller.
namespace vorn::archive {

using platform::Duplicate;
using platform::kNoHandle;
using platform::NativeHandle;
using platform::OpenFileForReading;
using platform::OsHandle;
using platform::ReadFileAt;
using platform::WriteAll;

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

// ZR_UNSAFE_NAME when the system would give the step `name` a meaning of its own instead of
// a file or folder of that name (on Windows: device names, trailing dots or spaces, streams);
// ZR_OK otherwise. Checked for every step before anything is made.
uint32_t CheckStepName(std::string_view name);

// platform::CreateFileAt with the archive's result codes (ZR_NOFILE, ZR_LINK, ZR_UNSAFE_NAME).
uint32_t CreateEntryFile(NativeHandle folder,
                         const std::string& name,
                         bool readOnly,
                         OsHandle* out);

}  // namespace vorn::archive
