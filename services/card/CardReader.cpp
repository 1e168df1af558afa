#include "services/card/CardReader.h"

#include "common/CardResult.h"
#include "common/Logging.h"
#include "services/card/CardAccess.h"
#include "services/card/CardPhoto.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <algorithm>
#include <array>
#include <condition_variable>
#include <mutex>
#include <optional>
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

struct CCardReader::Request {
    int port = 0;
    bool continuous = false;
    std::uint64_t requester = 0;
};

// Where the cycles report: the relay while the reader exists. A cycle that comes back after the
// reader is gone finds none, and its reports are freed.
struct CCardReader::Reports {
    std::mutex mutex;
    vorn::CardEventRelay* relay = nullptr;  // guarded by mutex

    bool Connected() {
        std::lock_guard lock(mutex);
        return relay != nullptr;
    }
    void Busy(bool reading, bool continuous) {
        std::lock_guard lock(mutex);
        if (relay)
            relay->ReportBusy(reading, continuous);
    }
    void Result(CardResult result) {
        std::lock_guard lock(mutex);
        if (relay)
            relay->ReportResult(std::move(result));
    }
};

// Everything a reading uses, shared by the reader and its worker's tasks.
struct CCardReader::State {
    vorn::platform::ICardLibrary::EntryPoints api;  // set by Init before `initialised`
    QString photoPath;
    int comPort = 0;
    int readTime = 500;
    std::atomic<bool> initialised{false};
    Reports reports;

    std::atomic<int> reading{0};
    std::mutex mutex;  // guards everything below
    std::condition_variable idle;
    bool workerAlive = false;  // a reading is queued or runs
    bool shutdown = false;
    std::optional<Request> pending;
    std::chrono::milliseconds pause{1000};

    static void RunCardReading(const std::shared_ptr<State>& self,
                               const vorn::Worker::StopSignal& stop,
                               Request request);
    void RunCycle(const Request& request);
    bool OpenPort(int port) const;
    int ReadCardContent(IdCardRecord& record, char16_t* errorText) const;
};

CCardReader::CCardReader()
    : m_state(std::make_shared<State>()),
      m_worker([this](std::function<void()> body) { return CreateWorker(std::move(body)); }) {}

CCardReader::~CCardReader() {
    Shutdown();
    {
        std::lock_guard lock(m_state->reports.mutex);
        m_state->reports.relay = nullptr;
    }
    // Frees whatever the last cycles posted and nobody received.
    m_relay.reset();
}

int CCardReader::ComPortSetting() const {
    return m_state->comPort;
}

int CCardReader::ReadTimeSetting() const {
    return m_state->readTime;
}

void CCardReader::Init(CardReceiver* receiver,
                       const QString& clientFolder,
                       int comPort,
                       int readTime,
                       const QString& photoPath) {
    if (m_state->initialised.load()) {
        qCDebug(lcCard) << "card reader already initialised";
        return;
    }
    State& state = *m_state;
    state.photoPath = photoPath.isEmpty() ? clientFolder + QStringLiteral("idcard.jpg") : photoPath;
    state.comPort = comPort;
    state.readTime = readTime;
    state.api = CreateCardLibrary()->Load(clientFolder.toStdString());
    m_relay = std::make_unique<vorn::CardEventRelay>(receiver);
    // A worker asleep in its pause must not outlive the event loop it reports to.
    if (auto* app = QCoreApplication::instance())
        QObject::connect(app, &QCoreApplication::aboutToQuit, m_relay.get(),
                         [this] { Shutdown(); });
    // Publishes the entry points and the folder to every cycle that starts from now on.
    {
        std::lock_guard lock(state.reports.mutex);
        state.reports.relay = m_relay.get();
    }
    state.initialised.store(true);
}

void CCardReader::SetCyclePause(std::chrono::milliseconds pause) {
    std::lock_guard lock(m_state->mutex);
    m_state->pause = pause;
}

void CCardReader::StartCardReading(int port, vorn::CardMode mode, std::uint64_t requester) {
    const Request request{port, mode == vorn::CardMode::Continuous, requester};
    State& state = *m_state;
    std::lock_guard lock(state.mutex);
    int idle = 0;
    if (!state.reading.compare_exchange_strong(idle, 1)) {
        qCDebug(lcCard) << "card reading under way; start request dropped";
        return;
    }
    if (state.shutdown) {
        state.reading.store(0);
        return;
    }
    if (state.workerAlive) {
        // The reading was stopped but its worker is still finishing; it takes this up next.
        if (state.pending)
            qCDebug(lcCard) << "queued card reading replaced before it began";
        state.pending = request;
        return;
    }
    if (!m_worker.Post([self = m_state, stop = m_worker.Signal(), request] {
            State::RunCardReading(self, stop, request);
        })) {
        state.reading.store(0);
        qCWarning(lcCard) << "The card reading could not be started: no worker thread.";
        return;
    }
    state.workerAlive = true;
}

bool CCardReader::IsReading() const {
    return m_state->reading.load() != 0;
}

void CCardReader::StopCardReading() {
    m_state->reading.store(0);
}

void CCardReader::SavePort(int port) {
    if (m_portStore)
        m_portStore(port);
}

void CCardReader::Start(CardMode mode, CardRequester requester) {
    StartCardReading(0, mode, requester);
}

void CCardReader::Stop() {
    StopCardReading();
}

bool CCardReader::WaitForIdle(std::chrono::milliseconds timeout) {
    std::unique_lock lock(m_state->mutex);
    return m_state->idle.wait_for(lock, timeout, [this] { return !m_state->workerAlive; });
}

void CCardReader::Shutdown(std::chrono::milliseconds wait) {
    bool running = false;
    {
        std::lock_guard lock(m_state->mutex);
        m_state->shutdown = true;
        m_state->pending.reset();
        m_state->reading.store(0);
        running = m_state->workerAlive;
    }
    if (!m_worker.Stop(wait) && running)
        qCWarning(lcCard,
                  "The card library has not returned within %lld ms (a port that does "
                  "not answer?); the client goes on without waiting for it.",
                  static_cast<long long>(wait.count()));
}

std::thread CCardReader::CreateWorker(std::function<void()> body) {
    return std::thread(std::move(body));
}

void CCardReader::State::RunCardReading(const std::shared_ptr<State>& self,
                                        const vorn::Worker::StopSignal& stop,
                                        Request request) {
    for (;;) {
        self->RunCycle(request);
        std::unique_lock lock(self->mutex);
        if (request.continuous && !self->shutdown) {
            const std::chrono::milliseconds pause = self->pause;
            lock.unlock();
            stop.SleepFor(pause);
            lock.lock();
        }
        if (!self->shutdown && self->pending) {
            request = *self->pending;
            self->pending.reset();
            continue;
        }
        if (!self->shutdown && request.continuous && self->reading.load() != 0)
            continue;
        if (!request.continuous)
            self->reading.store(0);
        self->workerAlive = false;
        self->idle.notify_all();
        return;
    }
}

void CCardReader::State::RunCycle(const Request& request) {
    // Before Init there is neither library nor receiver: the cycle fails and its reports are
    // freed.
    const bool connected = initialised.load() && reports.Connected();
    auto report = [this, &request](CardResult result) {
        result.requester = request.requester;
        reports.Result(std::move(result));
    };
    reports.Busy(true, false);
    const char16_t* failure = nullptr;
    if (!connected || !OpenPort(request.port)) {
        failure = kPortFailed;
    } else {
        if (api.CVR_GetSAMIDU) {
            std::array<char16_t, kSamIdUnits> samId{};
            api.CVR_GetSAMIDU(samId.data());
        }
        // A continuous reading tries the content even without a card found, so a card laid on
        // the reader mid-way is read in the next cycle whatever the authentication said.
        const bool found = api.CVR_Authenticate() == 1;
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
        api.CVR_CloseComm();
    }
    if (failure) {
        auto text = std::make_unique<CardErrorText>();
        text->fill(u'\0');
        CopyText(text->data(), failure, std::char_traits<char16_t>::length(failure) + 1);
        CardResult result;
        result.error = std::move(text);
        report(std::move(result));
    }
    reports.Busy(false, request.continuous);
}

bool CCardReader::State::OpenPort(int port) const {
    if (port != 0 && !((port >= 1 && port <= 16) || (port >= 1001 && port <= 1016)))
        qCDebug(lcCard) << "card reader port" << port << "out of range";
    return vorn::card::OpenPort(api, port) != 0;
}

int CCardReader::State::ReadCardContent(IdCardRecord& record, char16_t* errorText) const {
    if (!api.CVR_Read_FPContent || api.CVR_Read_FPContent() != 1) {
        CopyText(errorText, kContentError, std::size(kContentError));
        return 0;
    }
    vorn::card::ReadTexts(api, record.fields);
    if (api.GetBMPData) {
        std::vector<unsigned char> data(vorn::CardPhoto::kBufferSize);
        int length = vorn::CardPhoto::kBufferSize;
        api.GetBMPData(data.data(), &length);
        if (vorn::CardPhoto::UsableLength(length)) {
            const QString& path = photoPath;
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

CardEventRelay::CardEventRelay(CardReceiver* receiver) : m_receiver(receiver) {}

CardEventRelay::~CardEventRelay() = default;

void CardEventRelay::ReportBusy(bool reading, bool continuous) {
    Queue(Busy{reading, continuous});
}

void CardEventRelay::ReportResult(CardResult result) {
    Queue(std::move(result));
}

void CardEventRelay::Queue(Report report) {
    bool schedule = false;
    {
        std::lock_guard lock(m_mutex);
        m_queue.push_back(std::move(report));
        schedule = !m_scheduled;
        m_scheduled = true;
    }
    // By name, so that nothing the worker wrote is read on the other side outside m_mutex.
    if (schedule)
        QMetaObject::invokeMethod(this, "Deliver", Qt::QueuedConnection);
}

void CardEventRelay::Deliver() {
    std::vector<Report> reports;
    {
        std::lock_guard lock(m_mutex);
        reports.swap(m_queue);
        m_scheduled = false;
    }
    for (const Report& report : reports) {
        // The receiver may go while handling an earlier report: checked every time.
        if (!m_receiver) {
            qCDebug(lcCard) << "no receiver for a card report";
            continue;
        }
        if (const auto* busy = std::get_if<Busy>(&report))
            m_receiver->OnCardBusy(busy->reading, busy->continuous);
        else
            m_receiver->OnCardResult(std::get<CardResult>(report));
    }
}

}  // namespace vorn
