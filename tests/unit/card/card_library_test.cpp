#include "CardTestSupport.h"
#include "platform/CardLibrary.h"

#include <gtest/gtest.h>

#include <QFile>

using vorn::CardLibrary;

namespace {

// The entry points in resolution order, as "present" flags.
std::vector<bool> Present(const CardLibrary::EntryPoints& api) {
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
    EXPECT_EQ(Present(CardLibrary::Load(folder.Path())), std::vector<bool>(16, true));
}

TEST(CardLibrary, EntryPointsALibraryLacksStayEmpty) {
    cardtest::SimFolder folder("no-dates");
    std::vector<bool> expected(16, true);
    expected[11] = expected[12] = false;
    EXPECT_EQ(Present(CardLibrary::Load(folder.Path())), expected);
}

TEST(CardLibrary, MissingOrBrokenLibraryLeavesAllEmpty) {
    cardtest::SimFolder none({}, false);
    EXPECT_EQ(Present(CardLibrary::Load(none.Path())), std::vector<bool>(16, false));

    cardtest::SimFolder broken({}, false);
    QFile file(broken.Path() + CardLibrary::FileName());
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("not a shared object");
    file.close();
    EXPECT_EQ(Present(CardLibrary::Load(broken.Path())), std::vector<bool>(16, false));
}

TEST(CardLibrary, CallsReachTheLoadedLibrary) {
    cardtest::SimFolder folder;
    folder.Describe("ports = 4\n");
    const CardLibrary::EntryPoints api = CardLibrary::Load(folder.Path());
    ASSERT_NE(api.CVR_InitComm, nullptr);
    EXPECT_EQ(api.CVR_InitComm(3), 0);
    EXPECT_EQ(api.CVR_InitComm(4), 1);
    EXPECT_EQ(folder.Calls(), QStringList({"CVR_InitComm(3) = 0", "CVR_InitComm(4) = 1"}));
}
