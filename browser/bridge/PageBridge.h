#pragma once

#include "browser/bridge/AnswerQueue.h"
#include "browser/bridge/PageRequest.h"
#include "browser/bridge/PageServices.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

namespace vorn {

struct CardResult;

// The controller of the page bridge: carries out each request the page sends through its row
// of the request table (PageRequest.h) on the client's services and hands the answers to the
// page, in the order of the requests even when one is computed on a worker. It knows neither
// the window nor the engine: the program wires it (app/ServiceWiring.cpp). Main thread only.
class PageBridge {
public:
    // Runs one answer's JavaScript text in the page's main frame.
    using AnswerSink = std::function<void(const QString& script)>;

    // The services must outlive the bridge.
    PageBridge(ICardReading& card, IModelUpdate& models, IPageProbes& probes);
    ~PageBridge();
    PageBridge(const PageBridge&) = delete;
    PageBridge& operator=(const PageBridge&) = delete;

    // What LockApp locks and unlocks (the main window); nullptr: LockApp does nothing. Not owned.
    void SetLockControl(ILockControl* lock) { m_lock = lock; }
    // Where answers go. Without a sink, requests that answer are not carried out at all.
    void SetAnswerSink(AnswerSink sink) { m_sink = std::move(sink); }

    // One request as the page script sent it: args[0] the function name (case-sensitive),
    // args[1] the single argument of a request that takes one; anything beyond is not read.
    // False, having done nothing, for an empty list or a name that is not a bridge function.
    bool Handle(const QStringList& args);

    // The window's read button: a single reading whose result goes to the page shown now.
    void StartCardReading();

    // A card reading's result, back on the main thread. Dropped when the reading was started for
    // a page of an earlier origin.
    void AnswerCardResult(const CardResult& result);

    // The page now shows a document of another origin: its card reading stops, results of
    // readings started before are dropped on arrival, and no answer still waiting for the
    // earlier site reaches this one.
    void OnOriginChange();

private:
    void Send(const QString& script);

    ICardReading& m_card;
    IModelUpdate& m_models;
    IPageProbes& m_probes;
    ILockControl* m_lock = nullptr;
    AnswerSink m_sink;
    CardRequester m_requester = 1;
    // Shared with the replies of requests answered later, which may come back after the bridge
    // is gone (they hold it weakly).
    std::shared_ptr<AnswerQueue> m_answers;
};

}  // namespace vorn
