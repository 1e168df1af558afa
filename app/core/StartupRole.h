#pragma once

#include <QStringList>

namespace vorn {

enum class StartupRole {
    RegisterProtocol,  // "/createprotocol": register the URL scheme and exit
    PrintRequestKey,   // "--request-key": print the client key and exit
    Main,              // the client itself
};

// Only the first argument after the program is examined: "/createprotocol" in any letter case,
// "--request-key" exactly.
StartupRole DecideStartupRole(const QStringList& arguments);

}  // namespace vorn
