#pragma once

#include <memory>
#include <string>

// Texts (schemes, paths, entry names) are UTF-8 std::string, as everywhere in platform/.
namespace vorn::platform {

// What opening scheme://... runs for this user now: the handler's command (on Linux the Exec
// value of the default handler's desktop entry, on Windows the class registry's open command)
// and the program that command starts. Both empty when the scheme has no handler.
struct UrlSchemeHandler {
    std::string command;
    std::string program;
    bool programFound = false;  // the program is a file (named without a folder: found in $PATH)
};

// Which program the system starts for scheme://... URLs, for the current user.
class IUrlSchemeRegistration {
public:
    virtual ~IUrlSchemeRegistration() = default;

    // Registers the executable (its full path) as the handler of scheme://... URLs for the
    // current user, replacing an earlier registration of the scheme; other handlers are kept.
    // Returns false when the registration could not be written (the reason is logged).
    virtual bool Register(const std::string& scheme, const std::string& executablePath) const = 0;

    // An installed client comes with a handler entry of its own (on Linux a desktop entry such
    // as "vornclient.desktop" in a system data folder). True when `entryName` is installed
    // system-wide, outside the user's own folders.
    virtual bool HasSystemHandlerEntry(const std::string& entryName) const = 0;

    // Makes that installed entry the user's default handler of scheme://... URLs, writing no
    // entry of its own. Returns false when the default could not be written (the reason is
    // logged).
    virtual bool SetDefaultHandler(const std::string& scheme,
                                   const std::string& entryName) const = 0;

    // The handler scheme://... has now. Any thread; reads a few small files or registry values.
    virtual UrlSchemeHandler FindHandler(const std::string& scheme) const = 0;

    // True when Register / SetDefaultHandler with these arguments would leave the registration
    // exactly as it is, so a start can skip writing it. Reads only, a bounded amount, and
    // follows no link at the places the registration writes: anything unexpected there (a link,
    // a file too large or unreadable, a missing entry) answers false, and the caller registers.
    virtual bool RegistrationIsCurrent(const std::string& scheme,
                                       const std::string& executablePath) const = 0;
    virtual bool DefaultHandlerIsCurrent(const std::string& scheme,
                                         const std::string& entryName) const = 0;
};

// Never null. Any thread.
std::unique_ptr<IUrlSchemeRegistration> CreateUrlSchemeRegistration();

}  // namespace vorn::platform
