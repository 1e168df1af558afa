#include "platform/CardLibrary.h"

#include "common/LogSink.h"
#include "platform/win32/Text_win.h"

#include <windows.h>

namespace vorn::platform {
namespace {

using log::Area;

template <typename Fn>
void Resolve(HMODULE library, const char* name, Fn& target) {
    target = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(library, name)));
    if (!target)
        log::Debug(Area::Card, std::string("card library lacks ") + name);
}

std::string LibraryFileName() {
    return "termb.dll";
}

ICardLibrary::EntryPoints LoadLibraryAt(const std::string& folder) {
    ICardLibrary::EntryPoints api;
    const std::string path = folder + LibraryFileName();
    const std::wstring widePath = win32::Utf8ToWide(path);
    // Only a plain file: a folder, a device name or a reparse point (a link or junction that
    // could point anywhere) under the library's name is not loaded.
    WIN32_FILE_ATTRIBUTE_DATA attributes{};
    if (!GetFileAttributesExW(widePath.c_str(), GetFileExInfoStandard, &attributes)) {
        log::Info(Area::Card, "no card library at " + path);
        return api;
    }
    if (attributes.dwFileAttributes &
        (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE)) {
        log::Warning(Area::Card, "The card library " + path + " is not a plain file; not loaded.");
        return api;
    }
    // The full path, and the library's own folder first when it loads what it depends on; no
    // error box on a broken file.
    const UINT oldMode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    HMODULE library = LoadLibraryExW(widePath.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    const DWORD error = GetLastError();
    SetErrorMode(oldMode);
    if (!library) {
        log::Info(Area::Card, "no card library at " + path + ": " + win32::ErrorText(error));
        return api;
    }
    // Deliberately never freed: a worker may still be inside the library at exit.
    Resolve(library, "CVR_InitComm", api.CVR_InitComm);
    Resolve(library, "CVR_CloseComm", api.CVR_CloseComm);
    Resolve(library, "CVR_Authenticate", api.CVR_Authenticate);
    Resolve(library, "CVR_Read_FPContent", api.CVR_Read_FPContent);
    Resolve(library, "GetPeopleNameU", api.GetPeopleNameU);
    Resolve(library, "GetPeopleSexU", api.GetPeopleSexU);
    Resolve(library, "GetPeopleNationU", api.GetPeopleNationU);
    Resolve(library, "GetPeopleBirthdayU", api.GetPeopleBirthdayU);
    Resolve(library, "GetPeopleAddressU", api.GetPeopleAddressU);
    Resolve(library, "GetPeopleIDCodeU", api.GetPeopleIDCodeU);
    Resolve(library, "GetDepartmentU", api.GetDepartmentU);
    Resolve(library, "GetStartDateU", api.GetStartDateU);
    Resolve(library, "GetEndDateU", api.GetEndDateU);
    Resolve(library, "CVR_GetSAMIDU", api.CVR_GetSAMIDU);
    Resolve(library, "GetNationCodeU", api.GetNationCodeU);
    Resolve(library, "GetBMPData", api.GetBMPData);
    log::Info(Area::Card, "card library loaded from " + path);
    return api;
}

class DllCardLibrary : public ICardLibrary {
public:
    std::string FileName() const override { return LibraryFileName(); }
    EntryPoints Load(const std::string& folder) const override { return LoadLibraryAt(folder); }
};

}  // namespace

std::unique_ptr<ICardLibrary> CreateCardLibrary() {
    return std::make_unique<DllCardLibrary>();
}

}  // namespace vorn::platform
