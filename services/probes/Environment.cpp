#include "services/probes/Environment.h"

#include "services/probes/ScreenCapture.h"
#include "services/probes/VirtualMachine.h"

#include <mutex>

namespace vorn {

namespace {

// The hardware under a running system does not change: the firmware and CPU are read once.
const std::string& ThisMachinesVirtualMachine() {
    static std::once_flag once;
    static std::string name;
    std::call_once(once, [] { name = DetectVirtualMachine(); });
    return name;
}

}  // namespace

EnvironmentReport ProbeEnvironment(const vorn::platform::IRemoteSession& session,
                                   const std::vector<vorn::platform::ProcessRecord>& processes) {
    EnvironmentReport report;
    report.virtualMachine = ThisMachinesVirtualMachine();
    report.remoteSession = session.IsRemote(processes);
    report.screenCapture = FindScreenCapture(processes);
    return report;
}

}  // namespace vorn
