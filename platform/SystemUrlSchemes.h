#pragma once

#include "platform/UrlSchemeRegistration.h"

#include <string>

namespace vorn::platform {

// The system's own URL-scheme registration, what CreateUrlSchemeRegistration() hands out. Each
// system's file defines its methods: platform/linux/ (desktop entries and mimeapps.list),
// platform/win32/ (the class registry).
class SystemUrlSchemes final : public IUrlSchemeRegistration {
public:
    bool Register(const std::string& scheme, const std::string& executablePath) const override;
    bool HasSystemHandlerEntry(const std::string& entryName) const override;
    bool SetDefaultHandler(const std::string& scheme, const std::string& entryName) const override;
    UrlSchemeHandler FindHandler(const std::string& scheme) const override;
    bool RegistrationIsCurrent(const std::string& scheme,
                               const std::string& executablePath) const override;
    bool DefaultHandlerIsCurrent(const std::string& scheme,
                                 const std::string& entryName) const override;
};

}  // namespace vorn::platform
