#pragma once

#include "services/settings/ClientPaths.h"

#include <QString>

namespace vorn::platform {
class IUrlSchemeRegistration;
}

namespace vorn {

// The client's paths and settings: an ordinary object the program's wiring (app/ServiceWiring)
// creates first and hands to whatever needs a path or a setting. Main thread.
class CGlobal {
public:
    // The executable's folder is the client folder (the working folder before a
    // QCoreApplication exists).
    CGlobal();
    // `clientFolder` (with or without the trailing "/") decides where everything else is:
    // portable or per-user state, see vorn::ClientPaths.
    explicit CGlobal(const QString& clientFolder);

    // The client folder, ending in "/".
    QString ClientFolder() const { return m_paths.ClientFolder(); }
    const vorn::ClientPaths& Paths() const { return m_paths; }

    // Settings of "config.ini", section "Config": the client folder's file, but ComPort lives
    // in the user's own file when installed (the client folder's value is then its default).
    // Reads leave `value` as it was when the file, section or key is missing; a write creates
    // file and section.
    void GetConfigInt(const QString& key, int& value) const;
    void GetConfigString(const QString& key, QString& value) const;
    bool SetConfigInt(const QString& key, int value);

    // Writes the desktop entry and the default handler of the vornapp scheme; an installed
    // client whose packaged entry is present makes that entry the user's default instead. Through
    // `urls`, this system's registration.
    void RegisterUrlProtocol(const vorn::platform::IUrlSchemeRegistration& urls) const;

private:
    vorn::ClientPaths m_paths;
};

}  // namespace vorn
