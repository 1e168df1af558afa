#pragma once

#include "window/MainWnd.h"

#include <memory>

namespace vorn {

class CBrowserProfile;
class CGlobal;
class ClientPaths;

// The one place that wires the program: it creates the client's paths and settings, the card
// reader and the receiver of its results, the model updater, the probes and the page bridge,
// and connects the bridge to the engine's scheme handler, the main window (lock control, read
// button) and the page (answers, origin changes). Main thread. Create right after the application
// object, before anything that needs a path or a setting; destroy after the main window and before
// the engine profile.
class ServiceWiring {
public:
    ServiceWiring();
    ~ServiceWiring();
    ServiceWiring(const ServiceWiring&) = delete;
    ServiceWiring& operator=(const ServiceWiring&) = delete;

    // The client's paths and config.ini, for the start-up steps that need them.
    CGlobal& Settings();
    const ClientPaths& Paths() const;
    // What the main window's page starts with: config.ini's Url and AllowReload.
    CMainWnd::PageSettings PageSettings() const;
    // Once the window has built itself from its skin (it holds the page then). Until the window
    // is destroyed, page requests reach the bridge through the profile's scheme handler, and
    // the bridge reaches the window. `profile` must outlive this object.
    void ConnectWindow(CBrowserProfile& profile, CMainWnd& window);

private:
    struct Parts;
    std::unique_ptr<Parts> m_parts;
};

}  // namespace vorn
