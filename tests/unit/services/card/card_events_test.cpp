// Card records travel to the window inside posted events; these tests count the records alive
// to prove that none is lost when no window takes them.

#include "CardTestSupport.h"
#include "services/card/CardReader.h"

#include <gtest/gtest.h>

#include <QCoreApplication>

#include <array>
#include <atomic>
#include <cstdlib>
#include <mutex>
#include <new>

using vorn::CCardReader;
using vorn::IdCardRecord;

using namespace std::chrono_literals;

namespace {

// Every allocation of a record's size is tracked until it is freed.
std::mutex g_trackMutex;
std::array<void*, 256> g_tracked{};
std::atomic<int> g_live{0};

void Track(void* p) {
    std::lock_guard lock(g_trackMutex);
    for (auto& slot : g_tracked)
        if (!slot) {
            slot = p;
            ++g_live;
            return;
        }
}

void Untrack(void* p) {
    if (g_live.load() == 0)
        return;
    std::lock_guard lock(g_trackMutex);
    for (auto& slot : g_tracked)
        if (slot == p) {
            slot = nullptr;
            --g_live;
            return;
        }
}

}  // namespace

void* operator new(std::size_t size) {
    void* p = std::malloc(size ? size : 1);
    if (!p)
        throw std::bad_alloc();
    if (size == sizeof(IdCardRecord))
        Track(p);
    return p;
}

void operator delete(void* p) noexcept {
    if (!p)
        return;
    Untrack(p);
    std::free(p);
}

void operator delete(void* p, std::size_t) noexcept {
    operator delete(p);
}

TEST(CardEvents, RecordsReachTheWindowAndAreFreedAfterDelivery) {
    cardtest::SimFolder folder;
    cardtest::EventLog window;
    CCardReader reader;
    reader.Init(&window, folder.Path(), 0, 500);
    reader.StartCardReading(0, vorn::CardMode::Once);
    ASSERT_TRUE(cardtest::WaitUntil([&] { return window.CyclesEnded() == 1; }));
    ASSERT_TRUE(reader.WaitForIdle());
    EXPECT_EQ(window.Records(), 1);
    EXPECT_EQ(g_live.load(), 0);
}

TEST(CardEvents, RecordsForAWindowThatIsGoneAreFreed) {
    cardtest::SimFolder folder;
    folder.Describe("");
    auto window = std::make_unique<cardtest::EventLog>();
    CCardReader reader;
    reader.SetCyclePause(5ms);
    reader.Init(window.get(), folder.Path(), 0, 500);
    reader.StartCardReading(0, vorn::CardMode::Continuous);
    ASSERT_TRUE(cardtest::WaitUntil([&] { return window->Records() >= 1; }));
    window.reset();
    // Cycles go on after the window is destroyed; their records must not pile up.
    const int before = folder.Calls().size();
    ASSERT_TRUE(cardtest::WaitUntil([&] { return folder.Calls().size() > before + 3 * 16; }));
    reader.StopCardReading();
    ASSERT_TRUE(reader.WaitForIdle());
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(g_live.load(), 0);
}

TEST(CardEvents, RecordsStillQueuedWhenTheReaderGoesAreFreed) {
    cardtest::SimFolder folder;
    cardtest::EventLog window;
    {
        CCardReader reader;
        reader.Init(&window, folder.Path(), 0, 500);
        reader.StartCardReading(0, vorn::CardMode::Once);
        ASSERT_TRUE(reader.WaitForIdle());
        EXPECT_EQ(g_live.load(), 1);  // posted, not delivered: no event loop ran
    }
    EXPECT_EQ(g_live.load(), 0);
    QCoreApplication::sendPostedEvents();
    EXPECT_TRUE(window.entries.empty());
}

TEST(CardEvents, ReadingBeforeInitReportsNothingAndFreesEverything) {
    CCardReader reader;
    reader.StartCardReading(0, vorn::CardMode::Once);
    ASSERT_TRUE(reader.WaitForIdle());
    EXPECT_FALSE(reader.IsReading());
    EXPECT_EQ(g_live.load(), 0);
}
