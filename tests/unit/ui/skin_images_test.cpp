#include "UiTestSupport.h"

#include <QImage>

// The committed title-bar images against what main.xml cuts out of them.
TEST(SkinImages, ButtonStripsHoldThreeStates) {
    for (const char* name : {"_A0_min.png", "_A0_max.png", "_A0_huanyuan.png", "_A0_close.png"}) {
        const QImage strip(uitest::SourceSkinDir() + QStringLiteral("default/") +
                           QString::fromLatin1(name));
        ASSERT_FALSE(strip.isNull()) << name;
        EXPECT_EQ(strip.size(), QSize(90, 30)) << name;
        EXPECT_TRUE(strip.hasAlphaChannel()) << name;
        // The states differ in their background, not in their glyph.
        const QRgb normal = strip.pixel(2, 2), hot = strip.pixel(32, 2),
                   pushed = strip.pixel(62, 2);
        EXPECT_EQ(qAlpha(normal), 0) << name << ": the normal state shows the title bar through";
        EXPECT_NE(hot, normal) << name;
        EXPECT_NE(pushed, hot) << name;
        // A white glyph sits in the middle part of each state.
        for (int state = 0; state < 3; ++state) {
            int white = 0;
            for (int y = 8; y < 22; ++y) {
                for (int x = 8; x < 22; ++x) {
                    const QRgb p = strip.pixel(state * 30 + x, y);
                    white += (qAlpha(p) > 200 && qRed(p) > 240 && qGreen(p) > 240 && qBlue(p) > 240)
                                 ? 1
                                 : 0;
                }
            }
            EXPECT_GE(white, 5) << name << " state " << state;
        }
    }
    const QImage button(uitest::SourceSkinDir() + QStringLiteral("default/_A0_button.png"));
    EXPECT_EQ(button.height(), 30);
    EXPECT_EQ(button.width() % 3, 0);
    const QImage navClose(uitest::SourceSkinDir() +
                          QStringLiteral("default/_A0_nav_btn_close.png"));
    EXPECT_EQ(navClose.size(), QSize(48, 16));
}
