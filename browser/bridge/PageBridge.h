#pragma once

#include "browser/bridge/AnswerQueue.h"
#include "browser/bridge/PageRequest.h"
#include "browser/bridge/PageServices.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

namespace vorn {

class CCardResultEvent;

// The controller of the page bridge: carries out each request the page sends (decoded by the
// request table, PageRequest.h) on the client's services and hands the answers to the page, in
// the order of the requests even when one is computed on a worker. It knows neither the window
// nor the engine: the program wires it (app/ServiceWiring.cpp). Main thread only.
class PageBridge : public PageActions {
public:
    // Runs one answer's JavaScript text in the page's main frame.
    using AnswerSink = std::function<void(const QString& script)>;

    // The services must outlive the bridge.
    PageBridge(ICardReading& card, IModelUpdate& models, IPageProbes& probes);
    ~PageBridge() override;
    PageBridge(const PageBridge&) = delete;
    PageBridge& operator=(const PageBridge&) = delete;

    // What LockApp locks and unlocks (the main window); nullptr: LockApp does nothing. Not owned.
    void SetLockControl(ILockControl* lock) { m_lock = lock; }
    // Where answers go. Without a sink, requests for answers compute nothing.
    void SetAnswerSink(AnswerSink sink) { m_sink = std::move(sink); }

    // One request as the page script sent it (DispatchPageRequest); false when it names no
    // bridge function, and then nothing is done.
    bool Handle(const QStringList& args);

    // A card reading's result, back on the main thread. Dropped when the reading was started for
    // a page of an earlier origin.
    void AnswerCardResult(const CCardResultEvent& result);

    // The page now shows a document of another origin: its card reading stops, results of
    // readings started before are dropped on arrival, and no answer still waiting for the
    // earlier site reaches this one.
    void OnOriginChange();

    // PageActions: what each request does. StartCardReading also serves the window's own read
    // button; its results go to the page shown now.
    void SetLockState(LockState state) override;
    void SaveCardPort(int port) override;
    void StartCardReading(CardMode mode) override;
    void StopCardReading() override;
    void StartModelUpdate() override;
    void AnswerCameraList() override;
    void AnswerRemoteLogin() override;
    void AnswerClientInfo() override;

private:
    void Send(const QString& script);

    ICardReading& m_card;
    IModelUpdate& m_models;
    IPageProbes& m_probes;
    ILockControl* m_lock = nullptr;
    AnswerSink m_sink;
    CardRequester m_requester = 1;
    // Shared with the process scan's callbacks, which may come back after the bridge is gone.
    std::shared_ptr<AnswerQueue> m_answers;
};

}  // namespace vorn
