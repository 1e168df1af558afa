#pragma once

#include "platform/UniqueFd.h"

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace vorn::platform {

// Whether the last component of a path may be a symbolic link (folders above it are followed
// either way).
enum class LinkPolicy { Follow, Refuse };

enum class FileReadError {
    None,
    Missing,     // nothing at the path
    NotRegular,  // a folder, FIFO, socket or device (also as a link's target)
    Link,        // a link where LinkPolicy::Refuse was asked for
    TooLarge,    // more than the caller's limit
    Unreadable,  // permissions, I/O errors
};

// Opens `path` for reading only when it is a regular file, without ever blocking on the open
// (a FIFO or device is refused, not waited for). Any thread. An invalid descriptor on failure,
// with the reason in *why.
UniqueFd OpenRegularFile(const std::string& path, LinkPolicy links, FileReadError* why = nullptr);

// Opens `path` for appending (created when missing; on POSIX systems for this user only)
// only when it is a regular file: a link in its place is refused, never followed, and a FIFO or
// device is refused without waiting in the open. Any thread. An invalid descriptor on failure,
// with the reason in *why (Link, NotRegular, or Unreadable for the system's own refusals).
UniqueFd OpenRegularFileToAppend(const std::string& path, FileReadError* why = nullptr);

// The whole content of the regular file at `path` if it holds at most `maxBytes` (a file that
// grows past the limit while being read is refused too). Any thread; never blocks on a FIFO and
// never reads more than maxBytes + 1 bytes, so a link to an endless device costs nothing.
std::optional<std::string> ReadRegularFile(const std::string& path,
                                           std::size_t maxBytes,
                                           LinkPolicy links,
                                           FileReadError* why = nullptr);

// Hands the content of the regular file at `path` to `consume` piece by piece, in order, without
// holding it all in memory. Any thread. False, with the reason in *why, when the file cannot be
// opened as a regular file, holds more than `maxBytes` (also when it grows past that while being
// read) or a read fails; `consume` may then have seen a part of it.
bool StreamRegularFile(const std::string& path,
                       std::size_t maxBytes,
                       LinkPolicy links,
                       const std::function<void(std::string_view piece)>& consume,
                       FileReadError* why = nullptr);

// One sentence for a log line: what is wrong with `path` and that it is ignored.
std::string DescribeFileReadError(FileReadError error,
                                  const std::string& path,
                                  std::size_t maxBytes);

}  // namespace vorn::platform
