#pragma once

#include "platform/ProcessList.h"

#include <string>
#include <string_view>
#include <vector>

// The environment facts of the client report that need no display connection.
struct EnvironmentReport {
    std::string virtualMachine;              // DetectVirtualMachine
    bool remoteSession = false;              // vorn::platform::IsRemoteDisplay
    std::vector<std::string> screenCapture;  // FindScreenCapture
};

// Over a given display name and process list (one scan serves both process checks); the
// virtual machine is this machine's. Any thread.
EnvironmentReport ProbeEnvironment(std::string_view display,
                                   const std::vector<vorn::platform::ProcessRecord>& processes);
