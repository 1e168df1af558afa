#include "ui/SkinValues.h"

#include <gtest/gtest.h>

using vorn::SkinValues;

TEST(SkinValues, ColoursAreAlphaFirstHex) {
    const auto border = SkinValues::ParseColor(QStringLiteral("#FF575964"));
    ASSERT_TRUE(border);
    EXPECT_EQ(border->rgba(), 0xFF575964u);
    const auto bar = SkinValues::ParseColor(QStringLiteral("#ff6c9df7"));
    ASSERT_TRUE(bar);
    EXPECT_EQ(bar->rgba(), 0xFF6C9DF7u);
    const auto veil = SkinValues::ParseColor(QStringLiteral("0x80FFFFFF"));
    ASSERT_TRUE(veil);
    EXPECT_EQ(veil->alpha(), 0x80);
    // Six digits carry no alpha and mean an opaque colour, not an invisible one.
    const auto opaque = SkinValues::ParseColor(QStringLiteral("#6c9df7"));
    ASSERT_TRUE(opaque);
    EXPECT_EQ(opaque->rgba(), 0xFF6C9DF7u);
    EXPECT_EQ(SkinValues::ParseColor(QStringLiteral(" #FFFFFFFF "))->rgba(), 0xFFFFFFFFu);
}

TEST(SkinValues, MalformedColoursAreRefused) {
    for (const char* text :
         {"", "#", "red", "FF575964", "#12345", "#123456789", "#GG575964", "#-1234567", "0x"}) {
        EXPECT_FALSE(SkinValues::ParseColor(QString::fromLatin1(text))) << text;
    }
}

TEST(SkinValues, SizesQuadsAndRects) {
    EXPECT_EQ(*SkinValues::ParseSize(QStringLiteral("1270,717")), QSize(1270, 717));
    EXPECT_EQ(*SkinValues::ParseSize(QStringLiteral(" 4 , 4 ")), QSize(4, 4));
    EXPECT_FALSE(SkinValues::ParseSize(QStringLiteral("1270")));
    EXPECT_FALSE(SkinValues::ParseSize(QStringLiteral("1270,717,1")));
    EXPECT_FALSE(SkinValues::ParseSize(QStringLiteral("-1,5")));
    EXPECT_FALSE(SkinValues::ParseSize(QStringLiteral("a,b")));

    // The button group's inset lifts its buttons by one pixel: negative values are kept.
    EXPECT_EQ(*SkinValues::ParseQuad(QStringLiteral("0,-1,0,0")), QMargins(0, -1, 0, 0));
    EXPECT_EQ(*SkinValues::ParseQuad(QStringLiteral("0,0,0,32")), QMargins(0, 0, 0, 32));
    EXPECT_FALSE(SkinValues::ParseQuad(QStringLiteral("0,0,32")));
    EXPECT_FALSE(SkinValues::ParseQuad(QStringLiteral("0,0,0,x")));

    EXPECT_EQ(*SkinValues::ParseSourceRect(QStringLiteral("30,0,60,30")), QRect(30, 0, 30, 30));
    EXPECT_FALSE(SkinValues::ParseSourceRect(QStringLiteral("60,0,30,30")));  // right < left
    EXPECT_FALSE(SkinValues::ParseSourceRect(QStringLiteral("0,0,0,30")));    // empty
    EXPECT_FALSE(SkinValues::ParseSourceRect(QStringLiteral("-1,0,30,30")));

    EXPECT_EQ(SkinValues::ParseBool(QStringLiteral("FALSE")), false);
    EXPECT_EQ(SkinValues::ParseBool(QStringLiteral("true")), true);
    EXPECT_FALSE(SkinValues::ParseBool(QStringLiteral("yes")));
    EXPECT_FALSE(SkinValues::ParseInt(QStringLiteral("12px")));
}

TEST(SkinValues, ImageReferences) {
    const auto full =
        SkinValues::ParseImage(QStringLiteral("file='default/_A0_min.png' source='30,0,60,30'"));
    ASSERT_TRUE(full);
    EXPECT_EQ(full->file, QStringLiteral("default/_A0_min.png"));
    EXPECT_EQ(full->source, QRect(30, 0, 30, 30));
    EXPECT_TRUE(full->dest.isNull());
    EXPECT_EQ(full->fade, 255);

    const auto bare = SkinValues::ParseImage(QStringLiteral("default/_A0_button.png"));
    ASSERT_TRUE(bare);
    EXPECT_EQ(bare->file, QStringLiteral("default/_A0_button.png"));
    EXPECT_TRUE(bare->source.isNull());

    const auto spaced = SkinValues::ParseImage(
        QStringLiteral("  source = '0,0,30,30'   file='a b.png' dest='1,1,29,29' fade='128' "
                       "corner='2,2,2,2'"));
    ASSERT_TRUE(spaced);
    EXPECT_EQ(spaced->file, QStringLiteral("a b.png"));
    EXPECT_EQ(spaced->dest, QRect(1, 1, 28, 28));
    EXPECT_EQ(spaced->fade, 128);

    for (const char* text :
         {"", "   ", "source='0,0,30,30'", "file='x.png' source='0,0,30'", "file='x.png",
          "file=x.png", "file='x.png' fade='300'", "file='x.png' source='30,0,0,30'"}) {
        EXPECT_FALSE(SkinValues::ParseImage(QString::fromLatin1(text))) << text;
    }
}

TEST(SkinValues, AlignmentWords) {
    const Qt::Alignment base = Qt::AlignLeft | Qt::AlignVCenter;
    EXPECT_EQ(SkinValues::ParseAlign(QStringLiteral("center"), base),
              Qt::AlignHCenter | Qt::AlignVCenter);
    EXPECT_EQ(SkinValues::ParseAlign(QStringLiteral("right,bottom"), base),
              Qt::AlignRight | Qt::AlignBottom);
    EXPECT_EQ(SkinValues::ParseAlign(QStringLiteral("Top  Center"), base),
              Qt::AlignHCenter | Qt::AlignTop);
    EXPECT_EQ(SkinValues::ParseAlign(QStringLiteral("sideways"), base), base);
}
