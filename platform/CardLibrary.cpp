// The part of loading the card library that is the same on every system.
#include "platform/SystemCardLibrary.h"

#include "common/LogSink.h"

namespace vorn::platform {
namespace {

template <typename Fn>
void Resolve(const std::function<void*(const char*)>& lookup, const char* name, Fn& target) {
    target = reinterpret_cast<Fn>(lookup(name));
    if (!target)
        log::Debug(log::Area::Card, std::string("card library lacks ") + name);
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
