#pragma once

#include <QStringList>

namespace vorn {

enum class StartupRole {
    RegisterProtocol,  // "/createprotocol": register the URL scheme and exit
    Main,              // the client itself
};

// Only the first argument after the program is examined, in any letter case.
StartupRole DecideStartupRole(const QStringList& arguments);

}  // namespace vorn
