#pragma once

#include <QString>
#include <QtGlobal>

// What a decoded page request acts on: the main window's event queue and the services object.
// The production target forwards to QCoreApplication::postEvent and CGlobal; tests use a double.
// Called on the thread that decodes page requests (the browser side of the bridge).
class IBridgeTarget {
public:
    virtual ~IBridgeTarget() = default;

    // Posts a UM_* event (services/Messages.h) to the main window; never waits for it.
    virtual void PostToWindow(int message, qintptr wParam) = 0;
    // Stores an integer in section "Config" of config.ini.
    virtual void SetConfigInt(const QString& key, int value) = 0;
    // Starts a card reading (continuous 1) or a single one (0); returns at once.
    virtual void StartCardReading(int port, int continuous) = 0;
    // Ends a continuous reading after its current cycle; returns at once.
    virtual void StopCardReading() = 0;
};
