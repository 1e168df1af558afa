#pragma once

#include "platform/ProcessList.h"

#include <memory>
#include <vector>

namespace vorn::platform {

// Whether the display that shows this session is reached from another machine.
class IRemoteSession {
public:
    virtual ~IRemoteSession() = default;

    // True when this session's screen is shown on another machine: the session itself is a
    // remote one (a display reached over the network, a VNC, RDP or NX server), or a screen
    // server among `processes` (this machine's, one scan serving several probes) serves it.
    // Any thread.
    virtual bool IsRemote(const std::vector<ProcessRecord>& processes) const = 0;
};

// Never null. Any thread.
std::unique_ptr<IRemoteSession> CreateRemoteSession();

}  // namespace vorn::platform
