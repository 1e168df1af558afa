#pragma once

#include <array>
#include <string>

namespace vorn::platform::win32 {

// One string of a file's version resource ("FileDescription", "LegalCopyright", ...), in the
// first language the resource lists; empty when the file has no resource, no translation table
// or no such string.
std::wstring FileVersionString(const std::wstring& path, const std::wstring& field);

// The three strings a renamed remote-control tool still carries, in this order:
// FileDescription, LegalCopyright, OriginalFilename (UTF-8; missing ones empty). One read of the
// resource for all three.
std::array<std::string, 3> IdentityVersionStrings(const std::wstring& path);

}  // namespace vorn::platform::win32
