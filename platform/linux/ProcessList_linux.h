#pragma once

#include "platform/ProcessList.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

// The procfs side of the process list: one folder per pid under a root that tests point at a
// fixture tree.
namespace vorn::platform {

// The process list of the procfs tree under `procRoot` (the real one is "/proc").
std::unique_ptr<IProcessList> CreateProcessList(std::filesystem::path procRoot);

// One process, or nothing when it has gone (or has neither exe link, command line nor comm).
std::optional<ProcessRecord> ReadProcessRecord(const std::filesystem::path& procRoot,
                                               std::uint32_t pid);

// The file name rule: basename of the exe link (for a Wine loader, of the Windows program in
// argv[0], split at "\" or "/"), else basename of argv[0], else comm. Pure, any thread.
std::string ProcessFileName(std::string_view exePath,
                            std::string_view argv0,
                            std::string_view comm);

}  // namespace vorn::platform
