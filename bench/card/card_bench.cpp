// Client overhead of one card reading cycle: worker start, port open, texts, photo decode and
// JPEG save, three reports delivered to a window. The simulator answers at once (no delay, port
// 1001 first), so what is measured is the client's own share. Each repetition is one cycle;
// the median of 100 is the figure to quote, beside the floor of the same work done inline.

#include "platform/CardLibrary.h"
#include "services/card/CardPhoto.h"
#include "services/card/CardReader.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <array>
#include <cstdlib>
#include <vector>

using vorn::CCardReader;

namespace {

class CountingWindow : public vorn::CardReceiver {
public:
    int results = 0;

    void OnCardBusy(bool, bool) override {}
    void OnCardResult(const vorn::CardResult&) override { ++results; }
};

QString ClientFolder() {
    static QTemporaryDir dir;
    static bool copied =
        QFile::copy(QStringLiteral(VORN_TERMB_SIM_DIR "/libtermb.so"), dir.path() + "/libtermb.so");
    if (!copied)
        std::abort();
    return dir.path() + '/';
}

void BM_ReaderCycle(benchmark::State& state) {
    CountingWindow window;
    CCardReader reader;
    reader.Init(&window, ClientFolder(), 0, 500);
    for (auto _ : state) {
        reader.StartCardReading(0, vorn::CardMode::Once);
        reader.WaitForIdle();
        QCoreApplication::sendPostedEvents();
    }
    if (window.results != static_cast<int>(state.iterations()))
        state.SkipWithError("a cycle delivered no result");
}

// The same library calls and photo save, inline on this thread: what a cycle cannot avoid.
void BM_InlineFloor(benchmark::State& state) {
    const auto api = vorn::platform::CreateCardLibrary()->Load(ClientFolder().toStdString());
    const QString photoPath = ClientFolder() + "floor.jpg";
    std::vector<unsigned char> data(vorn::CardPhoto::kBufferSize);
    bool saved = true;
    for (auto _ : state) {
        api.CVR_InitComm(1001);
        std::array<char16_t, 256> sam{};
        api.CVR_GetSAMIDU(sam.data());
        api.CVR_Authenticate();
        api.CVR_Read_FPContent();
        for (auto fn :
             {api.GetPeopleNameU, api.GetPeopleSexU, api.GetPeopleNationU, api.GetPeopleBirthdayU,
              api.GetPeopleAddressU, api.GetPeopleIDCodeU, api.GetDepartmentU, api.GetStartDateU,
              api.GetEndDateU, api.GetNationCodeU}) {
            std::array<char16_t, 260> text{};
            int length = 520;
            fn(text.data(), &length);
            benchmark::DoNotOptimize(text);
        }
        int length = vorn::CardPhoto::kBufferSize;
        api.GetBMPData(data.data(), &length);
        saved = saved && vorn::CardPhoto::Save(data.data(), length, photoPath);
        api.CVR_CloseComm();
    }
    if (!saved)
        state.SkipWithError("photo not saved");
}

}  // namespace

BENCHMARK(BM_ReaderCycle)
    ->Iterations(1)
    ->Repetitions(100)
    ->ReportAggregatesOnly(true)
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_InlineFloor)
    ->Iterations(1)
    ->Repetitions(100)
    ->ReportAggregatesOnly(true)
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);

int main(int argc, char** argv) {
    unsetenv("VORN_TERMB_SIM");
    unsetenv("VORN_TERMB_SIM_LOG");
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
