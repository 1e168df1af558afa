#include "app/ClientKeySetup.h"
#include "app/ServiceWiring.h"
#include "app/SkinSetup.h"
#include "app/core/LogFile.h"
#include "app/core/StartupRole.h"
#include "browser/BrowserProfile.h"
#include "common/Logging.h"
#include "platform/KeyboardFilter.h"
#include "platform/ProcessControl.h"
#include "platform/SingleInstance.h"
#include "platform/UrlSchemeRegistration.h"
#include "platform/WindowState.h"
#include "services/CGlobal.h"
#include "services/UrlProtocol.h"
#include "ui/ResourceManager.h"
#include "window/MainWnd.h"

#include <QApplication>
#include <QCoreApplication>
#include <QPointer>
#include <QProcess>
#include <QScreen>
#include <QThreadPool>

#include <cstdio>
#include <memory>
#include <utility>

namespace {

int RegisterProtocol(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    // A role of its own: nothing but the paths is wired.
    vorn::CGlobal().RegisterUrlProtocol(*vorn::platform::CreateUrlSchemeRegistration());
    return 0;
}

// Prints the key an exam service lists to accept this release and installation.
int PrintRequestKey(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const std::string key =
        vorn::ComputeInstalledClientKey(vorn::InstalledClientKeyInputs(vorn::CGlobal()));
    if (key.empty())
        return 1;
    std::fputs((key + "\n").c_str(), stdout);
    return 0;
}

// A start rewrites the vornapp: registration only when it differs from what this executable
// would write (first start, a moved client folder, another handler made the default), in a child
// process nobody waits for. The comparison reads the user's files, so it stays off the main thread.
void RefreshUrlProtocol(bool installed) {
    const QString executable = QCoreApplication::applicationFilePath();
    QThreadPool::globalInstance()->start([executable, installed] {
        if (vorn::ClientUrlSchemeIsRegistered(*vorn::platform::CreateUrlSchemeRegistration(),
                                              installed, executable.toStdString())) {
            qCDebug(lcApp, "The vornapp: registration is current; it is not written again.");
            return;
        }
        QProcess::startDetached(executable, {QStringLiteral("/createprotocol")});
    });
}

// The log file in the state folder, which is made sure to exist first; it receives the records
// until it is destroyed.
std::unique_ptr<vorn::LogFile> StartLog(const vorn::ClientPaths& paths) {
    const bool stateReady = paths.EnsureStateFolder();
    auto log = std::make_unique<vorn::LogFile>(paths.LogFolder());
    vorn::LogFile::Install(log.get());
    qCInfo(lcApp, "vornclient %s started; client folder %s, state folder %s (%s)", VORN_VERSION,
           qPrintable(paths.ClientFolder()), qPrintable(paths.StateFolder()),
           paths.GetMode() == vorn::ClientPaths::Mode::Installed ? "per user" : "portable");
    if (!stateReady)
        qCWarning(lcApp,
                  "The folder %s cannot be created: card photos, model updates and the log "
                  "cannot be saved.",
                  qPrintable(paths.StateFolder()));
    return log;
}

// The client itself, from the engine's start to the end of its event loop. `program` is the
// name the process was started by.
int RunClient(char* program) {
    // A second start leaves silently; the running instance is not disturbed.
    if (!vorn::platform::CreateSingleInstance()->Acquire("vorn_appinstance"))
        return 0;

    vorn::engine::PrepareEnvironment();
    vorn::engine::RegisterSchemes();
    // The engine also reads switches from the command line: it gets only the program name.
    int engineArgc = 1;
    char* engineArgv[] = {program, nullptr};
    // Before the application object, so that what is logged while it goes still reaches the file.
    std::unique_ptr<vorn::LogFile> log;
    QApplication app(engineArgc, engineArgv);
    QApplication::setApplicationName(QStringLiteral("vornclient"));
    QApplication::setApplicationVersion(QStringLiteral(VORN_VERSION));

    auto wiring = std::make_unique<vorn::ServiceWiring>();
    const vorn::ClientPaths& paths = wiring->Paths();
    log = StartLog(paths);

    // Hashing the executable overlaps with the rest of start-up; the first request waits for it.
    const std::shared_future<std::string> clientKey =
        vorn::StartInstalledClientKey(wiring->Settings());
    vorn::SetupSkinResources();
    // The main window's own, handed to it below.
    std::unique_ptr<vorn::platform::IWindowState> windowState = vorn::platform::CreateWindowState();
    const bool lockAvailable = windowState->CanEnforceLock();
    if (!lockAvailable)
        qCWarning(lcLock,
                  "In a Wayland session the application lock (keeping the client in "
                  "front and blocking task-switching keys) cannot be enforced.");
    auto* profile = new vorn::CBrowserProfile(paths, lockAvailable, clientKey, &app);
    RefreshUrlProtocol(paths.GetMode() == vorn::ClientPaths::Mode::Installed);

    QPointer<vorn::CMainWnd> window =
        new vorn::CMainWnd(profile, wiring->PageSettings(), vorn::platform::CreateKeyboardFilter(),
                           std::move(windowState), vorn::platform::CreateProcessControl());
    // Sized as the window manager will maximise it before anything in it is laid out.
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        window->StartMaximizedOver(screen->availableGeometry());
    window->CreateFromSkin();
    wiring->ConnectWindow(*profile, *window);
    window->ShowStartMaximized();

    const int code = app.exec();
    // The exit's order, in one place: the card reader stopped when the event loop ended (bounded,
    // a port may hang); pages go before their profile (a window closed just now may still await
    // its deletion); the wiring's workers stop bounded, each leaving a stuck task its own state;
    // the log file goes after the application object, the last thing that logs.
    delete window.data();
    wiring.reset();
    delete profile;
    vorn::CResourceManager::GetInstance().Release();
    return code;
}

}  // namespace

int main(int argc, char** argv) {
    vorn::log::ConnectPlatformLog();
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    switch (vorn::DecideStartupRole(arguments)) {
        case vorn::StartupRole::RegisterProtocol:
            return RegisterProtocol(argc, argv);
        case vorn::StartupRole::PrintRequestKey:
            return PrintRequestKey(argc, argv);
        case vorn::StartupRole::PrintVersion:
            fputs(vorn::VersionText().toLocal8Bit().constData(), stdout);
            return 0;
        case vorn::StartupRole::PrintHelp:
            fputs(vorn::HelpText().toLocal8Bit().constData(), stdout);
            return 0;
        case vorn::StartupRole::Main:
            break;
    }
    return RunClient(argv[0]);
}
