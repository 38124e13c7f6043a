#include "app/Formats.h"
#include "app/GradientFill.h"

#include <gtest/gtest.h>

using namespace zumo;

TEST(Formats, TimeAndBitrate) {
    EXPECT_EQ(TimeText(59), "00.59");
    EXPECT_EQ(TimeText(60), "01.00");
    EXPECT_EQ(TimeText(187), "03.07");
    EXPECT_EQ(TimeText(6000), "100.00");
    EXPECT_EQ(BitrateText(8000), "008 kb/s");
    EXPECT_EQ(BitrateText(320000), "320 kb/s");
}

TEST(Formats, PathsAndExtensions) {
    EXPECT_EQ(TitleOf("/music/My Song.v2.mp3"), "My Song.v2");
    EXPECT_EQ(LocationOf("/music/My Song.mp3"), "/music/");
    EXPECT_TRUE(HasMp3Extension("/a/b.MP3"));
    EXPECT_FALSE(HasMp3Extension("/a.mp3/b"));
}

TEST(Formats, TitleScrollWraps) {
    EXPECT_EQ(NextScrollPos(0, 100, 40), 1);
    EXPECT_EQ(NextScrollPos(100, 100, 40), -40);
    EXPECT_EQ(NextScrollPos(-40, 100, 40), -39);
}

TEST(Gradient, BandsOfA28PixelBitmap) {
    const QColor a(130, 132, 255), b(0, 0, 0);
    QImage image(245, 28, QImage::Format_RGB32);
    GradientFill(image, a, b, 1);
    int bands = 0;
    for (int i = 0; i < 256; ++i)
        if ((i + 1) * 28 / 256 > i * 28 / 256) ++bands;
    EXPECT_EQ(bands, 28);
    EXPECT_EQ(QColor(image.pixel(0, 0)), GradientBand(a, b, 9));
    EXPECT_EQ(QColor(image.pixel(0, 27)), b);
    QImage two(60, 20, QImage::Format_RGB32);
    GradientFill(two, a, b, 2);
    EXPECT_EQ(QColor(two.pixel(30, 19)), a); // the second segment runs back
    EXPECT_EQ(QColor(two.pixel(29, 19)), b);
}
