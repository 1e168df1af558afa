#pragma once

#include "platform/UrlSchemeRegistration.h"

#include <string>

// The vornapp: link registration that the client's "/createprotocol" run and the readiness
// check's --createprotocol both perform, in standard C++ only.
namespace vorn {

inline constexpr char kUrlScheme[] = "vornapp";
// The desktop entry (Linux) or class (Windows) an installed client comes with.
inline constexpr char kPackagedHandlerEntry[] = "vornclient.desktop";

// An installed client whose packaged entry is present makes that entry the user's default (an
// entry of the user's own would outlive the package); otherwise `clientExecutable` (full path)
// is registered as the user's handler. False when nothing could be written (the reason is
// logged).
bool RegisterClientUrlScheme(const platform::IUrlSchemeRegistration& urls,
                             bool installed,
                             const std::string& clientExecutable);

// True when RegisterClientUrlScheme with these arguments would write nothing new, so a start
// can skip it. Any thread; reads only, a bounded amount, without following links.
bool ClientUrlSchemeIsRegistered(const platform::IUrlSchemeRegistration& urls,
                                 bool installed,
                                 const std::string& clientExecutable);

}  // namespace vorn
