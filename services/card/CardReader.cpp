#include "services/card/CardReader.h"

#include "common/CardResult.h"
#include "common/Logging.h"
#include "services/card/CardAccess.h"
#include "services/card/CardEventRelay.h"
#include "services/card/CardPhoto.h"

#include <QCoreApplication>

#include <algorithm>
#include <array>
#include <system_error>
#include <vector>

namespace vorn {

namespace {

using vorn::platform::CreateCardLibrary;
using vorn::platform::ICardLibrary;

constexpr char16_t kPortFailed[] = u"端口打开失败";
constexpr char16_t kNoCard[] = u"找卡失败";
constexpr char16_t kReadFailed[] = u"卡读取失败";
constexpr char16_t kContentError[] = u"Read_Content Error";

constexpr size_t kSamIdUnits = 256;  // the SAM id's buffer

using vorn::card::CopyText;

static_assert(vorn::card::kFieldCount == IdCardRecord::kFieldCount &&
              vorn::card::kFieldUnits == IdCardRecord::kFieldUnits);

}  // namespace

CCardReader::CCardReader() = default;

CCardReader::~CCardReader() {
    Shutdown();
    // A worker left behind by a bounded shutdown still uses this object: it must be back first.
    while (!WaitForIdle(std::chrono::minutes(1)))
        qCWarning(lcCard, "Still waiting for the card library to return before the reader goes.");
    m_target.store(nullptr);
    // Frees whatever the last cycles posted and nobody received.
    m_relay.reset();
}

void CCardReader::Init(CardReceiver* receiver,
                       const QString& clientFolder,
                       int comPort,
                       int readTime,
                       const QString& photoPath) {
    if (m_target.load()) {
        qCDebug(lcCard) << "card reader already initialised";
        return;
    }
    m_photoPath = photoPath.isEmpty() ? clientFolder + QStringLiteral("idcard.jpg") : photoPath;
    m_comPort = comPort;
    m_readTime = readTime;
    m_api = CreateCardLibrary()->Load(clientFolder.toStdString());
    m_relay = std::make_unique<vorn::CardEventRelay>(receiver);
    // A worker asleep in its pause must not outlive the event loop it reports to.
    if (auto* app = QCoreApplication::instance())
        QObject::connect(app, &QCoreApplication::aboutToQuit, m_relay.get(),
                         [this] { Shutdown(); });
    // Publishes the entry points and the folder to every cycle that starts from now on.
    m_target.store(m_relay.get());
}

void CCardReader::SetCyclePause(std::chrono::milliseconds pause) {
    std::lock_guard lock(m_mutex);
    m_pause = pause;
}

void CCardReader::StartCardReading(int port, vorn::CardMode mode, std::uint64_t requester) {
    const Request request{port, mode == vorn::CardMode::Continuous, requester};
    std::lock_guard lock(m_mutex);
    int idle = 0;
    if (!m_reading.compare_exchange_strong(idle, 1)) {
        qCDebug(lcCard) << "card reading under way; start request dropped";
        return;
    }
    if (m_shutdown) {
        m_reading.store(0);
        return;
    }
    if (m_workerAlive) {
        // The reading was stopped but its worker is still finishing; it takes this up next.
        if (m_pending)
            qCDebug(lcCard) << "queued card reading replaced before it began";
        m_pending = request;
        return;
    }
    if (m_worker.joinable())
        m_worker.join();  // already past its last use of any shared state
    try {
        m_worker = CreateWorker([this, request] { RunCardReading(request); });
        m_workerAlive = true;
    } catch (const std::system_error& e) {
        m_reading.store(0);
        qCWarning(lcCard) << "The card reading could not be started:" << e.what();
    }
}

void CCardReader::StopCardReading() {
    m_reading.store(0);
}

bool CCardReader::WaitForIdle(std::chrono::milliseconds timeout) {
    std::unique_lock lock(m_mutex);
    return m_idle.wait_for(lock, timeout, [this] { return !m_workerAlive; });
}

void CCardReader::Shutdown(std::chrono::milliseconds wait) {
    std::thread worker;
    {
        std::lock_guard lock(m_mutex);
        m_shutdown = true;
        m_pending.reset();
        m_reading.store(0);
        worker = std::move(m_worker);
    }
    m_wake.notify_all();
    if (!worker.joinable())
        return;
    if (worker.get_id() == std::this_thread::get_id() || !WaitForIdle(wait)) {
        if (worker.get_id() != std::this_thread::get_id())
            qCWarning(lcCard,
                      "The card library has not returned within %lld ms (a port that does "
                      "not answer?); the client goes on without waiting for it.",
                      static_cast<long long>(wait.count()));
        worker.detach();
        return;
    }
    worker.join();  // past its last use of shared state; only the return is left
}

std::thread CCardReader::CreateWorker(std::function<void()> body) {
    return std::thread(std::move(body));
}

void CCardReader::RunCardReading(Request request) {
    for (;;) {
        RunCycle(request);
        std::unique_lock lock(m_mutex);
        if (request.continuous)
            m_wake.wait_for(lock, m_pause, [this] { return m_shutdown; });
        if (!m_shutdown && m_pending) {
            request = *m_pending;
            m_pending.reset();
            continue;
        }
        if (!m_shutdown && request.continuous && m_reading.load() != 0)
            continue;
        if (!request.continuous)
            m_reading.store(0);
        m_workerAlive = false;
        m_idle.notify_all();
        return;
    }
}

void CCardReader::RunCycle(const Request& request) {
    // Before Init there is neither library nor receiver: the cycle fails and its reports are
    // freed.
    vorn::CardEventRelay* target = m_target.load();
    auto report = [target, &request](CardResult result) {
        result.requester = request.requester;
        if (target)
            target->ReportResult(std::move(result));
    };
    if (target)
        target->ReportBusy(true, false);
    const char16_t* failure = nullptr;
    if (!target || !OpenPort(request.port)) {
        failure = kPortFailed;
    } else {
        if (m_api.CVR_GetSAMIDU) {
            std::array<char16_t, kSamIdUnits> samId{};
            m_api.CVR_GetSAMIDU(samId.data());
        }
        // A continuous reading tries the content even without a card found, so a card laid on
        // the reader mid-way is read in the next cycle whatever the authentication said.
        const bool found = m_api.CVR_Authenticate() == 1;
        if (found || request.continuous) {
            auto record = std::make_unique<IdCardRecord>();
            std::array<char16_t, IdCardRecord::kFieldUnits> contentError{};
            if (ReadCardContent(*record, contentError.data())) {
                CardResult result;
                result.record = std::move(record);
                report(std::move(result));
            } else {
                failure = kReadFailed;
            }
        } else {
            failure = kNoCard;
        }
        // Closed however the cycle went: a port left open after a card that was not found or
        // not read keeps the reader busy for the next cycle and for any other program.
        m_api.CVR_CloseComm();
    }
    if (failure) {
        auto text = std::make_unique<CardErrorText>();
        text->fill(u'\0');
        CopyText(text->data(), failure, std::char_traits<char16_t>::length(failure) + 1);
        CardResult result;
        result.error = std::move(text);
        report(std::move(result));
    }
    if (target)
        target->ReportBusy(false, request.continuous);
}

bool CCardReader::OpenPort(int port) const {
    if (port != 0 && !((port >= 1 && port <= 16) || (port >= 1001 && port <= 1016)))
        qCDebug(lcCard) << "card reader port" << port << "out of range";
    return vorn::card::OpenPort(m_api, port) != 0;
}

int CCardReader::ReadCardContent(IdCardRecord& record, char16_t* errorText) const {
    if (!m_api.CVR_Read_FPContent || m_api.CVR_Read_FPContent() != 1) {
        CopyText(errorText, kContentError, std::size(kContentError));
        return 0;
    }
    vorn::card::ReadTexts(m_api, record.fields);
    if (m_api.GetBMPData) {
        std::vector<unsigned char> data(vorn::CardPhoto::kBufferSize);
        int length = vorn::CardPhoto::kBufferSize;
        m_api.GetBMPData(data.data(), &length);
        if (vorn::CardPhoto::UsableLength(length)) {
            const QString& path = m_photoPath;
            vorn::CardPhoto::Save(data.data(), length, path);
            // Named even when nothing could be saved: the page then finds no file there.
            CopyText(record.fields[11], reinterpret_cast<const char16_t*>(path.utf16()),
                     static_cast<size_t>(path.size()) + 1);
        } else {
            qCDebug(lcCard) << "card library reported a photo of" << length << "bytes; ignored";
        }
    }
    return 1;
}

}  // namespace vorn
