#include "services/UrlProtocol.h"

namespace vorn {

bool RegisterClientUrlScheme(const platform::IUrlSchemeRegistration& urls,
                             bool installed,
                             const std::string& clientExecutable) {
    if (installed && urls.HasSystemHandlerEntry(kPackagedHandlerEntry))
        return urls.SetDefaultHandler(kUrlScheme, kPackagedHandlerEntry);
    return urls.Register(kUrlScheme, clientExecutable);
}

bool ClientUrlSchemeIsRegistered(const platform::IUrlSchemeRegistration& urls,
                                 bool installed,
                                 const std::string& clientExecutable) {
    if (installed && urls.HasSystemHandlerEntry(kPackagedHandlerEntry))
        return urls.DefaultHandlerIsCurrent(kUrlScheme, kPackagedHandlerEntry);
    return urls.RegistrationIsCurrent(kUrlScheme, clientExecutable);
}

}  // namespace vorn
