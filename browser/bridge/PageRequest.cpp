#include "browser/bridge/PageRequest.h"

#include "browser/bridge/Answers.h"
#include "common/Logging.h"
#include "services/settings/IniFile.h"

#include <array>
#include <utility>

namespace vorn {

PageReply& PageReply::operator=(PageReply&& other) noexcept {
    if (this != &other) {
        Answer({});
        m_queue = std::exchange(other.m_queue, {});
        m_ticket = other.m_ticket;
    }
    return *this;
}

void PageReply::Answer(QString script) {
    if (const auto queue = std::exchange(m_queue, {}).lock())
        queue->Fill(m_ticket, std::move(script));
}

namespace {

void LockApp(PageContext& page, const QString* argument, PageReply) {
    // Without its argument the request is dropped: only an explicit "1" or other text says
    // whether to lock or unlock.
    if (!argument)
        return;
    if (page.lock)
        page.lock->SetLockState(*argument == u"1" ? LockState::Locked : LockState::Unlocked);
    else
        qCDebug(lcBridge) << "no window to lock or unlock";
}

void Init(PageContext& page, const QString* argument, PageReply) {
    if (argument)
        page.card.SavePort(LeadingIntSaturated(*argument));
    page.card.Start(CardMode::Once, page.requester);
}

void Close(PageContext& page, const QString*, PageReply) {
    page.card.Stop();
}

void ReadCard(PageContext& page, const QString*, PageReply) {
    page.card.Start(CardMode::Continuous, page.requester);
}

void Update(PageContext& page, const QString*, PageReply) {
    page.models.Start();
}

void GetVCamList(PageContext& page, const QString*, PageReply reply) {
    reply.Answer(QString::fromStdString(VCamListAnswer(page.probes.VirtualCameras())));
}

// The scan reads every process's files: it runs on a worker, and the reply keeps this
// request's place among the page's answers until it comes back.
void GetIsRemoteLogin(PageContext& page, const QString*, PageReply reply) {
    page.probes.ScanProcesses(
        [reply = std::make_shared<PageReply>(std::move(reply))](const ProcessScanResult& scan) {
            reply->Answer(QString::fromStdString(RemoteLoginAnswer(scan.remoteToolRunning)));
        });
}

// What the client knows is taken now; the environment comes from the same process scan as the
// remote-control check.
void GetClientInfo(PageContext& page, const QString*, PageReply reply) {
    page.probes.ScanProcesses(
        [reply = std::make_shared<PageReply>(std::move(reply)),
         info = page.probes.ClientFacts()](const ProcessScanResult& scan) mutable {
            info.virtualMachine = scan.environment.virtualMachine;
            info.remoteSession = scan.environment.remoteSession;
            info.screenCapture = scan.environment.screenCapture;
            reply->Answer(QString::fromStdString(ClientInfoAnswer(info)));
        });
}

// One row a line: name, argument rule, whether it answers, handler. The build reads the rows
// of this table to write the page script's list; keep each row on one line in this form.
constexpr std::array<PageRequest, 8> kRequests{{
    {u"LockApp", PageArgument::OneText, false, LockApp},
    {u"Init", PageArgument::OneText, false, Init},
    {u"Close", PageArgument::None, false, Close},
    {u"ReadCard", PageArgument::None, false, ReadCard},
    {u"Update", PageArgument::None, false, Update},
    {u"GetVCamList", PageArgument::None, true, GetVCamList},
    {u"GetIsRemoteLogin", PageArgument::None, true, GetIsRemoteLogin},
    {u"GetClientInfo", PageArgument::None, true, GetClientInfo},
}};

}  // namespace

std::span<const PageRequest> PageRequests() {
    return kRequests;
}

const PageRequest* FindPageRequest(QStringView name) {
    for (const PageRequest& request : kRequests) {
        if (name == request.name)
            return &request;
    }
    return nullptr;
}

}  // namespace vorn
