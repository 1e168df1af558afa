// The parts of the regular-file reading that are the same on every system.
#include "platform/RegularFile.h"

namespace vorn::platform {

std::string DescribeFileReadError(FileReadError error,
                                  const std::string& path,
                                  std::size_t maxBytes) {
    switch (error) {
        case FileReadError::None:
            return path + " was read.";
        case FileReadError::Missing:
            return path + " does not exist.";
        case FileReadError::NotRegular:
            return path + " is not a regular file (a folder, pipe or device); it is ignored.";
        case FileReadError::Link:
            return path +
                   " is a link (symbolic link or junction), which is not followed here; it "
                   "is ignored.";
        case FileReadError::TooLarge:
            return path + " is larger than " + std::to_string(maxBytes) + " bytes; it is ignored.";
        case FileReadError::Unreadable:
            break;
    }
    return path + " cannot be read; it is ignored.";
}

}  // namespace vorn::platform
