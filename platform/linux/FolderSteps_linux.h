#pragma once

#include "platform/FolderSteps.h"

#include <sys/stat.h>

// The Linux forms of the folder steps' values, for the implementation and its tests.
namespace vorn::platform {

// A stamp as timespec for futimens; UTIME_OMIT when it is not known.
inline timespec ToTimespec(FileStamp stamp) {
    timespec ts{};
    if (!stamp.known) {
        ts.tv_nsec = UTIME_OMIT;
        return ts;
    }
    ts.tv_sec = static_cast<time_t>(stamp.seconds);
    ts.tv_nsec = static_cast<long>(stamp.nanoseconds);
    return ts;
}

}  // namespace vorn::platform
