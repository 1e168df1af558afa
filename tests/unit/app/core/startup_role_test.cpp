#include "app/core/StartupRole.h"

#include <gtest/gtest.h>

using vorn::DecideStartupRole;
using vorn::StartupRole;

TEST(StartupRole, RegistrationOnlyAsFirstArgumentInAnyCase) {
    EXPECT_EQ(DecideStartupRole({"vornclient", "/createprotocol"}), StartupRole::RegisterProtocol);
    EXPECT_EQ(DecideStartupRole({"vornclient", "/CreateProtocol"}), StartupRole::RegisterProtocol);
    EXPECT_EQ(DecideStartupRole({"vornclient", "/CREATEPROTOCOL", "x"}),
              StartupRole::RegisterProtocol);
}

TEST(StartupRole, RequestKeyOnlyAsFirstArgumentExactly) {
    EXPECT_EQ(DecideStartupRole({"vornclient", "--request-key"}), StartupRole::PrintRequestKey);
    EXPECT_EQ(DecideStartupRole({"vornclient", "--request-key", "x"}),
              StartupRole::PrintRequestKey);
    EXPECT_EQ(DecideStartupRole({"vornclient", "--REQUEST-KEY"}), StartupRole::Main);
    EXPECT_EQ(DecideStartupRole({"vornclient", "x", "--request-key"}), StartupRole::Main);
    EXPECT_EQ(DecideStartupRole({"vornclient", "vornapp://x?--request-key"}), StartupRole::Main);
}

TEST(StartupRole, EverythingElseStartsTheClient) {
    EXPECT_EQ(DecideStartupRole({"vornclient"}), StartupRole::Main);
    EXPECT_EQ(DecideStartupRole({}), StartupRole::Main);
    EXPECT_EQ(DecideStartupRole({"vornclient", "x", "/createprotocol"}), StartupRole::Main);
    EXPECT_EQ(DecideStartupRole({"vornclient", "vornapp://open?x=1"}), StartupRole::Main);
    EXPECT_EQ(DecideStartupRole({"vornclient", "/createprotocol2"}), StartupRole::Main);
    EXPECT_EQ(DecideStartupRole({"vornclient", "createprotocol"}), StartupRole::Main);
}

TEST(StartupRole, VersionAndHelpOnlyAsFirstArgument) {
    EXPECT_EQ(DecideStartupRole({"vornclient", "--version"}), StartupRole::PrintVersion);
    EXPECT_EQ(DecideStartupRole({"vornclient", "--help"}), StartupRole::PrintHelp);
    EXPECT_EQ(DecideStartupRole({"vornclient", "vornapp://x", "--help"}), StartupRole::Main);
    EXPECT_EQ(DecideStartupRole({"vornclient", "--HELP"}), StartupRole::Main);
}
