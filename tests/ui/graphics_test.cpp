#include <gtest/gtest.h>

#include <QPainter>

#include "ui/gfx/color_ref.h"
#include "ui/gfx/images.h"

namespace chm {
namespace {

TEST(ColorRef, ByteOrderIsSwappedOnce) {
    EXPECT_EQ(ColorRefToRgb(0xEFE2CE), qRgb(0xCE, 0xE2, 0xEF));
    EXPECT_EQ(ColorRefToRgb(0x71CED6), qRgb(0xD6, 0xCE, 0x71));
    EXPECT_EQ(ColorFromColorRef(0xE7D2B4), QColor(0xB4, 0xD2, 0xE7));
}

TEST(ColorRef, RgbValuesKeepTheirOrder) { EXPECT_EQ(Rgb(0x8D, 0x91, 0x99), qRgb(0x8D, 0x91, 0x99)); }

class ProgramImages : public ::testing::Test {};

TEST_F(ProgramImages, StripsLoadFromTheResources) {
    for (const char* name : {"progress_done.png", "progress_remaining.png", "progress_highlight.png"}) {
        const QImage image = gfx::LoadResourceImage(QString::fromLatin1(name));
        ASSERT_FALSE(image.isNull()) << name;
        EXPECT_EQ(image.height(), 18) << name;
        EXPECT_GE(image.width(), 3) << name;
    }
}

TEST_F(ProgramImages, UnknownNameGivesNullImage) {
    EXPECT_TRUE(gfx::LoadResourceImage(QStringLiteral("no_such_image.png")).isNull());
}

TEST_F(ProgramImages, StripsHaveOnePixelCapsAndAUniformMiddle) {
    for (const char* name : {"progress_done.png", "progress_remaining.png"}) {
        const QImage strip = gfx::LoadResourceImage(QString::fromLatin1(name));
        ASSERT_FALSE(strip.isNull());
        const int last = strip.width() - 1;
        bool caps_differ = false;
        for (int y = 0; y < strip.height(); ++y) {
            for (int x = 2; x < last; ++x) EXPECT_EQ(strip.pixel(x, y), strip.pixel(1, y)) << name << " " << x << "," << y;
            caps_differ = caps_differ || strip.pixel(0, y) != strip.pixel(1, y) || strip.pixel(last, y) != strip.pixel(1, y);
            EXPECT_EQ(qAlpha(strip.pixel(0, y)), 255);
        }
        EXPECT_TRUE(caps_differ) << name;
    }
}

class StripDrawing : public ::testing::Test {
protected:
    // A 4 x 3 strip with distinct columns: cap, middle, middle, cap.
    StripDrawing() : strip_(4, 3, QImage::Format_ARGB32_Premultiplied) {
        for (int y = 0; y < 3; ++y) {
            strip_.setPixel(0, y, qRgb(200, 0, 0));
            strip_.setPixel(1, y, qRgb(0, 100 + 20 * y, 0));
            strip_.setPixel(2, y, qRgb(0, 100 + 20 * y, 0));
            strip_.setPixel(3, y, qRgb(0, 0, 200));
        }
    }

    QImage Draw(int width, bool left_cap, bool right_cap) const {
        QImage target(width + 2, 3, QImage::Format_ARGB32_Premultiplied);
        target.fill(qRgb(255, 0, 255));
        QPainter painter(&target);
        gfx::DrawStrip(painter, strip_, QRect(1, 0, width, 3), left_cap, right_cap);
        return target;
    }

    QImage strip_;
};

TEST_F(StripDrawing, CapsStayOnePixelAndTheMiddleStretches) {
    const QImage out = Draw(20, true, true);
    for (int y = 0; y < 3; ++y) {
        EXPECT_EQ(out.pixel(0, y), qRgb(255, 0, 255));
        EXPECT_EQ(out.pixel(1, y), qRgb(200, 0, 0));
        for (int x = 2; x < 20; ++x) EXPECT_EQ(out.pixel(x, y), strip_.pixel(1, y)) << x << "," << y;
        EXPECT_EQ(out.pixel(20, y), qRgb(0, 0, 200));
        EXPECT_EQ(out.pixel(21, y), qRgb(255, 0, 255));
    }
}

TEST_F(StripDrawing, UnwantedCapsAreCoveredByTheMiddle) {
    const QImage out = Draw(10, false, false);
    for (int x = 1; x <= 10; ++x) EXPECT_EQ(out.pixel(x, 1), strip_.pixel(1, 1)) << x;
    const QImage left_only = Draw(10, true, false);
    EXPECT_EQ(left_only.pixel(1, 1), qRgb(200, 0, 0));
    EXPECT_EQ(left_only.pixel(10, 1), strip_.pixel(1, 1));
}

TEST_F(StripDrawing, OnePixelWideTargetGetsOnlyItsLeftCap) {
    const QImage out = Draw(1, true, true);
    EXPECT_EQ(out.pixel(1, 0), qRgb(200, 0, 0));
    EXPECT_EQ(out.pixel(2, 0), qRgb(255, 0, 255));
}

TEST_F(StripDrawing, HeightStretchesToTheTarget) {
    QImage target(10, 30, QImage::Format_ARGB32_Premultiplied);
    target.fill(qRgb(255, 0, 255));
    {
        QPainter painter(&target);
        gfx::DrawStrip(painter, strip_, target.rect(), true, true);
    }
    EXPECT_EQ(target.pixel(0, 0), qRgb(200, 0, 0));
    EXPECT_EQ(target.pixel(0, 29), qRgb(200, 0, 0));
    EXPECT_EQ(target.pixel(5, 1), qRgb(0, 100, 0));
    EXPECT_EQ(target.pixel(5, 28), qRgb(0, 140, 0));
}

TEST(BlendWithColor, StrengthRunsFromTheImageToTheColour) {
    QImage image(2, 1, QImage::Format_ARGB32);
    image.setPixel(0, 0, qRgba(0, 100, 200, 255));
    image.setPixel(1, 0, qRgba(40, 40, 40, 128));
    QImage none = image, full = image, half = image;
    gfx::BlendWithColor(none, Qt::white, 0);
    gfx::BlendWithColor(full, Qt::white, 255);
    gfx::BlendWithColor(half, Qt::white, 128);
    EXPECT_EQ(none.pixel(0, 0), image.pixel(0, 0));
    EXPECT_EQ(full.pixel(0, 0), qRgba(255, 255, 255, 255));
    EXPECT_EQ(half.pixel(0, 0), qRgba(128, 178, 228, 255));
    EXPECT_EQ(qAlpha(full.pixel(1, 0)), 128);
    EXPECT_EQ(half.format(), QImage::Format_ARGB32);
}

TEST(Desaturate, PixelsBecomeTheGreyOfTheirLuminance) {
    QImage image(3, 1, QImage::Format_ARGB32);
    image.setPixel(0, 0, qRgba(255, 0, 0, 255));
    image.setPixel(1, 0, qRgba(0, 255, 0, 255));
    image.setPixel(2, 0, qRgba(0, 0, 255, 64));
    gfx::Desaturate(image);
    EXPECT_EQ(image.pixel(0, 0), qRgba(76, 76, 76, 255));
    EXPECT_EQ(image.pixel(1, 0), qRgba(150, 150, 150, 255));
    EXPECT_EQ(image.pixel(2, 0), qRgba(29, 29, 29, 64));
}

TEST(Desaturate, GreyedButtonLookIsDesaturatedThenHalfWayToWhite) {
    QImage image(1, 1, QImage::Format_ARGB32_Premultiplied);
    image.setPixel(0, 0, qRgb(0, 0, 255));
    gfx::Desaturate(image);
    gfx::BlendWithColor(image, Qt::white, 128);
    EXPECT_EQ(image.pixel(0, 0), qRgb(142, 142, 142));
    EXPECT_EQ(image.format(), QImage::Format_ARGB32_Premultiplied);
}

}  // namespace
}  // namespace chm
