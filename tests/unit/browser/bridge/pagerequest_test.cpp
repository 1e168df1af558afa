#include "browser/bridge/PageRequest.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using ::testing::InSequence;
using ::testing::StrictMock;
using vorn::CardMode;
using vorn::DispatchPageRequest;
using vorn::LockState;

namespace {

class MockTarget : public vorn::PageActions {
public:
    MOCK_METHOD(void, SetLockState, (LockState state), (override));
    MOCK_METHOD(void, SaveCardPort, (int port), (override));
    MOCK_METHOD(void, StartCardReading, (CardMode mode), (override));
    MOCK_METHOD(void, StopCardReading, (), (override));
    MOCK_METHOD(void, StartModelUpdate, (), (override));
    MOCK_METHOD(void, AnswerCameraList, (), (override));
    MOCK_METHOD(void, AnswerRemoteLogin, (), (override));
    MOCK_METHOD(void, AnswerClientInfo, (), (override));
};

// The renderer sends a second entry only for LockApp and Init called with exactly one
// argument; a non-string argument travels as "". These helpers spell the requests that result.
QStringList Request(const QString& name) {
    return {name};
}
QStringList Request(const QString& name, const QString& argument) {
    return {name, argument};
}

TEST(PageRequestTest, LockAppLocksOnlyForTheExactStringOne) {
    StrictMock<MockTarget> target;
    {
        InSequence order;
        EXPECT_CALL(target, SetLockState(LockState::Locked));
        EXPECT_CALL(target, SetLockState(LockState::Unlocked)).Times(6);
    }
    EXPECT_TRUE(DispatchPageRequest(Request("LockApp", "1"), target));
    EXPECT_TRUE(DispatchPageRequest(Request("LockApp", "0"), target));
    EXPECT_TRUE(DispatchPageRequest(Request("LockApp", ""), target));  // number 1, true, null...
    EXPECT_TRUE(DispatchPageRequest(Request("LockApp", " 1"), target));
    EXPECT_TRUE(DispatchPageRequest(Request("LockApp", "1 "), target));
    EXPECT_TRUE(DispatchPageRequest(Request("LockApp", "01"), target));
    EXPECT_TRUE(DispatchPageRequest(Request("LockApp", "yes"), target));
}

TEST(PageRequestTest, LockAppWithoutItsArgumentDoesNothing) {
    StrictMock<MockTarget> target;  // any call fails the test
    EXPECT_TRUE(DispatchPageRequest(Request("LockApp"), target));
}

TEST(PageRequestTest, LockAppReadsOnlyTheSecondEntry) {
    StrictMock<MockTarget> target;
    EXPECT_CALL(target, SetLockState(LockState::Locked));
    EXPECT_TRUE(DispatchPageRequest({"LockApp", "1", "0"}, target));
}

TEST(PageRequestTest, InitStoresThePortWhenGivenAndAlwaysReadsOnce) {
    StrictMock<MockTarget> target;
    {
        InSequence order;
        EXPECT_CALL(target, SaveCardPort(3));
        EXPECT_CALL(target, StartCardReading(CardMode::Once));
        EXPECT_CALL(target, SaveCardPort(0));  // number 3 travels as ""
        EXPECT_CALL(target, StartCardReading(CardMode::Once));
        EXPECT_CALL(target, SaveCardPort(0));  // non-numeric text
        EXPECT_CALL(target, StartCardReading(CardMode::Once));
        EXPECT_CALL(target, SaveCardPort(-4));
        EXPECT_CALL(target, StartCardReading(CardMode::Once));
        EXPECT_CALL(target, StartCardReading(CardMode::Once));  // no argument, or two in the page
    }
    DispatchPageRequest(Request("Init", "3"), target);
    DispatchPageRequest(Request("Init", ""), target);
    DispatchPageRequest(Request("Init", "COM3"), target);
    DispatchPageRequest(Request("Init", " -4th"), target);
    DispatchPageRequest(Request("Init"), target);
}

TEST(PageRequestTest, TheOtherRequestsMapToTheirActions) {
    StrictMock<MockTarget> target;
    {
        InSequence order;
        EXPECT_CALL(target, StopCardReading());
        EXPECT_CALL(target, StartCardReading(CardMode::Continuous));
        EXPECT_CALL(target, StartModelUpdate());
        EXPECT_CALL(target, AnswerCameraList());
        EXPECT_CALL(target, AnswerRemoteLogin());
        EXPECT_CALL(target, AnswerClientInfo());
    }
    EXPECT_TRUE(DispatchPageRequest(Request("Close"), target));
    EXPECT_TRUE(DispatchPageRequest(Request("ReadCard"), target));
    EXPECT_TRUE(DispatchPageRequest(Request("Update"), target));
    EXPECT_TRUE(DispatchPageRequest(Request("GetVCamList"), target));
    EXPECT_TRUE(DispatchPageRequest(Request("GetIsRemoteLogin"), target));
    EXPECT_TRUE(DispatchPageRequest(Request("GetClientInfo"), target));
}

TEST(PageRequestTest, ArgumentsOfTheOtherRequestsAreIgnored) {
    StrictMock<MockTarget> target;
    EXPECT_CALL(target, StartCardReading(CardMode::Continuous));
    EXPECT_CALL(target, StartModelUpdate());
    DispatchPageRequest(Request("ReadCard", "5"), target);
    DispatchPageRequest(Request("Update", "1"), target);
}

TEST(PageRequestTest, UnknownAndEmptyRequestsDoNothing) {
    StrictMock<MockTarget> target;
    EXPECT_FALSE(DispatchPageRequest({}, target));
    EXPECT_FALSE(DispatchPageRequest(Request(""), target));
    EXPECT_FALSE(DispatchPageRequest(Request("lockapp", "1"), target));  // case-sensitive
    EXPECT_FALSE(DispatchPageRequest(Request("LockApp ", "1"), target));
    EXPECT_FALSE(DispatchPageRequest(Request("GetVCamListX"), target));
    EXPECT_FALSE(DispatchPageRequest(Request("toString"), target));
    EXPECT_FALSE(DispatchPageRequest(Request(QString::fromUtf8("Close\0", 6)), target));
}

}  // namespace
