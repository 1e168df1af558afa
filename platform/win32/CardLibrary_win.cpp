#include "platform/SystemCardLibrary.h"

#include "common/LogSink.h"
#include "platform/win32/Text_win.h"

#include <windows.h>

namespace vorn::platform {

using log::Area;

std::string SystemCardLibrary::FileName() const {
    return "termb.dll";
}

ICardLibrary::EntryPoints SystemCardLibrary::Load(const std::string& folder) const {
    const std::string path = folder + FileName();
    const std::wstring widePath = win32::Utf8ToWide(path);
    // Only a plain file: a folder, a device name or a reparse point (a link or junction that
    // could point anywhere) under the library's name is not loaded.
    WIN32_FILE_ATTRIBUTE_DATA attributes{};
    if (!GetFileAttributesExW(widePath.c_str(), GetFileExInfoStandard, &attributes)) {
        log::Info(Area::Card, "no card library at " + path);
        return {};
    }
    if (attributes.dwFileAttributes &
        (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE)) {
        log::Warning(Area::Card, "The card library " + path + " is not a plain file; not loaded.");
        return {};
    }
    // The full path, and the library's own folder first when it loads what it depends on; no
    // error box on a broken file.
    const UINT oldMode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    HMODULE library = LoadLibraryExW(widePath.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    const DWORD error = GetLastError();
    SetErrorMode(oldMode);
    if (!library) {
        log::Info(Area::Card, "no card library at " + path + ": " + win32::ErrorText(error));
        return {};
    }
    // Deliberately never freed: a worker may still be inside the library at exit.
    const EntryPoints api = ResolveCardEntryPoints([library](const char* name) {
        return reinterpret_cast<void*>(GetProcAddress(library, name));
    });
    log::Info(Area::Card, "card library loaded from " + path);
    return api;
}

std::unique_ptr<ICardLibrary> CreateCardLibrary() {
    return std::make_unique<SystemCardLibrary>();
}

}  // namespace vorn::platform
