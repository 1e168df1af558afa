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

std::string LibraryFileName() {
    return "libtermb.so";
}

ICardLibrary::EntryPoints LoadLibraryAt(const std::string& folder) {
    ICardLibrary::EntryPoints api;
    const std::string nativePath = folder + LibraryFileName();
    // dlopen would wait forever on a FIFO planted under the library's name. A link to a regular
    // file is fine (packages install versioned libraries that way). Loading through the opened
    // descriptor (/proc/self/fd/N) is not an option: the loader matches objects by that name,
    // and a reused descriptor number would hand back an earlier library.
    FileReadError why = FileReadError::None;
    if (!OpenRegularFile(nativePath, LinkPolicy::Follow, &why).valid()) {
        if (why == FileReadError::Missing)
            log::Info(log::Area::Card, "no card library at " + nativePath);
        else
            log::Warning(log::Area::Card,
                         "The card library: " + DescribeFileReadError(why, nativePath, 0));
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

class DlopenCardLibrary : public ICardLibrary {
public:
    std::string FileName() const override { return LibraryFileName(); }
    EntryPoints Load(const std::string& folder) const override { return LoadLibraryAt(folder); }
};

}  // namespace

std::unique_ptr<ICardLibrary> CreateCardLibrary() {
    return std::make_unique<DlopenCardLibrary>();
}

}  // namespace vorn::platform
