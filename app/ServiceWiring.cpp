#include "app/ServiceWiring.h"

#include "browser/BridgeSchemeHandler.h"
#include "browser/BrowserHandler.h"
#include "browser/BrowserProfile.h"
#include "browser/CefBrowserUI.h"
#include "browser/bridge/PageRequest.h"
#include "common/Logging.h"
#include "models/update/ModelUpdater.h"
#include "platform/Desktop.h"
#include "platform/Monitors.h"
#include "platform/ProcessList.h"
#include "platform/RemoteSession.h"
#include "platform/VideoDevices.h"
#include "platform/Virtualization.h"
#include "platform/WindowState.h"
#include "services/CGlobal.h"
#include "services/card/CardReader.h"
#include "services/probes/CameraList.h"
#include "services/probes/Displays.h"
#include "services/settings/Deployment.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QPointer>
#include <QScreen>

namespace vorn {
namespace {

// The client's facts come from the engine profile, the main window's lock, the toolkit's screens
// and the platform's window state and monitors: this is where they meet.
class PageProbes : public IPageProbes {
public:
    PageProbes()
        : m_windowState(platform::CreateWindowState()),
          m_monitors(platform::CreateMonitors()),
          m_videoDevices(platform::CreateVideoDevices()) {}

    // Where the request key comes from; until then the key is left empty.
    void SetProfile(const CBrowserProfile* profile) { m_profile = profile; }
    void SetLockControl(const ILockControl* lock) { m_lock = lock; }

    CameraList VirtualCameras() override { return GetVirtualCameraList(*m_videoDevices); }
    ClientInfo ClientFacts() override;

private:
    const CBrowserProfile* m_profile = nullptr;
    std::unique_ptr<platform::IWindowState> m_windowState;
    std::unique_ptr<platform::IMonitors> m_monitors;
    std::unique_ptr<platform::IVideoDevices> m_videoDevices;
    const ILockControl* m_lock = nullptr;
};

// Everything but the environment of the process scan.
ClientInfo PageProbes::ClientFacts() {
    ClientInfo info;
    info.version = QCoreApplication::applicationVersion().toStdString();
    info.lockAvailable = m_windowState->CanEnforceLock();
    info.platform = platform::SessionKind(QGuiApplication::platformName().toStdString());
    info.locked = m_lock && m_lock->GetLockState() == LockState::Locked;
    std::optional<std::vector<platform::MonitorArea>> monitors = m_monitors->List();
    if (!monitors) {
        // Without RandR monitors (or without X) the toolkit's screens stand in.
        monitors.emplace();
        for (const QScreen* screen : QGuiApplication::screens()) {
            const QRect g = screen->geometry();
            monitors->push_back({g.x(), g.y(), g.width(), g.height()});
        }
    }
    info.displays = CountDisplays(*monitors);
    if (m_profile)
        info.requestKey = m_profile->ClientKey();
    return info;
}

}  // namespace

struct ServiceWiring::Parts {
    Parts()
        : models(settings.Paths().StateFolder(),
                 deployment::HttpResourceHost(),
                 HttpLimits{},
                 InstallLimits{},
                 settings.Paths().SettingsFile()),
          scanner(&context,
                  platform::CreateProcessList(),
                  platform::CreateRemoteSession(),
                  platform::CreateVirtualization()),
          bridge(card, models, probes, scanner) {}

    // First: everything below may read a path or a setting until it is gone.
    CGlobal settings;
    // Where the process scan's answers are delivered: the main thread.
    QObject context;
    // The reader's stop waits for the card library only so long (when the event loop ends, and
    // again when it is destroyed): a hung port does not hold up the exit.
    CCardReader card;
    CModelUpdater models;
    RemoteControlScanner scanner;
    PageProbes probes;
    PageBridge bridge;
    CBrowserProfile* profile = nullptr;
};

ServiceWiring::ServiceWiring() : m_parts(std::make_unique<Parts>()) {
    m_parts->card.SetPortStore([&settings = m_parts->settings](int port) {
        settings.SetConfigInt(QStringLiteral("ComPort"), port);
    });
}

ServiceWiring::~ServiceWiring() {
    if (m_parts->profile)
        m_parts->profile->Bridge()->SetTarget(nullptr);
}

CGlobal& ServiceWiring::Settings() {
    return m_parts->settings;
}

const ClientPaths& ServiceWiring::Paths() const {
    return m_parts->settings.Paths();
}

CMainWnd::PageSettings ServiceWiring::PageSettings() const {
    CMainWnd::PageSettings page;
    // A present "Url" wins over the built-in address, even when it is empty.
    page.startUrl = deployment::HomePage();
    m_parts->settings.GetConfigString(QStringLiteral("Url"), page.startUrl);
    int allowReload = 1;
    m_parts->settings.GetConfigInt(QStringLiteral("AllowReload"), allowReload);
    page.reloadKeys = allowReload != 0;
    return page;
}

void ServiceWiring::ConnectWindow(CBrowserProfile& profile, CMainWnd& window) {
    Parts& parts = *m_parts;
    parts.profile = &profile;
    parts.probes.SetProfile(&profile);
    int comPort = 0;
    int readTime = 500;
    parts.settings.GetConfigInt(QStringLiteral("ComPort"), comPort);
    parts.settings.GetConfigInt(QStringLiteral("ReadTime"), readTime);
    // The photo goes to the state folder, which start-up has made (StartLog in main.cpp).
    const ClientPaths& paths = parts.settings.Paths();
    // The reader reports to the page bridge on this thread.
    parts.card.Init(&parts.bridge, paths.ClientFolder(), comPort, readTime, paths.PhotoFile());
    parts.bridge.SetReadingStateSink([window = QPointer<CMainWnd>(&window)](bool reading) {
        if (window)
            window->ShowReadingState(reading);
    });
    // The read button's answer goes to the page shown now, and to no later site.
    QObject::connect(&window, &CMainWnd::ReadCardClicked, &parts.bridge,
                     &PageBridge::StartCardReading);
    parts.bridge.SetLockControl(&window);
    parts.probes.SetLockControl(&window);
    if (CBrowserHandler* page = window.Browser() ? window.Browser()->GetHandler() : nullptr) {
        parts.bridge.SetAnswerSink(page->ScriptRunner());
        QObject::connect(page, &CBrowserHandler::OriginChanged, &parts.bridge,
                         &PageBridge::OnOriginChange);
    }
    profile.Bridge()->SetTarget(&parts.bridge);
    // The window owns the page; once it is gone nothing reaches either.
    QObject::connect(&window, &QObject::destroyed, &parts.context, [&parts] {
        parts.profile->Bridge()->SetTarget(nullptr);
        parts.bridge.SetLockControl(nullptr);
        parts.probes.SetLockControl(nullptr);
        parts.bridge.SetAnswerSink({});
        parts.bridge.SetReadingStateSink({});
    });
}

}  // namespace vorn
