#pragma once

#include "common/CardResult.h"
#include "models/update/ModelUpdater.h"
#include "services/card/CardReader.h"
#include "services/lock/LockControl.h"
#include "services/probes/CameraInfo.h"
#include "services/probes/ClientInfo.h"
#include "services/probes/RemoteControlScanner.h"

#include <QString>
#include <QStringList>
#include <QStringView>

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>

// Every request the page can make, what it does and what it answers, in the order a request
// takes (the sections below and in PageRequest.cpp follow it):
//   1. PageBridge receives the page's call and finds its row in the request table;
//   2. the row's handler asks a service and answers through its PageReply;
//   3. one of the answer texts below formats the answer;
//   4. the AnswerQueue hands the answers to the page in the order the requests arrived.
// The services are the client's own (the card reader, the model update, the process scan) and
// the client's facts (IPageProbes), each handed in by the program's wiring
// (app/ServiceWiring.cpp); tests hand in fakes. Display-free: it knows neither the window nor
// the engine. Main thread only.
namespace vorn {

class AnswerQueue;
class PageReply;

// 1. The page bridge -----------------------------------------------------------------------------

// What the page may learn about this machine and this client beyond the process scan.
class IPageProbes {
public:
    virtual ~IPageProbes() = default;
    // The video devices that are not USB cameras.
    virtual CameraList VirtualCameras() = 0;
    // What the client knows of itself now: everything of ClientInfo but the process scan's part.
    virtual ClientInfo ClientFacts() = 0;
};

// The controller of the page bridge: carries out each request the page sends through its row
// of the request table on the client's services and hands the answers to the page, in the order
// of the requests even when one is computed on a worker. It receives the card reader's reports
// itself (the reader's receiver, on the main thread).
class PageBridge : public CardReceiver {
public:
    // Runs one answer's JavaScript text in the page's main frame.
    using AnswerSink = std::function<void(const QString& script)>;
    // Shows whether a card reading is under way (the window's read button).
    using ReadingStateSink = std::function<void(bool reading)>;

    // The services must outlive the bridge.
    PageBridge(ICardReading& card, IModelUpdate& models, IPageProbes& probes, IProcessScan& scan);
    ~PageBridge() override;
    PageBridge(const PageBridge&) = delete;
    PageBridge& operator=(const PageBridge&) = delete;

    // What LockApp locks and unlocks (the main window); nullptr: LockApp does nothing. Not owned.
    void SetLockControl(ILockControl* lock) { m_lock = lock; }
    // Where answers go. Without a sink, requests that answer are not carried out at all.
    void SetAnswerSink(AnswerSink sink) { m_sink = std::move(sink); }
    // Where the card reader's busy state goes; none: nowhere.
    void SetReadingStateSink(ReadingStateSink sink) { m_readingState = std::move(sink); }

    // One request as the page script sent it: args[0] the function name (case-sensitive),
    // args[1] the single argument of a request that takes one; anything beyond is not read.
    // False, having done nothing, for an empty list or a name that is not a bridge function.
    bool Handle(const QStringList& args);

    // The window's read button: a single reading whose result goes to the page shown now.
    void StartCardReading();

    // The page now shows a document of another origin: its card reading stops, results of
    // readings started before are dropped on arrival, and no answer still waiting for the
    // earlier site reaches this one.
    void OnOriginChange();

    // The card reader's reports (CardReceiver), back on the main thread: the state to the sink,
    // the result to the page, dropped when the reading was started for a page of an earlier
    // origin.
    void OnCardBusy(bool reading, bool continuous) override;
    void OnCardResult(const CardResult& result) override;

private:
    void Send(const QString& script);

    ICardReading& m_card;
    IModelUpdate& m_models;
    IPageProbes& m_probes;
    IProcessScan& m_scan;
    ILockControl* m_lock = nullptr;
    AnswerSink m_sink;
    ReadingStateSink m_readingState;
    CardRequester m_requester = 1;
    // Shared with the replies of requests answered later, which may come back after the bridge
    // is gone (they hold it weakly).
    std::shared_ptr<AnswerQueue> m_answers;
};

// 2. The request table ---------------------------------------------------------------------------

// What a request's handler reaches: the client's services and the page the request came from.
struct PageContext {
    ICardReading& card;
    IModelUpdate& models;
    IPageProbes& probes;
    IProcessScan& scan;
    ILockControl* lock;       // what LockApp locks; nullptr: nothing
    CardRequester requester;  // the page shown now; its card results reach it, later ones not
};

// The single argument of a request: LockApp and Init take the page's one argument when it
// passed exactly one (the page script sends it as text, "" for anything but a string); the
// other requests take none and ignore whatever else arrives.
enum class PageArgument { None, OneText };

// One request the page can make. The page script's function names are generated from this
// table when the client is built (browser/bridge/CMakeLists.txt), so a name lives here only.
struct PageRequest {
    QStringView name;       // the page's function name, case-sensitive
    PageArgument argument;  // which arguments reach the handler
    bool answers;           // whether it answers the page (a request without one needs no place)
    // `argument` is the page's argument, or nullptr when the request carries none (always for
    // PageArgument::None). `reply` holds no place when the request does not answer.
    void (*handle)(PageContext& page, const QString* argument, PageReply reply);
};

// Every request, in the order the page script defines its functions.
std::span<const PageRequest> PageRequests();

// The request of that name; nullptr for a name that is not a bridge function.
const PageRequest* FindPageRequest(QStringView name);

// 3. The answer texts ----------------------------------------------------------------------------

// The JavaScript texts that answer the page, run in its main frame. For plain values they are
// exactly the documented texts; every value is escaped (JsEscape.h) so that the page's function
// receives the original values.

// OnVCamList('{"video":[{"devid":"..","name":"..","desc":".."},...]}'); UTF-8.
std::string VCamListAnswer(const CameraList& cameras);

// OnIsRemoteLogin('{"isRemoteLogin":1}'); with 1 or 0.
std::string RemoteLoginAnswer(bool remoteToolRunning);

// OnClientInfo('{"version":"..","platform":"..","lockAvailable":true,"locked":false,
// "displays":1,"virtualMachine":"..","remoteSession":false,"screenCapture":[".."],
// "requestKey":".."}'); keys in this order, UTF-8.
std::string ClientInfoAnswer(const ClientInfo& info);

// ShowIdCard("{PeopleIDCode:..,PeopleName:..,..,StartDate:.., EndDate:.., Pic:..}"); with the
// record's fields 6, 1, 2, 3, 4, 5, 10, 8, 9, 11. A field without its terminating zero is read
// up to the end of its 256 units.
QString IdCardAnswer(const IdCardRecord& record);

// ShowError("..."); with the text up to its first zero (at most 256 units).
QString ErrorAnswer(const CardErrorText& error);

// 4. The answers in order ------------------------------------------------------------------------

// Keeps the page's answers in the order their requests (or results) reached the page bridge,
// also when some of them are computed elsewhere and arrive late: an answer waits until every
// answer whose place was reserved before it has gone out. One thread (the main thread).
class AnswerQueue {
public:
    using Ticket = std::uint64_t;
    // Receives each answer text, in order. An empty text is never passed on.
    using Sink = std::function<void(const QString&)>;

    explicit AnswerQueue(Sink sink) : m_sink(std::move(sink)) {}

    // Reserves the next place in the order for an answer that Fill gives later.
    Ticket Reserve();
    // Gives the answer for `ticket` and sends every answer that was only waiting for it. An
    // empty text gives up the place without an answer. A ticket already filled or never
    // reserved is ignored.
    void Fill(Ticket ticket, QString text);
    // Reserve and Fill at once: goes out now unless an earlier answer is still outstanding.
    void Send(QString text) { Fill(Reserve(), std::move(text)); }

    // Drops every answer not yet sent, the reserved places too (their later Fill is ignored):
    // the page that asked is gone.
    void Discard();

    // Answers reserved but not yet sent (waiting ones included).
    std::size_t Outstanding() const { return m_slots.size(); }

private:
    Sink m_sink;
    Ticket m_first = 0;  // ticket of m_slots.front()
    std::deque<std::optional<QString>> m_slots;
    bool m_flushing = false;
};

// The place of one request's answer among the page's answers, reserved when the request
// arrived (an AnswerQueue ticket). Answer fills it; answers go out in the order of their places,
// also when a later request was answered first. A reply dropped unanswered gives its place up.
// A reply outliving its queue (the bridge is gone) answers nothing. Main thread; move-only.
class PageReply {
public:
    PageReply() = default;
    PageReply(std::weak_ptr<AnswerQueue> queue, AnswerQueue::Ticket ticket)
        : m_queue(std::move(queue)), m_ticket(ticket) {}
    PageReply(PageReply&& other) noexcept { *this = std::move(other); }
    PageReply& operator=(PageReply&& other) noexcept;
    PageReply(const PageReply&) = delete;
    PageReply& operator=(const PageReply&) = delete;
    ~PageReply() { Answer({}); }

    // The JavaScript text that answers the page; an empty text gives the place up. Once.
    void Answer(QString script);

private:
    std::weak_ptr<AnswerQueue> m_queue;
    AnswerQueue::Ticket m_ticket = 0;
};

}  // namespace vorn
