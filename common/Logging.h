#pragma once

#include <QLoggingCategory>

// One category per subsystem. Debug and info output is off unless enabled with QT_LOGGING_RULES
// (for example "vorn.*.debug=true"); warnings are always shown, so they are kept for what a
// person running the client has to know about.
Q_DECLARE_LOGGING_CATEGORY(lcApp)       // vorn.app: start-up, engine settings, URL scheme
Q_DECLARE_LOGGING_CATEGORY(lcUi)        // vorn.ui: skin documents and controls
Q_DECLARE_LOGGING_CATEGORY(lcWindow)    // vorn.window: main window
Q_DECLARE_LOGGING_CATEGORY(lcLock)      // vorn.lock: application lock and keyboard filters
Q_DECLARE_LOGGING_CATEGORY(lcBrowser)   // vorn.browser: browser control and client handler
Q_DECLARE_LOGGING_CATEGORY(lcBridge)    // vorn.bridge: page requests and answers
Q_DECLARE_LOGGING_CATEGORY(lcPage)      // vorn.page: the page's own console output
Q_DECLARE_LOGGING_CATEGORY(lcSettings)  // vorn.settings: INI files
Q_DECLARE_LOGGING_CATEGORY(lcCard)      // vorn.card: identity-card reader
Q_DECLARE_LOGGING_CATEGORY(lcProbes)    // vorn.probes: camera list, remote-control detection
Q_DECLARE_LOGGING_CATEGORY(lcModels)    // vorn.models: archive layer, update, local serving

namespace vorn::log {

// Routes the platform layer's standard-C++ log sink (common/LogSink.h) into the categories above:
// vorn.app, vorn.lock, vorn.card, vorn.probes, vorn.models. Call once, first thing in main.
void ConnectPlatformLog();

}  // namespace vorn::log
