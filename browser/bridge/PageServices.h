#pragma once

#include "common/CardMode.h"
#include "services/probes/CameraInfo.h"
#include "services/probes/ClientInfo.h"
#include "services/probes/RemoteControlScanner.h"

#include <cstdint>
#include <functional>

// What the page bridge (PageRequest.h) asks of the rest of the client. Each is handed in by the
// program's wiring (app/ServiceWiring.cpp); tests hand in fakes. Called on the main thread.
namespace vorn {

// Which page a card reading belongs to: a new value each time the page moves to another origin.
using CardRequester = std::uint64_t;

// The identity-card reader.
class ICardReading {
public:
    virtual ~ICardReading() = default;
    // Keeps the port the page gave as the reader's setting (ComPort).
    virtual void SavePort(int port) = 0;
    // Returns at once; each result comes back to PageBridge::AnswerCardResult on the main thread
    // carrying `requester`.
    virtual void Start(CardMode mode, CardRequester requester) = 0;
    // Ends a continuous reading after its current cycle; returns at once.
    virtual void Stop() = 0;
};

// The model update: download and install on its own worker; returns at once.
class IModelUpdate {
public:
    virtual ~IModelUpdate() = default;
    virtual void Start() = 0;
};

// What the page may learn about this machine and this client.
class IPageProbes {
public:
    virtual ~IPageProbes() = default;
    using ScanDone = std::function<void(const ProcessScanResult& scan)>;

    // The video devices that are not USB cameras.
    virtual CameraList VirtualCameras() = 0;
    // Scans the process table off the main thread; `done` runs later on the main thread.
    virtual void ScanProcesses(ScanDone done) = 0;
    // What the client knows of itself now: everything of ClientInfo but the process scan's part.
    virtual ClientInfo ClientFacts() = 0;
};

}  // namespace vorn
