#pragma once

#include "platform/ProcessList.h"

#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace vorn {

// Remote-control tools, in the forms their executables are known by. Matched case-sensitively
// by exact name, name prefix, and substring of what identifies the program (RemoteControlRule).
inline constexpr std::array<std::string_view, 13> RemoteToolNames = {
    "Sunlogin",    "sunlogin",   "AnyDesk", "anydesk", "ToDesk",    "todesk",    "TeamViewer",
    "Team_Viewer", "teamviewer", "RayLink", "raylink", "AnyViewer", "anyviewer",
};

// Programs that count only when the executable is called exactly so (without extension).
inline constexpr std::array<std::string_view, 3> ExactOnlyNames = {"TIM", "WeChat", "QQ"};

// Which rule recognised a process; the numbers are the ones in the match log lines.
enum class RemoteControlRule : int {
    None = 0,
    ExactName = 1,      // file name without extension equals an entry of either list
    NamePrefix = 2,     // file name begins with a remote-control tool name
    PathOrOwnName = 3,  // what the process list tells of the program (its identity texts)
                        // contains a remote-control tool name
};

// The first rule `record` meets, in rule order, with the texts rule 3 searches given. Pure, any
// thread.
RemoteControlRule MatchRemoteControlRule(const vorn::platform::ProcessRecord& record,
                                         const std::vector<std::string>& identityTexts);

// The same, rule 3 searching what `processes` tells of the program behind `record`
// (IProcessList::IdentityTexts: on Windows the version resource's strings, on Linux the image
// path and the process's own name), read only when the name rules did not decide. The client's
// scan and the readiness check both judge a process through this. Any thread.
RemoteControlRule MatchRemoteControlRule(const vorn::platform::IProcessList& processes,
                                         const vorn::platform::ProcessRecord& record);

// True when `record` meets a rule; then writes one line naming the pid, name and rule to
// lcProbes. Any thread.
bool IsRemoteControlProcess(const vorn::platform::IProcessList& processes,
                            const vorn::platform::ProcessRecord& record);

// Every process `processes` lists but the client itself, which a page could otherwise make look
// like anything through the address it starts the client with. Any thread; blocks for the scan.
std::vector<vorn::platform::ProcessRecord> OtherProcesses(
    const vorn::platform::IProcessList& processes);

// Examines every one of `records` (one log line per match, identity texts from `processes`) and
// tells whether any is a remote-control tool; over OtherProcesses(processes) this is the probe
// the page asks for. Any thread. Processes that cannot be read only narrow what can match; an
// unreadable process table gives no records, so false.
bool IsRemoteControlRunning(const vorn::platform::IProcessList& processes,
                            const std::vector<vorn::platform::ProcessRecord>& records);
// The same over every process `processes` lists, the client included (tests). Blocks for the
// scan.
bool IsRemoteControlRunning(const vorn::platform::IProcessList& processes);

}  // namespace vorn
