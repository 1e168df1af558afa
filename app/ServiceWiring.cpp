#include "app/ServiceWiring.h"

#include "browser/BridgeSchemeHandler.h"
#include "browser/BrowserHandler.h"
#include "browser/BrowserProfile.h"
#include "browser/CefBrowserUI.h"
#include "browser/bridge/PageRequest.h"
#include "common/CardResult.h"
#include "common/Logging.h"
#include "models/update/ModelUpdater.h"
#include "platform/Desktop.h"
#include "platform/Monitors.h"
#include "platform/ProcessList.h"
#include "platform/WindowState.h"
#include "services/CGlobal.h"
#include "services/card/CardEventRelay.h"
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

class CardReading : public ICardReading {
public:
    // The reader's stop waits for the card library only so long (when the event loop ends, and
    // again when it is destroyed): a hung port does not hold up the exit.
    explicit CardReading(CGlobal& settings)
        : m_settings(settings), m_reader(std::make_unique<CCardReader>()) {}

    // `receiver` gets the reader's reports on this thread. Main thread, once.
    void Init(CardReceiver* receiver) {
        int comPort = 0;
        int readTime = 500;
        m_settings.GetConfigInt(QStringLiteral("ComPort"), comPort);
        m_settings.GetConfigInt(QStringLiteral("ReadTime"), readTime);
        const ClientPaths& paths = m_settings.Paths();
        // The photo's folder is the state folder, which an installed client may still have to
        // create.
        paths.EnsureStateFolder();
        m_reader->Init(receiver, paths.ClientFolder(), comPort, readTime, paths.PhotoFile());
    }

    void SavePort(int port) override { m_settings.SetConfigInt(QStringLiteral("ComPort"), port); }
    // Port 0: the reader searches the ports.
    void Start(CardMode mode, CardRequester requester) override {
        m_reader->StartCardReading(0, mode, requester);
    }
    void Stop() override { m_reader->StopCardReading(); }

private:
    CGlobal& m_settings;
    std::unique_ptr<CCardReader> m_reader;
};

class ModelUpdate : public IModelUpdate {
public:
    explicit ModelUpdate(const ClientPaths& paths) : m_paths(paths) {}

    // The installed version is read from the model folder's ver.ini.
    void Start() override {
        if (!m_paths.EnsureStateFolder())
            qCWarning(lcModels,
                      "The folder %s cannot be created; the model update cannot save files.",
                      qPrintable(m_paths.StateFolder()));
        // Created on the first request.
        if (!m_updater)
            m_updater = std::make_unique<CModelUpdater>(
                m_paths.StateFolder(), deployment::HttpResourceHost(), HttpLimits{},
                InstallLimits{}, m_paths.SettingsFile());
        m_updater->Start(-1);
    }

private:
    const ClientPaths& m_paths;
    std::unique_ptr<CModelUpdater> m_updater;
};

// The card worker's reports, back on the main thread: each result goes to the page bridge (which
// drops it when the page moved to another origin since), the reading state to whatever shows
// it (the window's read button, while the window exists).
class CardEvents : public CardReceiver {
public:
    explicit CardEvents(PageBridge& bridge) : m_bridge(bridge) {}

    void ShowReadingStateWith(std::function<void(bool reading)> show) {
        m_showReadingState = std::move(show);
    }

    void OnCardResult(const CardResult& result) override { m_bridge.AnswerCardResult(result); }
    void OnCardBusy(bool reading, bool) override {
        if (m_showReadingState)
            m_showReadingState(reading);
    }

private:
    PageBridge& m_bridge;
    std::function<void(bool reading)> m_showReadingState;
};

class PageProbes : public IPageProbes {
public:
    explicit PageProbes(QObject* context)
        : m_windowState(platform::CreateWindowState()),
          m_monitors(platform::CreateMonitors()),
          m_scanner(context, platform::CreateProcessList()) {}

    // Where the request key comes from; until then the key is left empty.
    void SetProfile(const CBrowserProfile* profile) { m_profile = profile; }
    void SetLockControl(const ILockControl* lock) { m_lock = lock; }

    CameraList VirtualCameras() override { return GetVirtualCameraList(); }
    void ScanProcesses(ScanDone done) override { m_scanner.Request(std::move(done)); }
    ClientInfo ClientFacts() override;

private:
    const CBrowserProfile* m_profile = nullptr;
    std::unique_ptr<platform::IWindowState> m_windowState;
    std::unique_ptr<platform::IMonitors> m_monitors;
    const ILockControl* m_lock = nullptr;
    RemoteControlScanner m_scanner;
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
        : card(settings),
          models(settings.Paths()),
          probes(&context),
          bridge(card, models, probes),
          cardEvents(bridge) {}

    // First: everything below may read a path or a setting until it is gone.
    CGlobal settings;
    // Where the process scan's answers are delivered: the main thread.
    QObject context;
    CardReading card;
    ModelUpdate models;
    PageProbes probes;
    PageBridge bridge;
    CardEvents cardEvents;
    CBrowserProfile* profile = nullptr;
};

ServiceWiring::ServiceWiring() : m_parts(std::make_unique<Parts>()) {}

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
    parts.card.Init(&parts.cardEvents);
    parts.cardEvents.ShowReadingStateWith([window = QPointer<CMainWnd>(&window)](bool reading) {
        if (window)
            window->ShowReadingState(reading);
    });
    // The read button's answer goes to the page shown now, and to no later site.
    QObject::connect(&window, &CMainWnd::ReadCardClicked, &parts.context,
                     [&parts] { parts.bridge.StartCardReading(); });
    parts.bridge.SetLockControl(&window);
    parts.probes.SetLockControl(&window);
    if (CBrowserHandler* page = window.Browser() ? window.Browser()->GetHandler() : nullptr) {
        parts.bridge.SetAnswerSink([page = QPointer<CBrowserHandler>(page)](const QString& script) {
            if (page)
                page->SendJavaScript(script);
        });
        QObject::connect(page, &CBrowserHandler::OriginChanged, &parts.context,
                         [&parts] { parts.bridge.OnOriginChange(); });
    }
    profile.Bridge()->SetTarget(&parts.bridge);
    // The window owns the page; once it is gone nothing reaches either.
    QObject::connect(&window, &QObject::destroyed, &parts.context, [&parts] {
        parts.profile->Bridge()->SetTarget(nullptr);
        parts.bridge.SetLockControl(nullptr);
        parts.probes.SetLockControl(nullptr);
        parts.bridge.SetAnswerSink({});
        parts.cardEvents.ShowReadingStateWith({});
    });
}

}  // namespace vorn
