#pragma once

#include <string>
#include <string_view>

// Windows speaks UTF-16; the platform headers speak UTF-8. These two are the only crossing, so no
// text ever goes through the ANSI code page. Invalid input becomes U+FFFD, never a cut string.
namespace vorn::platform::win32 {

std::wstring Utf8ToWide(std::string_view text);
std::string WideToUtf8(std::wstring_view text);

// A Windows error code as the system's sentence (UTF-8), for log lines.
std::string ErrorText(unsigned long error);

}  // namespace vorn::platform::win32
