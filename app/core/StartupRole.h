#pragma once

#include <QString>
#include <QStringList>

namespace vorn {

enum class StartupRole {
    RegisterProtocol,  // "/createprotocol": register the URL scheme and exit
    PrintRequestKey,   // "--request-key": print the client key and exit
    PrintVersion,      // "--version": print the version and exit
    PrintHelp,         // "--help": print the command-line forms and exit
    Main,              // the client itself
};

// Only the first argument after the program is examined; "/createprotocol" in any letter case,
// "--request-key", "--version" and "--help" exactly. Anything else (a vornapp: URL included)
// starts the client.
StartupRole DecideStartupRole(const QStringList& arguments);

// "vornclient <version>" and the usage text, each ending in a newline.
QString VersionText();
QString HelpText();

}  // namespace vorn
