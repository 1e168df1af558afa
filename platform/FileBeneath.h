#pragma once

#include "platform/UniqueFd.h"

#include <cstddef>
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

// One read of up to `size` bytes of a file opened for Read at `offset`, leaving the descriptor's
// position alone, so threads may read one file at once. The count read (it may be fewer than
// asked; 0 at the end, also where the file shrank), or -1 on an error. A signal does not end it.
long ReadOpenedAt(const UniqueFd& file, uint64_t offset, void* into, std::size_t size);

}  // namespace vorn::platform
