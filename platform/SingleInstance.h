#pragma once

#include <memory>
#include <string>

// Text crossing the platform seam is UTF-8 in std::string throughout platform/; an
// implementation that needs UTF-16 (Windows) converts at its own boundary.
namespace vorn::platform {

// One running instance per user.
class ISingleInstance {
public:
    virtual ~ISingleInstance() = default;

    // Takes the single-instance lock of the given name (ASCII) for the calling user and holds it
    // until the process ends (the operating system drops it then, also after a crash; the object
    // may go before). Main thread, once at start-up. Returns false only when another running
    // instance of the same user holds it. The lock is the user's own: nobody else can take or
    // hold it for this user. Anything that keeps the lock from being taken (another user
    // squatting the name, no private place for it, an error) is logged and counts as taken, so
    // the client starts.
    virtual bool Acquire(const std::string& name) = 0;
};

// Never null.
std::unique_ptr<ISingleInstance> CreateSingleInstance();

}  // namespace vorn::platform
