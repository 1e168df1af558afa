#include "browser/bridge/PageBridge.h"

#include "browser/bridge/Answers.h"
#include "common/CardResult.h"
#include "common/Logging.h"

namespace vorn {

PageBridge::PageBridge(ICardReading& card, IModelUpdate& models, IPageProbes& probes)
    : m_card(card),
      m_models(models),
      m_probes(probes),
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
    PageContext page{m_card, m_models, m_probes, m_lock, m_requester};
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

void PageBridge::AnswerCardResult(const CardResult& result) {
    if (result.requester != m_requester) {
        qCDebug(lcCard) << "card answer for a page of another origin dropped";
        return;
    }
    if (result.record)
        m_answers->Send(IdCardAnswer(*result.record));
    else if (result.error)
        m_answers->Send(ErrorAnswer(*result.error));
}

void PageBridge::OnOriginChange() {
    ++m_requester;
    m_card.Stop();
    // Card data above all, but no answer of the earlier site belongs to this one.
    m_answers->Discard();
}

}  // namespace vorn
