#include "browser/bridge/PageRequest.h"

#include "browser/bridge/JsEscape.h"
#include "common/Logging.h"
#include "services/settings/IniFile.h"

#include <array>
#include <utility>

namespace vorn {

// 1. The page bridge -----------------------------------------------------------------------------

PageBridge::PageBridge(ICardReading& card,
                       IModelUpdate& models,
                       IPageProbes& probes,
                       IProcessScan& scan)
    : m_card(card),
      m_models(models),
      m_probes(probes),
      m_scan(scan),
      m_answers(std::make_shared<AnswerQueue>([this](const QString& script) { Send(script); })) {}

// Replies that come back later find their queue gone and answer nothing.
PageBridge::~PageBridge() = default;

bool PageBridge::Handle(const QStringList& args) {
    if (args.isEmpty()) {
        qCDebug(lcBridge) << "Empty page request ignored";
        return false;
    }
    const PageRequest* request = FindPageRequest(args[0]);
    if (!request) {
        qCDebug(lcBridge) << "Unknown page request ignored:" << args[0].left(64);
        return false;
    }
    qCDebug(lcBridge) << "Page request" << args;
    // Nobody would see the answer: the request is not carried out.
    if (request->answers && !m_sink)
        return true;
    const QString* argument =
        request->argument == PageArgument::OneText && args.size() >= 2 ? &args[1] : nullptr;
    PageReply reply = request->answers ? PageReply(m_answers, m_answers->Reserve()) : PageReply();
    PageContext page{m_card, m_models, m_probes, m_scan, m_lock, m_requester};
    request->handle(page, argument, std::move(reply));
    return true;
}

void PageBridge::StartCardReading() {
    m_card.Start(CardMode::Once, m_requester);
}

void PageBridge::Send(const QString& script) {
    if (m_sink)
        m_sink(script);
}

void PageBridge::OnCardResult(const CardResult& result) {
    if (result.requester != m_requester) {
        qCDebug(lcCard) << "card answer for a page of another origin dropped";
        return;
    }
    if (result.record)
        m_answers->Send(IdCardAnswer(*result.record));
    else if (result.error)
        m_answers->Send(ErrorAnswer(*result.error));
}

void PageBridge::OnCardBusy(bool reading, bool) {
    if (m_readingState)
        m_readingState(reading);
}

void PageBridge::OnOriginChange() {
    ++m_requester;
    m_card.Stop();
    // Card data above all, but no answer of the earlier site belongs to this one.
    m_answers->Discard();
}

// 2. The request table ---------------------------------------------------------------------------

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
    page.scan.Request(
        [reply = std::make_shared<PageReply>(std::move(reply))](const ProcessScanResult& scan) {
            reply->Answer(QString::fromStdString(RemoteLoginAnswer(scan.remoteToolRunning)));
        });
}

// What the client knows is taken now; the environment comes from the same process scan as the
// remote-control check.
void GetClientInfo(PageContext& page, const QString*, PageReply reply) {
    page.scan.Request([reply = std::make_shared<PageReply>(std::move(reply)),
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

// 3. The answer texts ----------------------------------------------------------------------------

namespace {

// A zero-terminated UTF-16 field that may fill its whole block without the terminator.
QString FieldText(const char16_t* units, qsizetype capacity) {
    qsizetype length = 0;
    while (length < capacity && units[length] != 0)
        ++length;
    return QString(reinterpret_cast<const QChar*>(units), length);
}

QString CardField(const IdCardRecord& record, int index) {
    return FieldText(record.fields[index], IdCardRecord::kFieldUnits);
}

}  // namespace

std::string VCamListAnswer(const CameraList& cameras) {
    std::string json = "{\"video\":[";
    bool first = true;
    for (const CameraInfo& camera : cameras) {
        if (!first)
            json += ',';
        first = false;
        json += "{\"devid\":\"" + JsonStringContent(camera.devid) + "\",\"name\":\"" +
                JsonStringContent(camera.name) + "\",\"desc\":\"" + JsonStringContent(camera.desc) +
                "\"}";
    }
    json += "]}";
    return "OnVCamList('" + JsStringLiteralContent(json, JsQuote::Single) + "');";
}

std::string RemoteLoginAnswer(bool remoteToolRunning) {
    const std::string json =
        std::string("{\"isRemoteLogin\":") + (remoteToolRunning ? "1" : "0") + "}";
    return "OnIsRemoteLogin('" + JsStringLiteralContent(json, JsQuote::Single) + "');";
}

std::string ClientInfoAnswer(const ClientInfo& info) {
    auto text = [](const std::string& value) { return '"' + JsonStringContent(value) + '"'; };
    auto flag = [](bool value) { return std::string(value ? "true" : "false"); };
    std::string capture = "[";
    for (size_t i = 0; i < info.screenCapture.size(); ++i)
        capture += (i ? "," : "") + text(info.screenCapture[i]);
    capture += ']';
    const std::string json =
        "{\"version\":" + text(info.version) + ",\"platform\":" + text(info.platform) +
        ",\"lockAvailable\":" + flag(info.lockAvailable) + ",\"locked\":" + flag(info.locked) +
        ",\"displays\":" + std::to_string(info.displays) +
        ",\"virtualMachine\":" + text(info.virtualMachine) +
        ",\"remoteSession\":" + flag(info.remoteSession) + ",\"screenCapture\":" + capture +
        ",\"requestKey\":" + text(info.requestKey) + "}";
    return "OnClientInfo('" + JsStringLiteralContent(json, JsQuote::Single) + "');";
}

QString IdCardAnswer(const IdCardRecord& record) {
    // The card text is not JSON: its values stand unquoted, so they are inserted as they are
    // and only the whole text is escaped for the script.
    // Concatenated, not formatted with QString::arg, so that a "%1" inside a value stays text.
    const QString card =
        QStringLiteral("{PeopleIDCode:") + CardField(record, 6) + QStringLiteral(",PeopleName:") +
        CardField(record, 1) + QStringLiteral(",PeopleSex:") + CardField(record, 2) +
        QStringLiteral(",PeopleNation:") + CardField(record, 3) +
        QStringLiteral(",PeopleBirthday:") + CardField(record, 4) +
        QStringLiteral(",PeopleAddress:") + CardField(record, 5) + QStringLiteral(",NationCode:") +
        CardField(record, 10) + QStringLiteral(",StartDate:") + CardField(record, 8) +
        QStringLiteral(", EndDate:") + CardField(record, 9) + QStringLiteral(", Pic:") +
        CardField(record, 11) + QStringLiteral("}");
    return QStringLiteral("ShowIdCard(\"") + JsStringLiteralContent(card, JsQuote::Double) +
           QStringLiteral("\");");
}

QString ErrorAnswer(const CardErrorText& error) {
    const QString text = FieldText(error.data(), static_cast<qsizetype>(error.size()));
    return QStringLiteral("ShowError(\"") + JsStringLiteralContent(text, JsQuote::Double) +
           QStringLiteral("\");");
}

// 4. The answers in order ------------------------------------------------------------------------

AnswerQueue::Ticket AnswerQueue::Reserve() {
    m_slots.emplace_back();
    return m_first + m_slots.size() - 1;
}

void AnswerQueue::Fill(Ticket ticket, QString text) {
    if (ticket < m_first || ticket - m_first >= m_slots.size())
        return;
    std::optional<QString>& slot = m_slots[ticket - m_first];
    if (slot)
        return;
    slot = std::move(text);
    // A sink that sends another answer from inside (a page answering synchronously) only
    // queues it; the loop below then sends it in its turn.
    if (m_flushing)
        return;
    m_flushing = true;
    while (!m_slots.empty() && m_slots.front()) {
        const QString answer = std::move(*m_slots.front());
        m_slots.pop_front();
        ++m_first;
        if (!answer.isEmpty() && m_sink)
            m_sink(answer);
    }
    m_flushing = false;
}

void AnswerQueue::Discard() {
    m_first += m_slots.size();
    m_slots.clear();
}

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

}  // namespace vorn
