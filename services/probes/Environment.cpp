#include "services/probes/Environment.h"

#include "services/probes/ScreenCapture.h"

namespace vorn {

EnvironmentReport ProbeEnvironment(const vorn::platform::IRemoteSession& session,
                                   const std::string& virtualMachine,
                                   const std::vector<vorn::platform::ProcessRecord>& processes) {
    EnvironmentReport report;
    report.virtualMachine = virtualMachine;
    report.remoteSession = session.IsRemote(processes);
    report.screenCapture = FindScreenCapture(processes);
    return report;
}

}  // namespace vorn
