#pragma once

#include <memory>
#include <string>

// The calling convention of the library's entry points. Vendors' Windows libraries export them as
// __stdcall (WINAPI), what a 32-bit caller must use or the stack is wrong after every call; on
// 64-bit Windows it is the one convention there is. Elsewhere there is only one convention.
#ifdef _WIN32
#define VORN_CARD_CALL __stdcall
#else
#define VORN_CARD_CALL
#endif

namespace vorn::platform {

// The identity-card reader library: a vendor library in the client folder, loaded at run time
// so that the client runs (and reports "no reader") without it. The library's texts are UTF-16
// in buffers the caller owns; lengths are in bytes. Paths are UTF-8, as everywhere in platform/.
class ICardLibrary {
public:
    virtual ~ICardLibrary() = default;

    using PortFn = int(VORN_CARD_CALL*)(int port);
    using CallFn = int(VORN_CARD_CALL*)();
    using TextFn = int(VORN_CARD_CALL*)(char16_t* text, int* length);
    using SamIdFn = int(VORN_CARD_CALL*)(char16_t* text);
    using ImageFn = int(VORN_CARD_CALL*)(unsigned char* data, int* length);

    // One pointer per entry point, in the order they are resolved; a missing one stays null.
    struct EntryPoints {
        PortFn CVR_InitComm = nullptr;
        CallFn CVR_CloseComm = nullptr;
        CallFn CVR_Authenticate = nullptr;
        CallFn CVR_Read_FPContent = nullptr;
        TextFn GetPeopleNameU = nullptr;
        TextFn GetPeopleSexU = nullptr;
        TextFn GetPeopleNationU = nullptr;
        TextFn GetPeopleBirthdayU = nullptr;
        TextFn GetPeopleAddressU = nullptr;
        TextFn GetPeopleIDCodeU = nullptr;
        TextFn GetDepartmentU = nullptr;
        TextFn GetStartDateU = nullptr;
        TextFn GetEndDateU = nullptr;
        SamIdFn CVR_GetSAMIDU = nullptr;
        TextFn GetNationCodeU = nullptr;
        ImageFn GetBMPData = nullptr;
    };

    // The library's file name inside the client folder.
    virtual std::string FileName() const = 0;

    // Any thread, but call it before any reading starts. Loads FileName() from `folder` (ends
    // in the platform's folder separator) and resolves the entry points by name: the plain name,
    // else the 32-bit __stdcall decorations "_CVR_InitComm@4" (as Microsoft's tools export it)
    // and "CVR_InitComm@4" (as GNU's do). The library stays
    // loaded until the process ends. Returns all null when the file is missing or does not load.
    virtual EntryPoints Load(const std::string& folder) const = 0;
};

// Never null. Any thread.
std::unique_ptr<ICardLibrary> CreateCardLibrary();

}  // namespace vorn::platform
