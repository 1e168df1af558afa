#include "CardTestSupport.h"
#include "services/card/CardPhoto.h"
#include "services/card/CardReader.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QBuffer>
#include <QCoreApplication>
#include <QFile>
#include <QImage>
#include <QTimer>

#include <sys/stat.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

using cardtest::UM_CARD_BUSY;
using vorn::CCardReader;
using vorn::IdCardRecord;

using namespace std::chrono_literals;
using cardtest::EventLog;
using cardtest::Field;
using cardtest::SimFolder;
using cardtest::WaitUntil;
using testing::ElementsAre;

namespace {

// One reader with its window and client folder; continuous cycles 20 ms apart.
struct Rig {
    explicit Rig(const QString& variant = {}, bool withLibrary = true)
        : folder(variant, withLibrary) {}
    void Init() {
        reader.SetCyclePause(20ms);
        reader.Init(&window, folder.Path(), 0, 500);
    }
    // Runs one single reading to its end.
    void ReadOnce(int port = 0) {
        const int before = window.CyclesEnded();
        reader.StartCardReading(port, vorn::CardMode::Once);
        ASSERT_TRUE(WaitUntil([&] { return window.CyclesEnded() > before; }));
        ASSERT_TRUE(reader.WaitForIdle());
    }
    int Count(const QString& prefix) const {
        int n = 0;
        for (const QString& line : folder.Calls())
            n += line.startsWith(prefix);
        return n;
    }
    SimFolder folder;
    EventLog window;
    CCardReader reader;
};

std::string Error(const char* text) {
    return std::string("error ") + text;
}

QStringList InitCommCalls(const QStringList& calls) {
    return calls.filter("CVR_InitComm(");
}

}  // namespace

TEST(CardReader, WithoutLibraryEveryReadingFailsToOpenThePort) {
    Rig rig({}, /*withLibrary=*/false);
    rig.Init();
    rig.ReadOnce();
    EXPECT_THAT(rig.window.Summary(), ElementsAre("busy 1 0", Error("端口打开失败"), "busy 0 0"));
    EXPECT_FALSE(rig.reader.IsReading());
    // The flag was cleared, so the next request is a reading of its own.
    rig.ReadOnce();
    EXPECT_EQ(rig.window.CyclesEnded(), 2);
}

TEST(CardReader, PortSearchTriesUsbPortsThenSerialPortsAndStopsAtTheFirstAnswer) {
    Rig rig;
    rig.folder.Describe("ports = none\n");
    rig.Init();
    rig.ReadOnce();
    EXPECT_THAT(rig.window.Summary(), ElementsAre("busy 1 0", Error("端口打开失败"), "busy 0 0"));
    QStringList expected;
    for (int p = 1001; p <= 1016; ++p)
        expected << QString("CVR_InitComm(%1) = 0").arg(p);
    for (int p = 1; p <= 16; ++p)
        expected << QString("CVR_InitComm(%1) = 0").arg(p);
    EXPECT_EQ(rig.folder.Calls(), expected);

    Rig second;
    second.folder.Describe("ports = 5\n");
    second.Init();
    second.ReadOnce();
    const QStringList opens = InitCommCalls(second.folder.Calls());
    ASSERT_EQ(opens.size(), 21);
    EXPECT_EQ(opens.last(), "CVR_InitComm(5) = 1");
    EXPECT_EQ(second.window.Records(), 1);
}

TEST(CardReader, AGivenPortIsTriedAloneAndOutOfRangePortsAreNeverCalled) {
    Rig rig;
    rig.folder.Describe("ports = 3 1003\n");
    rig.Init();
    rig.ReadOnce(3);
    rig.ReadOnce(1003);
    EXPECT_EQ(InitCommCalls(rig.folder.Calls()),
              QStringList({"CVR_InitComm(3) = 1", "CVR_InitComm(1003) = 1"}));
    EXPECT_EQ(rig.window.Records(), 2);

    rig.ReadOnce(16);
    EXPECT_EQ(InitCommCalls(rig.folder.Calls()).last(), "CVR_InitComm(16) = 0");
    const int calls = rig.Count("CVR_InitComm");
    for (int port : {17, 1000, 1017, -1, 100000})
        rig.ReadOnce(port);
    EXPECT_EQ(rig.Count("CVR_InitComm"), calls);
    EXPECT_EQ(rig.window.CyclesEnded(), 8);
    EXPECT_EQ(rig.window.entries.back().message, UM_CARD_BUSY);
    EXPECT_EQ(rig.window.entries[rig.window.entries.size() - 2].error, "端口打开失败");
}

TEST(CardReader, ReaderWithoutCardSingleFindsNoCardContinuousFailsTheRead) {
    Rig rig;
    rig.folder.Describe("card = 0\n");
    rig.Init();
    rig.ReadOnce();
    EXPECT_THAT(rig.window.Summary(), ElementsAre("busy 1 0", Error("找卡失败"), "busy 0 0"));
    EXPECT_EQ(rig.Count("CVR_Read_FPContent"), 0);

    rig.window.entries.clear();
    rig.reader.StartCardReading(0, vorn::CardMode::Continuous);
    ASSERT_TRUE(WaitUntil([&] { return rig.window.CyclesEnded() >= 3; }));
    rig.reader.StopCardReading();
    ASSERT_TRUE(rig.reader.WaitForIdle());
    WaitUntil([] { return false; }, 50ms);
    EXPECT_TRUE(rig.window.WellFormedCycles());
    for (size_t i = 0; i < rig.window.entries.size(); i += 3) {
        EXPECT_EQ(rig.window.entries[i + 1].error, "卡读取失败");
        EXPECT_EQ(rig.window.entries[i + 2].lParam, 1);
    }
    EXPECT_EQ(rig.Count("CVR_Read_FPContent"), rig.window.CyclesEnded());
    EXPECT_FALSE(rig.reader.IsReading());
}

TEST(CardReader, AFailedCycleClosesThePortItOpenedAndReportsAsBefore) {
    struct Case {
        const char* description;
        vorn::CardMode mode;
        const char* error;
    };
    for (const Case& c : {Case{"card = 0\n", vorn::CardMode::Once, "找卡失败"},
                          Case{"read = 0\n", vorn::CardMode::Once, "卡读取失败"},
                          Case{"card = 0\n", vorn::CardMode::Continuous, "卡读取失败"}}) {
        Rig rig;
        rig.folder.Describe(c.description);
        rig.Init();
        rig.reader.StartCardReading(0, c.mode);
        ASSERT_TRUE(WaitUntil([&] {
            return rig.window.CyclesEnded() >= 2 ||
                   (c.mode == vorn::CardMode::Once && rig.window.CyclesEnded() == 1);
        }));
        rig.reader.StopCardReading();
        ASSERT_TRUE(rig.reader.WaitForIdle());
        WaitUntil([] { return false; }, 50ms);  // delivers what the last cycle posted
        ASSERT_TRUE(rig.window.WellFormedCycles());
        const int cycles = rig.window.CyclesEnded();
        for (int i = 0; i < cycles; ++i)
            EXPECT_EQ(rig.window.entries[3 * i + 1].error, c.error) << c.description;
        // Each cycle's calls end with the close, before the next cycle opens the port again.
        const QStringList calls = rig.folder.Calls();
        EXPECT_EQ(rig.Count("CVR_CloseComm"), cycles) << c.description;
        for (int i = 1; i < calls.size(); ++i) {
            if (calls[i].startsWith("CVR_InitComm(")) {
                EXPECT_EQ(calls[i - 1].toStdString(), "CVR_CloseComm() = 1") << c.description;
            }
        }
        EXPECT_EQ(calls.last().toStdString(), "CVR_CloseComm() = 1") << c.description;
    }
}

TEST(CardReader, CardIsReadFieldByFieldInTheLibrarysOrderAndThePortClosed) {
    Rig rig;
    rig.folder.Describe(
        "name = 张三\nsex = 女\nnation = 汉\nbirthday = 19900102\naddress = 某地 1 号\n"
        "idcode = 11010119900102000X\ndepartment = 某公安局\nstartdate = 20100101\n"
        "enddate = 20300101\nnationcode = 01\n");
    rig.Init();
    rig.ReadOnce();
    EXPECT_THAT(rig.window.Summary(), ElementsAre("busy 1 0", "card", "busy 0 0"));
    const IdCardRecord* record = rig.window.LastRecord();
    ASSERT_NE(record, nullptr);
    const QStringList expected = {
        "",         "张三",     "女",       "汉", "19900102", "某地 1 号", "11010119900102000X",
        "某公安局", "20100101", "20300101", "01"};
    for (int i = 0; i < expected.size(); ++i)
        EXPECT_EQ(Field(*record, i), expected[i]) << "field " << i;
    EXPECT_EQ(Field(*record, 11), rig.folder.PhotoPath());
    for (int i = 12; i < IdCardRecord::kFieldCount; ++i)
        EXPECT_EQ(Field(*record, i), "");

    EXPECT_EQ(rig.folder.Calls(),
              QStringList({"CVR_InitComm(1001) = 1", "CVR_GetSAMIDU() = 1",
                           "CVR_Authenticate() = 1", "CVR_Read_FPContent() = 1",
                           "GetPeopleNameU(length=520) = 1", "GetPeopleSexU(length=520) = 1",
                           "GetPeopleNationU(length=520) = 1", "GetPeopleBirthdayU(length=520) = 1",
                           "GetPeopleAddressU(length=520) = 1", "GetPeopleIDCodeU(length=520) = 1",
                           "GetDepartmentU(length=520) = 1", "GetStartDateU(length=520) = 1",
                           "GetEndDateU(length=520) = 1", "GetNationCodeU(length=520) = 1",
                           "GetBMPData(length=40960) = 1", "CVR_CloseComm() = 1"}));

    // The photo is a real JPEG of the card's picture.
    QFile photo(rig.folder.PhotoPath());
    ASSERT_TRUE(photo.open(QIODevice::ReadOnly));
    EXPECT_TRUE(photo.read(3) == QByteArray("\xFF\xD8\xFF", 3));
    const QImage image(rig.folder.PhotoPath());
    EXPECT_EQ(image.size(), QSize(102, 126));
}

TEST(CardReader, WithoutDescriptionTheSimulatorHoldsAPlainTestCard) {
    Rig rig;
    rig.Init();
    rig.ReadOnce();
    const IdCardRecord* record = rig.window.LastRecord();
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(Field(*record, 1), "测试样卡 TEST CARD");
    EXPECT_EQ(Field(*record, 6), "000000000000000000");
    EXPECT_TRUE(QFile::exists(Field(*record, 11)));
}

TEST(CardReader, CardLeftOnTheReaderIsReportedEveryCycleUntilStopped) {
    Rig rig;
    rig.folder.Describe("");
    rig.Init();
    rig.reader.StartCardReading(0, vorn::CardMode::Continuous);
    ASSERT_TRUE(WaitUntil([&] { return rig.window.Records() >= 3; }));
    EXPECT_TRUE(rig.reader.IsReading());
    rig.reader.StopCardReading();
    ASSERT_TRUE(rig.reader.WaitForIdle());
    WaitUntil([] { return false; }, 50ms);
    EXPECT_TRUE(rig.window.WellFormedCycles());
    EXPECT_EQ(rig.window.Records(), rig.window.CyclesEnded());
    EXPECT_EQ(rig.window.entries.back().lParam, 1);
    EXPECT_EQ(rig.Count("CVR_CloseComm"), rig.window.Records());
    // Stopped means stopped: nothing arrives afterwards.
    const size_t events = rig.window.entries.size();
    WaitUntil([] { return false; }, 100ms);
    EXPECT_EQ(rig.window.entries.size(), events);
}

TEST(CardReader, StartWhileReadingIsDroppedAndAcceptedAgainAfterTheReadingEnds) {
    Rig rig;
    rig.folder.Describe("card = 0\n");
    rig.Init();
    rig.reader.StartCardReading(0, vorn::CardMode::Continuous);
    ASSERT_TRUE(WaitUntil([&] { return rig.window.CyclesEnded() >= 1; }));
    // The page's ReadCard and Init while reading continuously: neither starts anything.
    rig.reader.StartCardReading(0, vorn::CardMode::Continuous);
    rig.reader.StartCardReading(0, vorn::CardMode::Once);
    rig.reader.StartCardReading(1001, vorn::CardMode::Once);
    ASSERT_TRUE(WaitUntil([&] { return rig.window.CyclesEnded() >= 3; }));
    rig.reader.StopCardReading();
    ASSERT_TRUE(rig.reader.WaitForIdle());
    WaitUntil([] { return false; }, 50ms);
    EXPECT_TRUE(rig.window.WellFormedCycles());
    for (const auto& e : rig.window.entries) {
        if (e.message == UM_CARD_BUSY && e.wParam == 0) {
            EXPECT_EQ(e.lParam, 1) << "a single reading ran";
        }
    }
    EXPECT_FALSE(rig.folder.Calls().join('\n').contains("CONCURRENT"));

    rig.window.entries.clear();
    rig.ReadOnce();
    EXPECT_THAT(rig.window.Summary(), ElementsAre("busy 1 0", Error("找卡失败"), "busy 0 0"));
}

TEST(CardReader, StopDuringASingleReadingChangesNothing) {
    Rig rig;
    rig.folder.Describe("delay_ms = 5\n");
    rig.Init();
    rig.reader.StartCardReading(0, vorn::CardMode::Once);
    rig.reader.StopCardReading();
    ASSERT_TRUE(rig.reader.WaitForIdle());
    WaitUntil([] { return false; }, 50ms);
    EXPECT_THAT(rig.window.Summary(), ElementsAre("busy 1 0", "card", "busy 0 0"));
}

TEST(CardReader, StartAfterStopWaitsForTheStoppedReadingInsteadOfRunningBesideIt) {
    Rig rig;
    rig.folder.Describe("delay_ms = 2\n");
    rig.reader.SetCyclePause(300ms);
    rig.reader.Init(&rig.window, rig.folder.Path(), 0, 500);
    rig.reader.StartCardReading(0, vorn::CardMode::Continuous);
    ASSERT_TRUE(WaitUntil([&] { return rig.window.CyclesEnded() >= 1; }));
    // The worker is in its pause now; the page closes and at once asks for a single reading.
    rig.reader.StopCardReading();
    rig.reader.StartCardReading(0, vorn::CardMode::Once);
    EXPECT_TRUE(rig.reader.IsReading());
    ASSERT_TRUE(WaitUntil([&] { return rig.window.CyclesEnded() >= 2; }));
    ASSERT_TRUE(rig.reader.WaitForIdle());
    WaitUntil([] { return false; }, 50ms);
    EXPECT_THAT(rig.window.Summary(),
                ElementsAre("busy 1 0", "card", "busy 0 1", "busy 1 0", "card", "busy 0 0"));
    EXPECT_FALSE(rig.reader.IsReading());
    EXPECT_FALSE(rig.folder.Calls().join('\n').contains("CONCURRENT"));

    // The same during a single reading that was "stopped".
    rig.window.entries.clear();
    rig.reader.StartCardReading(0, vorn::CardMode::Once);
    rig.reader.StopCardReading();
    rig.reader.StartCardReading(0, vorn::CardMode::Once);
    ASSERT_TRUE(WaitUntil([&] { return rig.window.CyclesEnded() >= 2; }));
    ASSERT_TRUE(rig.reader.WaitForIdle());
    EXPECT_TRUE(rig.window.WellFormedCycles());
    EXPECT_EQ(rig.window.CyclesEnded(), 2);
    EXPECT_FALSE(rig.folder.Calls().join('\n').contains("CONCURRENT"));
}

namespace {

class FailingReader : public CCardReader {
public:
    int failures = 1;

protected:
    std::thread CreateWorker(std::function<void()> body) override {
        if (failures > 0) {
            --failures;
            throw std::system_error(
                std::make_error_code(std::errc::resource_unavailable_try_again));
        }
        return CCardReader::CreateWorker(std::move(body));
    }
};

}  // namespace

TEST(CardReader, AWorkerThatCannotBeCreatedLeavesTheReaderIdle) {
    SimFolder folder;
    EventLog window;
    FailingReader reader;
    reader.Init(&window, folder.Path(), 0, 500);
    reader.StartCardReading(0, vorn::CardMode::Continuous);
    EXPECT_FALSE(reader.IsReading());
    reader.StartCardReading(0, vorn::CardMode::Once);
    ASSERT_TRUE(WaitUntil([&] { return window.CyclesEnded() == 1; }));
    EXPECT_EQ(window.Records(), 1);
}

TEST(CardReader, UndecodablePhotoNamesThePathButLeavesNoEarlierPhotoThere) {
    Rig rig;
    {
        QFile junk(rig.folder.Path() + "junk.bin");
        ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
        junk.write(QByteArray(5000, '\x5A'));
        QFile stale(rig.folder.PhotoPath());
        ASSERT_TRUE(stale.open(QIODevice::WriteOnly));
        stale.write("an earlier card's photo");
    }
    rig.folder.Describe("photo = junk.bin\n");
    rig.Init();
    rig.ReadOnce();
    const IdCardRecord* record = rig.window.LastRecord();
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(Field(*record, 11), rig.folder.PhotoPath());
    EXPECT_FALSE(QFile::exists(rig.folder.PhotoPath()));
}

// The page may open the photo at any moment of a continuous reading: each new photo replaces
// the old one in one step, with no moment without a file.
TEST(CardReader, ThePhotoPathNeverLacksAFileWhileANewPhotoIsSaved) {
    SimFolder folder({}, false);
    QImage image(102, 126, QImage::Format_RGB888);
    image.fill(Qt::darkBlue);
    QByteArray bmp;
    {
        QBuffer buffer(&bmp);
        ASSERT_TRUE(buffer.open(QIODevice::WriteOnly));
        ASSERT_TRUE(image.save(&buffer, "BMP"));
    }
    const auto* data = reinterpret_cast<const unsigned char*>(bmp.constData());
    const QString path = folder.PhotoPath();
    ASSERT_TRUE(vorn::CardPhoto::Save(data, static_cast<int>(bmp.size()), path));

    std::atomic<bool> saving{true};
    std::atomic<int> missing{0};
    const std::string nativePath = QFile::encodeName(path).toStdString();
    std::thread watcher([&] {
        struct stat st {};
        while (saving.load())
            if (::stat(nativePath.c_str(), &st) != 0)
                ++missing;
    });
    for (int i = 0; i < 100; ++i)
        ASSERT_TRUE(vorn::CardPhoto::Save(data, static_cast<int>(bmp.size()), path));
    saving.store(false);
    watcher.join();
    EXPECT_EQ(missing.load(), 0);

    // Data that cannot become a photo takes the old one away: never show an earlier card's.
    const unsigned char junk[64] = {};
    EXPECT_FALSE(vorn::CardPhoto::Save(junk, sizeof junk, path));
    EXPECT_FALSE(QFile::exists(path));
}

TEST(CardReader, PhotoLengthOutsideTheBufferMeansNoPhoto) {
    // Reported too long, negative, empty; and a real image larger than the buffer.
    for (const char* description : {"photo_length = 40961\n", "photo_length = -1\n",
                                    "photo_length = 0\n", "photo = big.bmp\n"}) {
        Rig rig;
        QImage big(200, 200, QImage::Format_RGB888);
        big.fill(Qt::darkGreen);
        ASSERT_TRUE(big.save(rig.folder.Path() + "big.bmp"));
        rig.folder.Describe(description);
        rig.Init();
        rig.ReadOnce();
        const IdCardRecord* record = rig.window.LastRecord();
        ASSERT_NE(record, nullptr) << description;
        EXPECT_EQ(Field(*record, 11), "") << description;
        EXPECT_EQ(Field(*record, 1), "测试样卡 TEST CARD") << description;
        EXPECT_FALSE(QFile::exists(rig.folder.PhotoPath())) << description;
    }
}

TEST(CardReader, PhotoInAnyFormatQtReadsIsSavedAsJpeg) {
    Rig rig;
    QImage png(40, 50, QImage::Format_ARGB32);
    png.fill(QColor(10, 200, 30, 255));
    ASSERT_TRUE(png.save(rig.folder.Path() + "photo.png"));
    rig.folder.Describe("photo = photo.png\n");
    rig.Init();
    rig.ReadOnce();
    const QImage saved(rig.folder.PhotoPath(), "JPEG");
    EXPECT_EQ(saved.size(), QSize(40, 50));
}

TEST(CardReader, OverlongAndUnterminatedTextsAreCutAt255Units) {
    Rig rig;
    std::string unterminated, overlong, pairAtCut, samId;
    for (int i = 0; i < 300; ++i)
        unterminated += "名";          // fills the whole 260-unit buffer, no terminator
    overlong = std::string(257, 'a');  // terminated, but longer than 255
    pairAtCut = std::string(254, 'x') + "\xF0\x9F\x98\x80";  // a pair at units 254-255
    samId = std::string(400, 's');
    rig.folder.Describe("name = " + unterminated + "\naddress = " + overlong +
                        "\ndepartment = " + pairAtCut + "\nsamid = " + samId +
                        "\nidcode = " + std::string(255, '9') + "\n");
    rig.Init();
    rig.ReadOnce();
    const IdCardRecord* record = rig.window.LastRecord();
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(Field(*record, 1), QString(255, QChar(0x540D)));
    EXPECT_EQ(Field(*record, 5), QString(255, 'a'));
    EXPECT_EQ(Field(*record, 7), QString(254, 'x'));
    EXPECT_EQ(Field(*record, 6), QString(255, '9'));
    for (int i = 0; i < IdCardRecord::kFieldCount; ++i)
        EXPECT_EQ(record->fields[i][IdCardRecord::kFieldUnits - 1], u'\0');
}

TEST(CardReader, ValidityDatesAreReadOnlyWhenBothEntryPointsExist) {
    for (const char* variant : {"no-startdate", "no-enddate", "no-dates"}) {
        Rig rig(variant);
        rig.folder.Describe("");
        rig.Init();
        rig.ReadOnce();
        const IdCardRecord* record = rig.window.LastRecord();
        ASSERT_NE(record, nullptr) << variant;
        EXPECT_EQ(Field(*record, 8), "") << variant;
        EXPECT_EQ(Field(*record, 9), "") << variant;
        EXPECT_EQ(Field(*record, 7), "模拟签发机关 TEST AUTHORITY") << variant;
        EXPECT_EQ(Field(*record, 10), "01") << variant;
        EXPECT_EQ(rig.Count("GetStartDateU") + rig.Count("GetEndDateU"), 0) << variant;
    }
}

TEST(CardReader, MissingEntryPointsDegradeAsTheLibraryContractSays) {
    {
        Rig rig("no-content");
        rig.folder.Describe("");
        rig.Init();
        rig.ReadOnce();
        EXPECT_THAT(rig.window.Summary(), ElementsAre("busy 1 0", Error("卡读取失败"), "busy 0 0"));
    }
    for (const char* variant : {"no-authenticate", "no-closecomm"}) {
        Rig rig(variant);
        rig.folder.Describe("");
        rig.Init();
        rig.ReadOnce();
        EXPECT_THAT(rig.window.Summary(),
                    ElementsAre("busy 1 0", Error("端口打开失败"), "busy 0 0"))
            << variant;
        EXPECT_EQ(rig.folder.Calls(), QStringList()) << variant;
    }
    {
        Rig rig("no-photo");
        rig.folder.Describe("");
        rig.Init();
        rig.ReadOnce();
        const IdCardRecord* record = rig.window.LastRecord();
        ASSERT_NE(record, nullptr);
        EXPECT_EQ(Field(*record, 11), "");
        EXPECT_EQ(Field(*record, 1), "测试样卡 TEST CARD");
        EXPECT_FALSE(QFile::exists(rig.folder.PhotoPath()));
    }
    {
        Rig rig("comm-only");
        rig.folder.Describe("");
        rig.Init();
        rig.ReadOnce();
        const IdCardRecord* record = rig.window.LastRecord();
        ASSERT_NE(record, nullptr);
        for (int i = 0; i < IdCardRecord::kFieldCount; ++i)
            EXPECT_EQ(Field(*record, i), "") << i;
        EXPECT_EQ(rig.Count("CVR_CloseComm"), 1);
    }
}

TEST(CardReader, ShutdownCutsThePauseShortAndEndsReadingsForGood) {
    Rig rig;
    rig.folder.Describe("card = 0\n");
    rig.reader.SetCyclePause(10min);
    rig.reader.Init(&rig.window, rig.folder.Path(), 7, 900);
    EXPECT_EQ(rig.reader.ComPortSetting(), 7);
    EXPECT_EQ(rig.reader.ReadTimeSetting(), 900);
    rig.reader.StartCardReading(0, vorn::CardMode::Continuous);
    ASSERT_TRUE(WaitUntil([&] { return rig.window.CyclesEnded() >= 1; }));
    // Would wait ten minutes (and time the test out) if the pause were not interrupted.
    rig.reader.Shutdown();
    EXPECT_TRUE(rig.reader.WaitForIdle(0ms));
    EXPECT_FALSE(rig.reader.IsReading());
    rig.reader.StartCardReading(0, vorn::CardMode::Once);
    EXPECT_FALSE(rig.reader.IsReading());
    WaitUntil([] { return false; }, 50ms);
    EXPECT_EQ(rig.window.CyclesEnded(), 1);
}

TEST(CardReader, SecondInitChangesNothing) {
    Rig rig;
    rig.folder.Describe("");
    rig.Init();
    EventLog other;
    SimFolder empty({}, false);
    rig.reader.Init(&other, empty.Path(), 1, 1);
    rig.ReadOnce();
    EXPECT_EQ(rig.window.Records(), 1);
    EXPECT_TRUE(other.entries.empty());
    EXPECT_EQ(rig.reader.ComPortSetting(), 0);
}

TEST(CardReader, QuittingWaitsOnlyBoundedForALibraryCallThatHangs) {
    Rig rig;
    rig.folder.Describe("hang = 1\n");
    rig.Init();
    rig.reader.StartCardReading(0, vorn::CardMode::Once);
    WaitUntil([] { return false; }, 200ms);  // the worker is inside CVR_InitComm by now

    // Should the exit wait for the call after all, the port "answers" after ten seconds, so a
    // regression fails on the time taken instead of hanging the test.
    std::mutex mutex;
    std::condition_variable exited;
    bool done = false;
    std::thread port([&] {
        std::unique_lock lock(mutex);
        exited.wait_for(lock, 10s, [&] { return done; });
        rig.folder.Describe("hang = 0\n# the port answers again\n");
    });
    const auto begin = std::chrono::steady_clock::now();
    QTimer::singleShot(0, QCoreApplication::instance(), &QCoreApplication::quit);
    QCoreApplication::exec();
    const auto took = std::chrono::steady_clock::now() - begin;
    {
        std::lock_guard lock(mutex);
        done = true;
    }
    exited.notify_all();
    port.join();

    EXPECT_LT(took, CCardReader::kExitWait + 2s);
    EXPECT_FALSE(rig.reader.IsReading());
    // The call left behind returns once the port answers, and the reader can go.
    EXPECT_TRUE(rig.reader.WaitForIdle(20s));
}

// The program owns its reader: destroying it while a library call hangs waits only bounded, and
// the cycle that comes back afterwards reports to nothing that went with the reader.
TEST(CardReader, DestroyingTheReaderWhileALibraryCallHangsWaitsOnlyBounded) {
    SimFolder folder;
    folder.Describe("hang = 1\n");
    EventLog window;
    auto reader = std::make_unique<CCardReader>();
    reader->Init(&window, folder.Path(), 0, 500);
    reader->StartCardReading(0, vorn::CardMode::Once);
    WaitUntil([] { return false; }, 200ms);  // the worker is inside CVR_InitComm by now

    // Should the destruction wait for the call after all, the port answers after ten seconds.
    std::mutex mutex;
    std::condition_variable destroyed;
    bool done = false;
    std::thread port([&] {
        std::unique_lock lock(mutex);
        destroyed.wait_for(lock, 10s, [&] { return done; });
        folder.Describe("hang = 0\n# the port answers again\n");
    });
    const auto begin = std::chrono::steady_clock::now();
    reader.reset();
    const auto took = std::chrono::steady_clock::now() - begin;
    {
        std::lock_guard lock(mutex);
        done = true;
    }
    destroyed.notify_all();
    port.join();

    EXPECT_LT(took, CCardReader::kExitWait + 2s);
    ASSERT_TRUE(WaitUntil([&] { return folder.Calls().join('\n').contains("CVR_CloseComm"); }));
    WaitUntil([] { return false; }, 100ms);
    EXPECT_EQ(window.Records(), 0);
    EXPECT_EQ(window.CyclesEnded(), 0);
}

TEST(CardReader, QuittingTheApplicationEndsAReadingAsleepInItsPause) {
    Rig rig;
    rig.folder.Describe("card = 0\n");
    rig.reader.SetCyclePause(10min);
    rig.reader.Init(&rig.window, rig.folder.Path(), 0, 500);
    rig.reader.StartCardReading(0, vorn::CardMode::Continuous);
    ASSERT_TRUE(WaitUntil([&] { return rig.window.CyclesEnded() >= 1; }));
    QTimer::singleShot(0, QCoreApplication::instance(), &QCoreApplication::quit);
    QCoreApplication::exec();
    // Would time the test out if the quit left the worker in its ten-minute pause.
    EXPECT_TRUE(rig.reader.WaitForIdle());
    EXPECT_FALSE(rig.reader.IsReading());
}
