#include "platform/Logging.h"

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
