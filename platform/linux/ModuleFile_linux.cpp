#include "platform/ModuleFile.h"

#include <dlfcn.h>

namespace vorn::platform {

std::string ModuleFileOf(const void* code) {
    Dl_info info{};
    if (::dladdr(code, &info) && info.dli_fname)
        return info.dli_fname;
    return {};
}

}  // namespace vorn::platform
