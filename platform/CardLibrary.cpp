// The part of loading the card library that is the same on every system.
#include "platform/SystemCardLibrary.h"

#include "common/LogSink.h"

#include <initializer_list>
#include <string>

namespace vorn::platform {
namespace {

// The bytes of arguments a 32-bit __stdcall entry point takes off the stack, which its decorated
// name carries (_CVR_InitComm@4): four for each int or pointer.
constexpr int ArgumentBytes(ICardLibrary::PortFn) {
    return 4;
}
constexpr int ArgumentBytes(ICardLibrary::CallFn) {
    return 0;
}
constexpr int ArgumentBytes(ICardLibrary::TextFn) {
    return 8;
}
constexpr int ArgumentBytes(ICardLibrary::SamIdFn) {
    return 4;
}
constexpr int ArgumentBytes(ICardLibrary::ImageFn) {
    return 8;
}

template <typename Fn>
void Resolve(const std::function<void*(const char*)>& lookup, const char* name, Fn& target) {
    const std::string plain = name;
    const std::string decorated = plain + "@" + std::to_string(ArgumentBytes(Fn{}));
    for (const std::string& exported : {plain, "_" + decorated, decorated}) {
        target = reinterpret_cast<Fn>(lookup(exported.c_str()));
        if (target) {
            if (exported != plain)
                log::Debug(log::Area::Card, "card library exports " + plain + " as " + exported);
            return;
        }
    }
    log::Debug(log::Area::Card, "card library lacks " + plain);
}

}  // namespace

ICardLibrary::EntryPoints ResolveCardEntryPoints(const std::function<void*(const char*)>& lookup) {
    ICardLibrary::EntryPoints api;
    Resolve(lookup, "CVR_InitComm", api.CVR_InitComm);
    Resolve(lookup, "CVR_CloseComm", api.CVR_CloseComm);
    Resolve(lookup, "CVR_Authenticate", api.CVR_Authenticate);
    Resolve(lookup, "CVR_Read_FPContent", api.CVR_Read_FPContent);
    Resolve(lookup, "GetPeopleNameU", api.GetPeopleNameU);
    Resolve(lookup, "GetPeopleSexU", api.GetPeopleSexU);
    Resolve(lookup, "GetPeopleNationU", api.GetPeopleNationU);
    Resolve(lookup, "GetPeopleBirthdayU", api.GetPeopleBirthdayU);
    Resolve(lookup, "GetPeopleAddressU", api.GetPeopleAddressU);
    Resolve(lookup, "GetPeopleIDCodeU", api.GetPeopleIDCodeU);
    Resolve(lookup, "GetDepartmentU", api.GetDepartmentU);
    Resolve(lookup, "GetStartDateU", api.GetStartDateU);
    Resolve(lookup, "GetEndDateU", api.GetEndDateU);
    Resolve(lookup, "CVR_GetSAMIDU", api.CVR_GetSAMIDU);
    Resolve(lookup, "GetNationCodeU", api.GetNationCodeU);
    Resolve(lookup, "GetBMPData", api.GetBMPData);
    return api;
}

}  // namespace vorn::platform
