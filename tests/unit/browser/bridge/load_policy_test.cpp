#include "browser/bridge/LoadPolicy.h"

#include <gtest/gtest.h>

using vorn::IsNetworkFailure;
using vorn::RetryPause;
using vorn::StartUrlFromSetting;

TEST(StartAddress, ReadAsAPersonTypedIt) {
    EXPECT_EQ(StartUrlFromSetting("exam.school.cn/login"), QUrl("http://exam.school.cn/login"));
    EXPECT_EQ(StartUrlFromSetting(" 127.0.0.1:8080/x "), QUrl("http://127.0.0.1:8080/x"));
    EXPECT_EQ(StartUrlFromSetting("https://exam.example.cn/a?b=1"),
              QUrl("https://exam.example.cn/a?b=1"));
    EXPECT_EQ(StartUrlFromSetting("vorn://home/"), QUrl("vorn://home/"));
    // Nothing, and text that is no address at all, both give no URL; the caller knows which.
    EXPECT_TRUE(StartUrlFromSetting("").isEmpty());
    EXPECT_TRUE(StartUrlFromSetting("exam school").isEmpty());
}

TEST(FailedLoads, OnlyNetworkFailuresHealByThemselves) {
    for (int code : {-7, -100, -101, -102, -105, -106, -109, -118, -324})
        EXPECT_TRUE(IsNetworkFailure(code)) << code;
    // Aborted, certificate and TLS failures, an address refused or unparsable, a missing file.
    for (int code : {-3, -6, -107, -113, -200, -202, -300, -301, 404, 0})
        EXPECT_FALSE(IsNetworkFailure(code)) << code;
}

TEST(FailedLoads, PauseDoublesUpToAMinute) {
    std::vector<long> pauses;
    for (int attempt = 0; attempt < 9; ++attempt)
        pauses.push_back(static_cast<long>(RetryPause(attempt).count()));
    EXPECT_EQ(pauses, (std::vector<long>{2, 4, 8, 16, 32, 60, 60, 60, 60}));
    EXPECT_EQ(RetryPause(-1).count(), 2);
    EXPECT_EQ(RetryPause(1000).count(), 60);
}
