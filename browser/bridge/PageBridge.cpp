#include "browser/bridge/PageBridge.h"

#include "browser/bridge/Answers.h"
#include "common/Logging.h"
#include "common/Messages.h"

namespace vorn {

PageBridge::PageBridge(ICardReading& card, IModelUpdate& models, IPageProbes& probes)
    : m_card(card),
      m_models(models),
      m_probes(probes),
      m_answers(std::make_shared<AnswerQueue>([this](const QString& script) { Send(script); })) {}

// Scans that come back later find their queue gone (they hold it weakly) and answer nothing.
PageBridge::~PageBridge() = default;

bool PageBridge::Handle(const QStringList& args) {
    return DispatchPageRequest(args, *this);
}

void PageBridge::Send(const QString& script) {
    if (m_sink)
        m_sink(script);
}

void PageBridge::SetLockState(LockState state) {
    if (m_lock)
        m_lock->SetLockState(state);
    else
        qCDebug(lcBridge) << "no window to lock or unlock";
}

void PageBridge::SaveCardPort(int port) {
    m_card.SavePort(port);
}

void PageBridge::StartCardReading(CardMode mode) {
    m_card.Start(mode, m_requester);
}

void PageBridge::StopCardReading() {
    m_card.Stop();
}

void PageBridge::StartModelUpdate() {
    m_models.Start();
}

void PageBridge::AnswerCameraList() {
    if (m_sink)
        m_answers->Send(QString::fromStdString(VCamListAnswer(m_probes.VirtualCameras())));
}

void PageBridge::AnswerRemoteLogin() {
    if (!m_sink)
        return;
    // The scan reads every process's files: it runs on a worker, and its answer keeps the place
    // of this request among the page's answers.
    const AnswerQueue::Ticket ticket = m_answers->Reserve();
    m_probes.ScanProcesses([answers = std::weak_ptr(m_answers),
                            ticket](const ProcessScanResult& scan) {
        if (const auto queue = answers.lock())
            queue->Fill(ticket, QString::fromStdString(RemoteLoginAnswer(scan.remoteToolRunning)));
    });
}

void PageBridge::AnswerClientInfo() {
    if (!m_sink)
        return;
    // What the client knows is taken now; the environment comes from the same process scan as
    // the remote-control check.
    const AnswerQueue::Ticket ticket = m_answers->Reserve();
    m_probes.ScanProcesses([answers = std::weak_ptr(m_answers), ticket,
                            info = m_probes.ClientFacts()](const ProcessScanResult& scan) mutable {
        info.virtualMachine = scan.environment.virtualMachine;
        info.remoteSession = scan.environment.remoteSession;
        info.screenCapture = scan.environment.screenCapture;
        if (const auto queue = answers.lock())
            queue->Fill(ticket, QString::fromStdString(ClientInfoAnswer(info)));
    });
}

void PageBridge::AnswerCardResult(const CCardResultEvent& result) {
    if (result.Requester() != m_requester) {
        qCDebug(lcCard) << "card answer for a page of another origin dropped";
        return;
    }
    if (result.WParam() == 1 && result.Record())
        m_answers->Send(IdCardAnswer(*result.Record()));
    else if (result.WParam() != 1 && result.Error())
        m_answers->Send(ErrorAnswer(*result.Error()));
}

void PageBridge::OnOriginChange() {
    ++m_requester;
    m_card.Stop();
    // Card data above all, but no answer of the earlier site belongs to this one.
    m_answers->Discard();
}

}  // namespace vorn
