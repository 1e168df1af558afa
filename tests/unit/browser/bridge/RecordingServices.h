#pragma once

#include "browser/bridge/PageRequest.h"

#include <QStringList>

#include <vector>

namespace vorntest {

// Every service the page bridge reaches, writing down what it was asked, in order. Process scans
// are kept until the test answers them, as the worker would later.
struct RecordingServices : vorn::ICardReading,
                           vorn::IModelUpdate,
                           vorn::IPageProbes,
                           vorn::IProcessScan,
                           vorn::ILockControl {
    QStringList calls;
    std::vector<ScanDone> scans;
    vorn::LockState lock = vorn::LockState::Unlocked;

    void SavePort(int port) override { calls << QStringLiteral("port %1").arg(port); }
    void Start(vorn::CardMode mode, vorn::CardRequester) override {
        calls << (mode == vorn::CardMode::Continuous ? "read continuous" : "read once");
    }
    void Stop() override { calls << "stop"; }
    void Start() override { calls << "update"; }
    vorn::CameraList VirtualCameras() override {
        calls << "cameras";
        return {};
    }
    void Request(ScanDone done) override {
        calls << "scan";
        scans.push_back(std::move(done));
    }
    vorn::ClientInfo ClientFacts() override {
        calls << "client facts";
        return {};
    }
    void SetLockState(vorn::LockState state) override {
        lock = state;
        calls << (state == vorn::LockState::Locked ? "lock" : "unlock");
    }
    vorn::LockState GetLockState() const override { return lock; }
};

// A page bridge on recording services, with the window as its lock and a page taking answers.
struct RecordingBridge {
    RecordingBridge() {
        bridge.SetLockControl(&services);
        bridge.SetAnswerSink([this](const QString& script) { answers << script; });
    }
    RecordingServices services;
    vorn::PageBridge bridge{services, services, services, services};
    QStringList answers;
};

}  // namespace vorntest
