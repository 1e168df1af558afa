#include "services/probes/Environment.h"

#include "platform/RemoteSession.h"
#include "services/probes/ScreenCapture.h"
#include "services/probes/VirtualMachine.h"

#include <cstdlib>
#include <mutex>

#include <unistd.h>

namespace {

// The hardware under a running system does not change: the firmware and CPU are read once.
const std::string& ThisMachinesVirtualMachine() {
    static std::once_flag once;
    static std::string name;
    std::call_once(once, [] { name = DetectVirtualMachine(); });
    return name;
}

}  // namespace

EnvironmentReport ProbeEnvironment(std::string_view display,
                                   const std::vector<vorn::platform::ProcessRecord>& processes) {
    EnvironmentReport report;
    report.virtualMachine = ThisMachinesVirtualMachine();
    report.remoteSession = vorn::platform::IsRemoteDisplay(display, processes);
    report.screenCapture = FindScreenCapture(processes);
    return report;
}

EnvironmentReport ProbeEnvironment() {
    std::vector<vorn::platform::ProcessRecord> processes = vorn::platform::EnumerateProcesses();
    const auto self = static_cast<uint32_t>(::getpid());
    std::erase_if(processes, [self](const auto& record) { return record.pid == self; });
    const char* display = std::getenv("DISPLAY");
    return ProbeEnvironment(display ? display : "", processes);
}
