#include "browser/bridge/PageRequest.h"

#include "common/CardResult.h"
#include "services/card/CardReader.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QStringList>

#include <memory>
#include <vector>

using namespace vorn;

namespace {

// Every service the bridge reaches, recording what it was asked. Process scans wait until the
// test completes them, as a worker would later.
struct FakeServices : ICardReading, IModelUpdate, IPageProbes, IProcessScan, ILockControl {
    QStringList calls;
    std::vector<ScanDone> scans;
    LockState lock = LockState::Unlocked;

    void SavePort(int port) override { calls << QStringLiteral("port %1").arg(port); }
    void Start(CardMode mode, CardRequester requester) override {
        calls << QStringLiteral("read %1 for %2")
                     .arg(mode == CardMode::Continuous ? "continuous" : "once")
                     .arg(requester);
    }
    void Stop() override { calls << "stop"; }
    void Start() override { calls << "update"; }
    CameraList VirtualCameras() override { return {{"/dev/video7", "loop", "v4l2 loopback"}}; }
    void Request(ScanDone done) override { scans.push_back(std::move(done)); }
    ClientInfo ClientFacts() override {
        ClientInfo info;
        info.version = "2.0";
        info.locked = lock == LockState::Locked;
        return info;
    }
    void SetLockState(LockState state) override {
        lock = state;
        calls << (state == LockState::Locked ? "lock" : "unlock");
    }
    LockState GetLockState() const override { return lock; }

    void FinishScan(std::size_t index, bool remoteTool) {
        ProcessScanResult scan;
        scan.remoteToolRunning = remoteTool;
        scan.environment.virtualMachine = "kvm";
        scan.environment.screenCapture = {"OBS"};
        scans.at(index)(scan);
    }
};

std::unique_ptr<CardResult> CardError(const char16_t* text, CardRequester requester) {
    auto result = std::make_unique<CardResult>();
    result->error = std::make_unique<CardErrorText>();
    for (int i = 0; text[i] && i < 255; ++i)
        (*result->error)[i] = text[i];
    result->requester = requester;
    return result;
}

class PageBridgeTest : public ::testing::Test {
protected:
    PageBridgeTest() {
        bridge.SetLockControl(&services);
        bridge.SetAnswerSink([this](const QString& script) { sent << script; });
    }

    static QString Text(const std::string& answer) { return QString::fromStdString(answer); }

    FakeServices services;
    PageBridge bridge{services, services, services, services};
    QStringList sent;
};

TEST_F(PageBridgeTest, EachRequestReachesItsServiceAndItsAnswerTheSink) {
    EXPECT_TRUE(bridge.Handle({"LockApp", "1"}));
    EXPECT_TRUE(bridge.Handle({"Init", "3"}));
    EXPECT_TRUE(bridge.Handle({"ReadCard"}));
    EXPECT_TRUE(bridge.Handle({"Close"}));
    EXPECT_TRUE(bridge.Handle({"Update"}));
    EXPECT_TRUE(bridge.Handle({"LockApp", "0"}));
    EXPECT_EQ(services.calls, QStringList({"lock", "port 3", "read once for 1",
                                           "read continuous for 1", "stop", "update", "unlock"}));

    EXPECT_TRUE(bridge.Handle({"GetVCamList"}));
    EXPECT_EQ(sent, QStringList({Text(VCamListAnswer(services.VirtualCameras()))}));

    bridge.Handle({"LockApp", "1"});
    EXPECT_TRUE(bridge.Handle({"GetIsRemoteLogin"}));
    EXPECT_TRUE(bridge.Handle({"GetClientInfo"}));
    ASSERT_EQ(services.scans.size(), 2u);
    services.FinishScan(0, true);
    services.FinishScan(1, false);
    // What the client knew when the page asked (locked), the environment from the scan.
    ClientInfo info = services.ClientFacts();
    info.virtualMachine = "kvm";
    info.screenCapture = {"OBS"};
    EXPECT_EQ(sent.mid(1),
              QStringList({Text(RemoteLoginAnswer(true)), Text(ClientInfoAnswer(info))}));
}

TEST_F(PageBridgeTest, AnswersKeepTheOrderOfTheRequestsWhileAScanIsPending) {
    bridge.Handle({"GetIsRemoteLogin"});
    bridge.Handle({"GetVCamList"});
    bridge.OnCardResult(*CardError(u"找卡失败", 1));
    bridge.Handle({"GetIsRemoteLogin"});
    EXPECT_TRUE(sent.isEmpty());
    services.FinishScan(1, false);  // the later scan first: still held back
    EXPECT_TRUE(sent.isEmpty());
    services.FinishScan(0, true);
    ASSERT_EQ(sent.size(), 4);
    EXPECT_EQ(sent[0], Text(RemoteLoginAnswer(true)));
    EXPECT_TRUE(sent[1].startsWith("OnVCamList("));
    EXPECT_EQ(sent[2], ErrorAnswer(*CardError(u"找卡失败", 1)->error));
    EXPECT_EQ(sent[3], Text(RemoteLoginAnswer(false)));
}

// The bridge is the card reader's receiver: a cycle's busy state goes to the read button, its
// result to the page, as the relay hands them over on this thread.
TEST_F(PageBridgeTest, TheCardReadersReportsReachTheReadButtonAndThePage) {
    int argc = 1;
    char name[] = "page_bridge_test";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    std::vector<bool> reading;
    bridge.SetReadingStateSink([&reading](bool busy) { reading.push_back(busy); });
    CardEventRelay relay(&bridge);
    relay.ReportBusy(true, false);
    relay.ReportResult(std::move(*CardError(u"找卡失败", 1)));
    relay.ReportBusy(false, false);
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(reading, std::vector<bool>({true, false}));
    EXPECT_EQ(sent, QStringList({ErrorAnswer(*CardError(u"找卡失败", 1)->error)}));
}

TEST_F(PageBridgeTest, UnknownOrIncompleteRequestsDoNothing) {
    EXPECT_FALSE(bridge.Handle({}));
    EXPECT_FALSE(bridge.Handle({"lockapp", "1"}));
    EXPECT_FALSE(bridge.Handle({"GetVCamList "}));
    EXPECT_TRUE(bridge.Handle({"LockApp"}));  // known, but without its argument
    EXPECT_TRUE(services.calls.isEmpty());
    EXPECT_TRUE(services.scans.empty());
    EXPECT_TRUE(sent.isEmpty());

    // Without a window or a page nothing is locked and nothing is computed for nobody.
    PageBridge alone{services, services, services, services};
    alone.Handle({"LockApp", "1"});
    alone.Handle({"GetIsRemoteLogin"});
    alone.Handle({"GetClientInfo"});
    EXPECT_TRUE(services.calls.isEmpty());
    EXPECT_TRUE(services.scans.empty());
}

TEST_F(PageBridgeTest, AnOriginChangeDropsTheEarlierSitesAnswersAndCardResults) {
    bridge.Handle({"ReadCard"});
    bridge.Handle({"GetClientInfo"});
    bridge.OnOriginChange();
    EXPECT_EQ(services.calls, QStringList({"read continuous for 1", "stop"}));
    services.FinishScan(0, true);
    bridge.OnCardResult(*CardError(u"卡读取失败", 1));  // a cycle of the earlier reading
    EXPECT_TRUE(sent.isEmpty());

    // The new site's own reading and requests are answered.
    bridge.Handle({"Init"});
    EXPECT_EQ(services.calls.last(), "read once for 2");
    bridge.OnCardResult(*CardError(u"找卡失败", 2));
    bridge.Handle({"GetIsRemoteLogin"});
    services.FinishScan(1, false);
    EXPECT_EQ(sent, QStringList({ErrorAnswer(*CardError(u"找卡失败", 2)->error),
                                 Text(RemoteLoginAnswer(false))}));
}

// The page's Close ends its card reading; it does not take back answers it already asked for.
TEST_F(PageBridgeTest, CloseKeepsTheAnswersStillOnTheirWay) {
    bridge.Handle({"GetIsRemoteLogin"});
    bridge.Handle({"Close"});
    services.FinishScan(0, true);
    EXPECT_EQ(sent, QStringList({Text(RemoteLoginAnswer(true))}));
}

TEST(PageBridgeLifetime, AScanEndingAfterTheBridgeIsGoneAnswersNothing) {
    FakeServices services;
    QStringList sent;
    {
        PageBridge bridge{services, services, services, services};
        bridge.SetAnswerSink([&](const QString& script) { sent << script; });
        bridge.Handle({"GetIsRemoteLogin"});
    }
    services.FinishScan(0, true);
    EXPECT_TRUE(sent.isEmpty());
}

}  // namespace
