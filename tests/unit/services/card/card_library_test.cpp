#include "CardTestSupport.h"
#include "platform/CardLibrary.h"
#include "platform/SystemCardLibrary.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <QFile>

#include <cstdlib>
#include <set>
#include <string>

using vorn::platform::CreateCardLibrary;
using vorn::platform::ICardLibrary;

namespace {

// The entry points in resolution order, as "present" flags.
std::vector<bool> Present(const ICardLibrary::EntryPoints& api) {
    return {api.CVR_InitComm != nullptr,      api.CVR_CloseComm != nullptr,
            api.CVR_Authenticate != nullptr,  api.CVR_Read_FPContent != nullptr,
            api.GetPeopleNameU != nullptr,    api.GetPeopleSexU != nullptr,
            api.GetPeopleNationU != nullptr,  api.GetPeopleBirthdayU != nullptr,
            api.GetPeopleAddressU != nullptr, api.GetPeopleIDCodeU != nullptr,
            api.GetDepartmentU != nullptr,    api.GetStartDateU != nullptr,
            api.GetEndDateU != nullptr,       api.CVR_GetSAMIDU != nullptr,
            api.GetNationCodeU != nullptr,    api.GetBMPData != nullptr};
}

}  // namespace

TEST(CardLibrary, ResolvesEveryEntryPointOfACompleteLibrary) {
    cardtest::SimFolder folder;
    EXPECT_EQ(Present(CreateCardLibrary()->Load(folder.Path().toStdString())),
              std::vector<bool>(16, true));
}

TEST(CardLibrary, EntryPointsALibraryLacksStayEmpty) {
    cardtest::SimFolder folder("no-dates");
    std::vector<bool> expected(16, true);
    expected[11] = expected[12] = false;
    EXPECT_EQ(Present(CreateCardLibrary()->Load(folder.Path().toStdString())), expected);
}

// 32-bit vendor libraries export their __stdcall entry points decorated with the bytes of their
// arguments: "_Name@N" from Microsoft's tools, "Name@N" from GNU's.
TEST(CardLibrary, DecoratedStdcallNamesAreFound) {
    const std::set<std::string> names = {
        "CVR_InitComm@4",      "CVR_CloseComm@0",    "CVR_Authenticate@0", "CVR_Read_FPContent@0",
        "GetPeopleNameU@8",    "GetPeopleSexU@8",    "GetPeopleNationU@8", "GetPeopleBirthdayU@8",
        "GetPeopleAddressU@8", "GetPeopleIDCodeU@8", "GetDepartmentU@8",   "GetStartDateU@8",
        "GetEndDateU@8",       "CVR_GetSAMIDU@4",    "GetNationCodeU@8",   "GetBMPData@8"};
    static int exported = 0;
    for (const std::string prefix : {"_", ""}) {
        const ICardLibrary::EntryPoints api =
            vorn::platform::ResolveCardEntryPoints([&](const char* name) -> void* {
                const std::string asked = name;
                return asked.starts_with(prefix) && names.count(asked.substr(prefix.size()))
                           ? &exported
                           : nullptr;
            });
        EXPECT_EQ(Present(api), std::vector<bool>(16, true)) << "prefix '" << prefix << "'";
    }
}

TEST(CardLibrary, MissingOrBrokenLibraryLeavesAllEmpty) {
    cardtest::SimFolder none({}, false);
    EXPECT_EQ(Present(CreateCardLibrary()->Load(none.Path().toStdString())),
              std::vector<bool>(16, false));

    cardtest::SimFolder broken({}, false);
    QFile file(broken.Path() + QString::fromStdString(CreateCardLibrary()->FileName()));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("not a shared object");
    file.close();
    EXPECT_EQ(Present(CreateCardLibrary()->Load(broken.Path().toStdString())),
              std::vector<bool>(16, false));

    // The loader would wait for a writer forever on a FIFO under the library's name.
    cardtest::SimFolder fifo({}, false);
    const std::string fifoPath = fifo.Path().toStdString() + CreateCardLibrary()->FileName();
    ASSERT_EQ(::mkfifo(fifoPath.c_str(), 0600), 0);
    EXPECT_EQ(Present(CreateCardLibrary()->Load(fifo.Path().toStdString())),
              std::vector<bool>(16, false));
}

TEST(CardLibrary, CallsReachTheLoadedLibrary) {
    cardtest::SimFolder folder;
    folder.Describe("ports = 4\n");
    const ICardLibrary::EntryPoints api = CreateCardLibrary()->Load(folder.Path().toStdString());
    ASSERT_NE(api.CVR_InitComm, nullptr);
    EXPECT_EQ(api.CVR_InitComm(3), 0);
    EXPECT_EQ(api.CVR_InitComm(4), 1);
    EXPECT_EQ(folder.Calls(), QStringList({"CVR_InitComm(3) = 0", "CVR_InitComm(4) = 1"}));
}

TEST(CardSimulator, DescriptionNamedByTheEnvironmentWinsAndIsReloadedWhenChanged) {
    cardtest::SimFolder folder;
    folder.Describe("ports = 9\n");  // beside the library: must be ignored
    cardtest::SimFolder elsewhere({}, false);
    const QString description = elsewhere.Path() + "reader.ini";
    const QString log = elsewhere.Path() + "calls.log";
    auto write = [&](const QByteArray& text) {
        QFile file(description);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(text);
    };
    write("ports = 4\n");
    setenv("VORN_TERMB_SIM", QFile::encodeName(description).constData(), 1);
    setenv("VORN_TERMB_SIM_LOG", QFile::encodeName(log).constData(), 1);
    const ICardLibrary::EntryPoints api = CreateCardLibrary()->Load(folder.Path().toStdString());
    ASSERT_NE(api.CVR_InitComm, nullptr);
    EXPECT_EQ(api.CVR_InitComm(4), 1);
    EXPECT_EQ(api.CVR_InitComm(9), 0);
    // The card is taken off the reader while the client runs.
    write("ports = 4\ncard = 0\n");
    EXPECT_EQ(api.CVR_InitComm(4), 1);
    EXPECT_EQ(api.CVR_Authenticate(), 0);
    // A named description that cannot be read means no reader, not the default card.
    QFile::remove(description);
    EXPECT_EQ(api.CVR_InitComm(1001), 0);
    unsetenv("VORN_TERMB_SIM");
    unsetenv("VORN_TERMB_SIM_LOG");
    QFile file(log);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts),
              QStringList({"CVR_InitComm(4) = 1", "CVR_InitComm(9) = 0", "CVR_InitComm(4) = 1",
                           "CVR_Authenticate() = 0", "CVR_InitComm(1001) = 0"}));
}
