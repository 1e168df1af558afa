#include "services/probes/RemoteControl.h"

#include "common/Logging.h"

#include <QString>

#include <cstdint>

namespace vorn {

bool IsRemoteControlProcess(const vorn::platform::IProcessList& processes,
                            const vorn::platform::ProcessRecord& record) {
    const RemoteControlRule rule = MatchRemoteControlRule(processes, record);
    if (rule == RemoteControlRule::None)
        return false;
    qCInfo(lcProbes) << "Remote-control process: pid" << record.pid << "name"
                     << QString::fromUtf8(record.fileName.data(),
                                          static_cast<qsizetype>(record.fileName.size()))
                     << "rule" << static_cast<int>(rule);
    return true;
}

bool IsRemoteControlRunning(const vorn::platform::IProcessList& processes,
                            const std::vector<vorn::platform::ProcessRecord>& records) {
    bool found = false;
    // Every process is examined, so the log names each match and not only the first.
    for (const vorn::platform::ProcessRecord& record : records) {
        if (IsRemoteControlProcess(processes, record))
            found = true;
    }
    return found;
}

bool IsRemoteControlRunning(const vorn::platform::IProcessList& processes) {
    return IsRemoteControlRunning(processes, processes.Enumerate());
}

std::vector<vorn::platform::ProcessRecord> OtherProcesses(
    const vorn::platform::IProcessList& list) {
    std::vector<vorn::platform::ProcessRecord> processes = list.Enumerate();
    // The client's own command line carries the vornapp:// address a web page started it with;
    // a page must not be able to make the client report itself as a remote-control tool.
    const std::uint32_t self = list.CurrentProcessId();
    std::erase_if(processes, [self](const auto& record) { return record.pid == self; });
    return processes;
}

}  // namespace vorn
