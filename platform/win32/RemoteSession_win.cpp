#include "platform/RemoteSession.h"

#include <windows.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <string_view>

namespace vorn::platform {
namespace {

// Screen servers that show the console session to remote viewers (VNC servers of UltraVNC,
// TightVNC, TigerVNC, RealVNC, and Chrome Remote Desktop's host). Remote-control tools that are
// also programs a candidate runs (TeamViewer, AnyDesk, ...) are the remote-control probe's.
constexpr std::array<std::string_view, 6> kScreenServers = {
    "winvnc.exe",    "winvnc4.exe",      "tvnserver.exe",
    "vncserver.exe", "uvnc_service.exe", "remoting_host.exe"};

// File names on Windows are compared without regard to case, as the file system does.
bool SameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

class RemoteSession final : public IRemoteSession {
public:
    // SM_REMOTESESSION: this session is a Remote Desktop session. SM_REMOTECONTROL: this session
    // is being shadowed (watched and controlled) from another one.
    bool IsRemote(const std::vector<ProcessRecord>& processes) const override {
        if (GetSystemMetrics(SM_REMOTESESSION) != 0 || GetSystemMetrics(SM_REMOTECONTROL) != 0)
            return true;
        return std::any_of(processes.begin(), processes.end(), [](const ProcessRecord& process) {
            return std::any_of(
                kScreenServers.begin(), kScreenServers.end(),
                [&](std::string_view server) { return SameName(process.fileName, server); });
        });
    }
};

}  // namespace

std::unique_ptr<IRemoteSession> CreateRemoteSession() {
    return std::make_unique<RemoteSession>();
}

}  // namespace vorn::platform
