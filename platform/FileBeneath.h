#pragma once

#include "platform/UniqueFd.h"

#include <cstdint>
#include <string>
#include <string_view>

// Opening a file by a "/"-separated name below a folder given by its path, without following a
// link at any step below it (the folder itself may be a link). Linux only so far (the local model
// server is built for Linux). Safe on any thread.
namespace vorn::platform {

// How the name is resolved: by the kernel in one step (openat2 with RESOLVE_BENEATH |
// RESOLVE_NO_SYMLINKS, Linux 5.6 and later), or one step at a time with O_NOFOLLOW. Kernel falls
// back to steps, for good, when the kernel lacks openat2.
enum class BeneathResolver { Kernel, Steps };

// What the file is opened for: Look reads its status only (a FIFO or a device is never opened
// for reading), Read reads its contents without waiting on a FIFO or becoming a terminal's.
enum class BeneathAccess { Look, Read };

// Opens `name` (no ".." step, no trailing "/") below the folder at `folder`, which is opened
// afresh each time. True when it is a regular file: then *fd (Read) is the very file looked at
// and *size its size.
bool OpenRegularBeneath(const std::string& folder,
                        std::string_view name,
                        BeneathAccess access,
                        BeneathResolver resolver,
                        UniqueFd* fd,
                        uint64_t* size);

}  // namespace vorn::platform
