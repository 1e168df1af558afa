#include "platform/CardLibrary.h"

#include "common/LogSink.h"
#include "platform/RegularFile.h"

#include <dlfcn.h>

namespace vorn::platform {

namespace {

template <typename Fn>
void Resolve(void* handle, const char* name, Fn& target) {
    target = reinterpret_cast<Fn>(dlsym(handle, name));
    if (!target)
        log::Debug(log::Area::Card, std::string("card library lacks ") + name);
}

}  // namespace

std::string CardLibrary::FileName() {
    return "libtermb.so";
}

CardLibrary::EntryPoints CardLibrary::Load(const std::string& folder) {
    EntryPoints api;
    const std::string nativePath = folder + FileName();
    // dlopen would wait forever on a FIFO planted under the library's name. A link to a regular
    // file is fine (packages install versioned libraries that way). Loading through the opened
    // descriptor (/proc/self/fd/N) is not an option: the loader matches objects by that name,
    // and a reused descriptor number would hand back an earlier library.
    platform::FileReadError why = platform::FileReadError::None;
    if (!platform::OpenRegularFile(nativePath, platform::LinkPolicy::Follow, &why).valid()) {
        if (why == platform::FileReadError::Missing)
            log::Info(log::Area::Card, "no card library at " + nativePath);
        else
            log::Warning(log::Area::Card, "The card library: " +
                                              platform::DescribeFileReadError(why, nativePath, 0));
        return api;
    }
    // RTLD_LOCAL keeps the vendor's symbols out of the global namespace, where they could
    // shadow ours or those of a second copy loaded by a test.
    void* handle = dlopen(nativePath.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* reason = dlerror();
        log::Info(log::Area::Card,
                  "no card library at " + nativePath + " " + (reason ? reason : ""));
        return api;
    }
    // Deliberately never dlclose'd: a worker may still be inside the library at exit.
    Resolve(handle, "CVR_InitComm", api.CVR_InitComm);
    Resolve(handle, "CVR_CloseComm", api.CVR_CloseComm);
    Resolve(handle, "CVR_Authenticate", api.CVR_Authenticate);
    Resolve(handle, "CVR_Read_FPContent", api.CVR_Read_FPContent);
    Resolve(handle, "GetPeopleNameU", api.GetPeopleNameU);
    Resolve(handle, "GetPeopleSexU", api.GetPeopleSexU);
    Resolve(handle, "GetPeopleNationU", api.GetPeopleNationU);
    Resolve(handle, "GetPeopleBirthdayU", api.GetPeopleBirthdayU);
    Resolve(handle, "GetPeopleAddressU", api.GetPeopleAddressU);
    Resolve(handle, "GetPeopleIDCodeU", api.GetPeopleIDCodeU);
    Resolve(handle, "GetDepartmentU", api.GetDepartmentU);
    Resolve(handle, "GetStartDateU", api.GetStartDateU);
    Resolve(handle, "GetEndDateU", api.GetEndDateU);
    Resolve(handle, "CVR_GetSAMIDU", api.CVR_GetSAMIDU);
    Resolve(handle, "GetNationCodeU", api.GetNationCodeU);
    Resolve(handle, "GetBMPData", api.GetBMPData);
    log::Info(log::Area::Card, "card library loaded from " + nativePath);
    return api;
}

}  // namespace vorn::platform
