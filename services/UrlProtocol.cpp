#include "services/UrlProtocol.h"

#include "platform/UrlSchemeRegistration.h"

namespace vorn {

bool RegisterClientUrlScheme(bool installed, const std::string& clientExecutable) {
    if (installed && platform::HasSystemHandlerEntry(kPackagedHandlerEntry))
        return platform::SetDefaultUrlSchemeHandler(kUrlScheme, kPackagedHandlerEntry);
    return platform::RegisterUrlScheme(kUrlScheme, clientExecutable);
}

}  // namespace vorn
