#pragma once

#include "window/MainWnd.h"

#include <memory>

class CBrowserProfile;
class CGlobal;

namespace vorn {

class PageBridge;

// The one place that wires the program: it takes the services object (paths and settings), hands
// it the model updater, creates the card reader, the probes and the page bridge, and connects the
// bridge to the engine's scheme handler, the main window (lock control, card results) and the page
// (answers, origin changes). Main thread. Create after the application object and the engine
// profile; destroy after the main window and before the profile.
class ServiceWiring {
public:
    ServiceWiring(CGlobal& global, CBrowserProfile& profile);
    ~ServiceWiring();
    ServiceWiring(const ServiceWiring&) = delete;
    ServiceWiring& operator=(const ServiceWiring&) = delete;

    PageBridge& Bridge();
    // What the main window's page starts with: config.ini's Url and AllowReload.
    CMainWnd::PageSettings PageSettings() const;
    // Once the window has built itself from its skin (it holds the page then). Until the window
    // is destroyed, page requests reach the bridge and the bridge reaches the window.
    void ConnectWindow(CMainWnd& window);

private:
    struct Parts;
    std::unique_ptr<Parts> m_parts;
};

}  // namespace vorn
