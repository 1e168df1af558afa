#pragma once

#include "browser/bridge/AnswerQueue.h"
#include "browser/bridge/PageServices.h"
#include "services/lock/LockControl.h"

#include <QString>
#include <QStringView>

#include <memory>
#include <span>

namespace vorn {

// What a request's handler reaches: the client's services and the page the request came from.
struct PageContext {
    ICardReading& card;
    IModelUpdate& models;
    IPageProbes& probes;
    ILockControl* lock;       // what LockApp locks; nullptr: nothing
    CardRequester requester;  // the page shown now; its card results reach it, later ones not
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

}  // namespace vorn
