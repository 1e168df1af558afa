#include "services/UrlProtocol.h"

#include "platform/UrlSchemeRegistration.h"

namespace vorn {

bool RegisterClientUrlScheme(bool installed, const std::string& clientExecutable) {
    if (installed && platform::HasSystemHandlerEntry(kPackagedHandlerEntry))
        return platform::SetDefaultUrlSchemeHandler(kUrlScheme, kPackagedHandlerEntry);
    return platform::RegisterUrlScheme(kUrlScheme, clientExecutable);
}

bool ClientUrlSchemeIsRegistered(bool installed, const std::string& clientExecutable) {
    if (installed && platform::HasSystemHandlerEntry(kPackagedHandlerEntry))
        return platform::DefaultUrlSchemeHandlerIsCurrent(kUrlScheme, kPackagedHandlerEntry);
    return platform::UrlSchemeRegistrationIsCurrent(kUrlScheme, clientExecutable);
}

}  // namespace vorn
