#pragma once

#include <QString>

namespace vorn {

// Where the client reads and writes its files. Portable (a client folder the user may write,
// as a source build or an unpacked folder): everything beside the executable, as it always
// was. Installed (the folder is not writable, or holds the marker file the package installs, so
// that even root leaves a packaged folder untouched): the administrator's config.ini (Url,
// ReadTime) stays in the client folder; what the client writes for the user -- ComPort, the
// model folder and archive, the staging folder, the card photo, the logs -- goes to the user's
// state folder $XDG_DATA_HOME/vornclient/ (default ~/.local/share/vornclient/), and the engine's
// cache to $XDG_CACHE_HOME/vornclient/caches rather than the temporary folder every user shares.
// A plain value: resolving touches no file; any thread may read it.
class ClientPaths {
public:
    enum class Mode { Portable, Installed };

    // The file whose presence in the client folder asks for per-user state.
    static QString InstalledMarkerName();

    // clientFolder is the executable's folder; dataHome and cacheHome the user's data and cache
    // folders (the resolved $XDG_DATA_HOME, $XDG_CACHE_HOME). Folders returned end in "/".
    static ClientPaths Resolve(const QString& clientFolder,
                               const QString& dataHome,
                               const QString& cacheHome);
    // The same with the user's folders as the environment gives them.
    static ClientPaths Resolve(const QString& clientFolder);

    Mode GetMode() const { return m_mode; }
    QString ClientFolder() const { return m_client; }
    QString StateFolder() const { return m_state; }

    QString SettingsFile() const { return m_client + QStringLiteral("config.ini"); }
    // Where ComPort is read and written: the user's own file when installed, so that editing
    // it can never redirect the administrator's Url.
    QString UserSettingsFile() const { return m_state + QStringLiteral("config.ini"); }
    QString ModelFolder() const { return m_state + QStringLiteral("models"); }
    QString ModelArchive() const { return m_state + QStringLiteral("models.zip"); }
    QString PhotoFile() const { return m_state + QStringLiteral("idcard.jpg"); }
    QString LogFolder() const { return m_state + QStringLiteral("logs"); }
    // The engine's disk cache (portable: "caches" in the temporary folder, as always).
    QString EngineCacheFolder() const { return m_cache; }

    // Creates the state folder when installed (mode 0700, parents as the system makes them).
    // True when it exists afterwards; portable mode creates nothing.
    bool EnsureStateFolder() const;

private:
    Mode m_mode = Mode::Portable;
    QString m_client;
    QString m_state;
    QString m_cache;
};

}  // namespace vorn
