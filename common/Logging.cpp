#include "common/Logging.h"

#include "common/LogSink.h"

Q_LOGGING_CATEGORY(lcApp, "vorn.app", QtWarningMsg)
Q_LOGGING_CATEGORY(lcUi, "vorn.ui", QtWarningMsg)
Q_LOGGING_CATEGORY(lcWindow, "vorn.window", QtWarningMsg)
Q_LOGGING_CATEGORY(lcLock, "vorn.lock", QtWarningMsg)
Q_LOGGING_CATEGORY(lcBrowser, "vorn.browser", QtWarningMsg)
Q_LOGGING_CATEGORY(lcBridge, "vorn.bridge", QtWarningMsg)
Q_LOGGING_CATEGORY(lcPage, "vorn.page", QtWarningMsg)
Q_LOGGING_CATEGORY(lcSettings, "vorn.settings", QtWarningMsg)
Q_LOGGING_CATEGORY(lcCard, "vorn.card", QtWarningMsg)
Q_LOGGING_CATEGORY(lcProbes, "vorn.probes", QtWarningMsg)
Q_LOGGING_CATEGORY(lcModels, "vorn.models", QtWarningMsg)

namespace vorn::log {
namespace {

using Category = const QLoggingCategory& (*)();

Category CategoryOf(Area area) {
    switch (area) {
        case Area::Lock:
            return lcLock;
        case Area::Card:
            return lcCard;
        case Area::Probes:
            return lcProbes;
        case Area::Models:
            return lcModels;
        case Area::App:
            break;
    }
    return lcApp;
}

void ToQtCategory(Area area, Level level, std::string_view message) {
    const Category category = CategoryOf(area);
    const QString text = QString::fromUtf8(message.data(), static_cast<qsizetype>(message.size()));
    switch (level) {
        case Level::Warning:
            qCWarning(category).noquote() << text;
            break;
        case Level::Info:
            qCInfo(category).noquote() << text;
            break;
        case Level::Debug:
            qCDebug(category).noquote() << text;
            break;
    }
}

}  // namespace

void ConnectPlatformLog() {
    SetSink(&ToQtCategory);
}

}  // namespace vorn::log
