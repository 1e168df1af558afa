#include "services/probes/RemoteControl.h"

#include "platform/Logging.h"

#include <QString>

#include <unistd.h>

namespace {

template <size_t N>
bool AnyEquals(const std::array<std::string_view, N>& names, std::string_view text) {
    for (std::string_view name : names) {
        if (text == name)
            return true;
    }
    return false;
}

bool ContainsToolName(std::string_view text) {
    for (std::string_view name : RemoteToolNames) {
        if (text.find(name) != std::string_view::npos)
            return true;
    }
    return false;
}

}  // namespace

RemoteControlRule MatchRemoteControlRule(const vorn::platform::ProcessRecord& record) {
    const std::string_view name = record.fileName;

    const size_t dot = name.rfind('.');
    const std::string_view stem = dot == std::string_view::npos ? name : name.substr(0, dot);
    if (AnyEquals(RemoteToolNames, stem) || AnyEquals(ExactOnlyNames, stem))
        return RemoteControlRule::ExactName;

    for (std::string_view tool : RemoteToolNames) {
        if (name.starts_with(tool))
            return RemoteControlRule::NamePrefix;
    }

    // ELF files carry no version strings; the install path and the name the process gave
    // itself are where a renamed tool still shows what it is. The other arguments are the
    // user's data: `grep TeamViewer` or an editor on "anydesk.txt" is not the tool.
    if (ContainsToolName(record.imagePath) || ContainsToolName(record.argv0))
        return RemoteControlRule::PathOrOwnName;
    return RemoteControlRule::None;
}

bool IsRemoteControlProcess(const vorn::platform::ProcessRecord& record) {
    const RemoteControlRule rule = MatchRemoteControlRule(record);
    if (rule == RemoteControlRule::None)
        return false;
    qCInfo(lcProbes) << "Remote-control process: pid" << record.pid << "name"
                     << QString::fromUtf8(record.fileName.data(),
                                          static_cast<qsizetype>(record.fileName.size()))
                     << "rule" << static_cast<int>(rule);
    return true;
}

bool IsRemoteControlRunning(const std::vector<vorn::platform::ProcessRecord>& processes) {
    bool found = false;
    // Every process is examined, so the log names each match and not only the first.
    for (const vorn::platform::ProcessRecord& record : processes) {
        if (IsRemoteControlProcess(record))
            found = true;
    }
    return found;
}

bool IsRemoteControlRunning(const std::filesystem::path& procRoot) {
    return IsRemoteControlRunning(vorn::platform::EnumerateProcesses(procRoot));
}

std::vector<vorn::platform::ProcessRecord> OtherProcesses() {
    std::vector<vorn::platform::ProcessRecord> processes = vorn::platform::EnumerateProcesses();
    // The client's own command line carries the vornapp:// address a web page started it with;
    // a page must not be able to make the client report itself as a remote-control tool.
    const auto self = static_cast<uint32_t>(::getpid());
    std::erase_if(processes, [self](const auto& record) { return record.pid == self; });
    return processes;
}

bool IsRemoteControlRunning() {
    return IsRemoteControlRunning(OtherProcesses());
}
