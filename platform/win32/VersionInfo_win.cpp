#include "platform/win32/VersionInfo_win.h"

#include "platform/win32/Text_win.h"

#include <windows.h>

#include <cstdio>
#include <vector>

namespace vorn::platform::win32 {
namespace {

// A version resource is a few kilobytes; a file that claims more is not read.
constexpr DWORD kMaxResourceBytes = 1 << 20;

std::vector<unsigned char> ReadResource(const std::wstring& path) {
    if (path.empty())
        return {};
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    if (size == 0 || size > kMaxResourceBytes)
        return {};
    std::vector<unsigned char> data(size);
    if (!GetFileVersionInfoW(path.c_str(), 0, size, data.data()))
        return {};
    return data;
}

std::wstring QueryString(std::vector<unsigned char>& data, const std::wstring& field) {
    if (data.empty() || field.empty())
        return {};
    struct Translation {
        WORD language;
        WORD codePage;
    };
    Translation* translations = nullptr;
    UINT bytes = 0;
    if (!VerQueryValueW(data.data(), L"\\VarFileInfo\\Translation",
                        reinterpret_cast<void**>(&translations), &bytes) ||
        bytes < sizeof(Translation))
        return {};
    wchar_t block[64];
    std::swprintf(block, 64, L"\\StringFileInfo\\%04x%04x\\", translations[0].language,
                  translations[0].codePage);
    const std::wstring query = block + field;
    wchar_t* text = nullptr;
    UINT chars = 0;
    if (!VerQueryValueW(data.data(), query.c_str(), reinterpret_cast<void**>(&text), &chars) ||
        text == nullptr)
        return {};
    // The length counts the terminating zero when there is one; never read past it.
    return std::wstring(text, wcsnlen(text, chars));
}

}  // namespace

std::wstring FileVersionString(const std::wstring& path, const std::wstring& field) {
    std::vector<unsigned char> data = ReadResource(path);
    return QueryString(data, field);
}

std::array<std::string, 3> IdentityVersionStrings(const std::wstring& path) {
    std::vector<unsigned char> data = ReadResource(path);
    return {WideToUtf8(QueryString(data, L"FileDescription")),
            WideToUtf8(QueryString(data, L"LegalCopyright")),
            WideToUtf8(QueryString(data, L"OriginalFilename"))};
}

}  // namespace vorn::platform::win32
