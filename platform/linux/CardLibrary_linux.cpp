#include "platform/SystemCardLibrary.h"

#include "common/LogSink.h"
#include "platform/RegularFile.h"

#include <dlfcn.h>

namespace vorn::platform {

std::string SystemCardLibrary::FileName() const {
    return "libtermb.so";
}

ICardLibrary::EntryPoints SystemCardLibrary::Load(const std::string& folder) const {
    const std::string nativePath = folder + FileName();
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
        return {};
    }
    // RTLD_LOCAL keeps the vendor's symbols out of the global namespace, where they could
    // shadow ours or those of a second copy loaded by a test.
    void* handle = dlopen(nativePath.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* reason = dlerror();
        log::Info(log::Area::Card,
                  "no card library at " + nativePath + " " + (reason ? reason : ""));
        return {};
    }
    // Deliberately never dlclose'd: a worker may still be inside the library at exit.
    const EntryPoints api =
        ResolveCardEntryPoints([handle](const char* name) { return dlsym(handle, name); });
    log::Info(log::Area::Card, "card library loaded from " + nativePath);
    return api;
}

std::unique_ptr<ICardLibrary> CreateCardLibrary() {
    return std::make_unique<SystemCardLibrary>();
}

}  // namespace vorn::platform
