#pragma once

#include <string>
#include <vector>

namespace vorn {

// What the page learns about the client and its environment from GetClientInfo.
struct ClientInfo {
    std::string version;   // the client's version
    std::string platform;  // "linux-x11", "linux-wayland"
    bool lockAvailable = false;
    bool locked = false;
    int displays = 0;
    std::string virtualMachine;  // "" or the hypervisor's name
    bool remoteSession = false;
    std::vector<std::string> screenCapture;  // names of running recorders and screen sharers
    std::string requestKey;                  // hex; "" when the client has none
};

}  // namespace vorn
