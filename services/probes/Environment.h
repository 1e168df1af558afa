#pragma once

#include "platform/ProcessList.h"
#include "platform/RemoteSession.h"

#include <string>
#include <vector>

namespace vorn {

// The environment facts of the client report that need no display connection.
struct EnvironmentReport {
    std::string virtualMachine;              // DetectVirtualMachine
    bool remoteSession = false;              // vorn::platform::IRemoteSession::IsRemote
    std::vector<std::string> screenCapture;  // FindScreenCapture
};

// Over a given process list (one scan serves both process checks), with the hypervisor
// `virtualMachine` as DetectVirtualMachine names it. Any thread that may use `session`.
EnvironmentReport ProbeEnvironment(const vorn::platform::IRemoteSession& session,
                                   const std::string& virtualMachine,
                                   const std::vector<vorn::platform::ProcessRecord>& processes);

}  // namespace vorn
