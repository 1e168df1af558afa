#pragma once

#include <QObject>
#include <QStringList>

#include <future>
#include <string>

class QWebEngineProfile;

namespace vorn {

class ClientPaths;
class CModelRequestInterceptor;
class CBridgeSchemeHandler;
class CPageRequestInterceptor;

// Engine switches and process-wide engine settings.
namespace engine {

// The switch list the exam page relies on. It replaces whatever the environment held.
QStringList Switches(bool disableGpu);

// Prepares the environment before the engine starts: the switch list above in
// QTWEBENGINE_CHROMIUM_FLAGS, the sandbox off, no remote debugging port. Call before QApplication.
void PrepareEnvironment();

// Registers the bridge's URL scheme with the engine. Call before QApplication.
void RegisterSchemes();

// The name of the scheme the page script talks to.
inline constexpr const char* kBridgeScheme = "vornbridge";
// The scheme of the built-in home page.
inline constexpr const char* kHomeScheme = "vorn";

}  // namespace engine

// The client's one engine profile: disk cache under the temporary folder's "caches", language
// zh-CN, the page bridge's scheme handler and scripts, model-URL interception and signed
// requests, downloads through the save dialog. Created on the main thread after QApplication;
// it must outlive every page.
class CBrowserProfile : public QObject {
    Q_OBJECT
public:
    // `paths`: where the engine's cache and the model folder are. `lockAvailable`: whether the
    // lock can be enforced in this session, told to every page as a read-only flag. `clientKey`:
    // the key page requests are signed with (empty: unsigned), possibly still being computed.
    CBrowserProfile(const vorn::ClientPaths& paths,
                    bool lockAvailable,
                    std::shared_future<std::string> clientKey,
                    QObject* parent = nullptr);
    ~CBrowserProfile() override;

    QWebEngineProfile* Profile() const { return m_profile; }
    CBridgeSchemeHandler* Bridge() const { return m_bridge; }
    // Main thread; waits for the key if it is still being computed.
    const std::string& ClientKey() const { return m_clientKey.get(); }

private:
    void InstallScripts(bool lockAvailable);

    QWebEngineProfile* m_profile = nullptr;
    CBridgeSchemeHandler* m_bridge = nullptr;
    vorn::CModelRequestInterceptor* m_models = nullptr;
    CPageRequestInterceptor* m_interceptor = nullptr;
    std::shared_future<std::string> m_clientKey;
};

}  // namespace vorn
