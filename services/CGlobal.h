#pragma once

#include "services/settings/ClientPaths.h"

#include <QString>

#include <functional>

// The process-wide services object: the client's paths and settings, the model update and the
// URL-scheme registration. Created on first use and deliberately never destroyed, so a worker
// that outlives the main window still finds it.
class CGlobal {
public:
    static CGlobal& Instance();

    // The client folder (the executable's folder, ending in "/"). Tests point it elsewhere;
    // setting it resolves the paths again (portable or per-user state, see vorn::ClientPaths).
    QString ClientFolder() const { return m_paths.ClientFolder(); }
    void SetClientFolder(const QString& folder);
    const vorn::ClientPaths& Paths() const { return m_paths; }

    // Settings of "config.ini", section "Config": the client folder's file, but ComPort lives
    // in the user's own file when installed (the client folder's value is then its default).
    // Reads leave `value` as it was when the file, section or key is missing; a write creates
    // file and section.
    void GetConfigInt(const QString& key, int& value) const;
    void GetConfigString(const QString& key, QString& value) const;
    bool SetConfigInt(const QString& key, int value);

    // Model update on its own worker; a request while one runs is ignored (and logged).
    // The program hands in what starts a run (the updater belongs to the model layer, which this
    // object does not see: app/ServiceWiring.cpp); until then a request does nothing.
    // The starter gets the client's paths (the state folder, holding "models/", made sure to
    // exist) and the version.
    using ModelUpdateStarter =
        std::function<void(const vorn::ClientPaths& paths, int localVersion)>;
    void SetModelUpdateStarter(ModelUpdateStarter starter) {
        m_startModelUpdate = std::move(starter);
    }
    void StartModelUpdate(int localVersion);

    // Writes the desktop entry and the default handler of the vornapp scheme; an installed
    // client whose packaged entry is present makes that entry the user's default instead.
    void RegisterUrlProtocol();

private:
    CGlobal();
    ~CGlobal() = delete;

    vorn::ClientPaths m_paths;
    ModelUpdateStarter m_startModelUpdate;
};
