#include "services/probes/Displays.h"

#include <gtest/gtest.h>

using vorn::CountDisplays;
using vorn::platform::MonitorArea;

TEST(Displays, SideBySideMirroredAndSingle) {
    EXPECT_EQ(CountDisplays({{0, 0, 1920, 1080}, {1920, 0, 1280, 1024}}), 2);
    EXPECT_EQ(CountDisplays({{0, 0, 1920, 1080}, {0, 1080, 1920, 1080}}), 2);
    // Mirrored: two outputs on one area, also when one runs a smaller mode of it.
    EXPECT_EQ(CountDisplays({{0, 0, 1920, 1080}, {0, 0, 1920, 1080}}), 1);
    EXPECT_EQ(CountDisplays({{0, 0, 1280, 1024}, {0, 0, 1920, 1080}}), 1);
    EXPECT_EQ(CountDisplays({{0, 0, 1280, 1024}}), 1);
    // Overlapping but not contained: two monitors.
    EXPECT_EQ(CountDisplays({{0, 0, 1920, 1080}, {960, 0, 1920, 1080}}), 2);
    EXPECT_EQ(CountDisplays({}), 0);
    EXPECT_EQ(CountDisplays({{0, 0, 0, 0}, {0, 0, 1024, 768}}), 1);
}
