#include <gtest/gtest.h>

#include <QPainter>

#include "engine/task_progress.h"
#include "ui/gfx/color_ref.h"
#include "ui/task_progress_draw.h"

namespace chm {
namespace {

constexpr QRgb kUntouched = qRgb(255, 0, 255);

class ProgressDrawing : public ::testing::Test {
protected:
    static QImage Render(const TaskProgress& progress, int width, int height,
                         ProgressTextLayout layout = ProgressTextLayout::kCell, int highlight = -1) {
        QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
        image.fill(kUntouched);
        QPainter painter(&image);
        DrawTaskProgress(progress, painter, image.rect(), layout, highlight);
        return image;
    }

    // What a drawing with a flat fill looks like: frame, fill, and the text placed by `flags`.
    static QImage FlatReference(int width, int height, uint32_t frame, uint32_t fill, const QString& text, int flags) {
        QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
        image.fill(ColorFromColorRef(frame));
        QPainter painter(&image);
        painter.fillRect(image.rect().adjusted(1, 1, -1, -1), ColorFromColorRef(fill));
        painter.setFont(ProgressFont());
        painter.setPen(Qt::black);
        painter.drawText(image.rect(), flags | Qt::AlignVCenter | Qt::TextSingleLine, text);
        return image;
    }

    static void ExpectFrame(const QImage& image, QRgb color) {
        for (int x = 0; x < image.width(); ++x) {
            EXPECT_EQ(image.pixel(x, 0), color) << x;
            EXPECT_EQ(image.pixel(x, image.height() - 1), color) << x;
        }
        for (int y = 0; y < image.height(); ++y) {
            EXPECT_EQ(image.pixel(0, y), color) << y;
            EXPECT_EQ(image.pixel(image.width() - 1, y), color) << y;
        }
    }

    static bool AllUntouched(const QImage& image) {
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                if (image.pixel(x, y) != kUntouched) return false;
        return true;
    }

    // Rows 1 and 18 of a 20-pixel-high drawing lie above and below the text.
    static QRgb Done(int column, int row) { return ProgressImages::Get().done.pixel(column, row); }
    static QRgb Remaining(int column, int row) { return ProgressImages::Get().remaining.pixel(column, row); }
    static int LastStripColumn() { return ProgressImages::Get().done.width() - 1; }

    TaskProgress progress_;
};

TEST_F(ProgressDrawing, NothingAtTotalZero) {
    EXPECT_TRUE(AllUntouched(Render(progress_, 102, 20)));
    EXPECT_EQ(ProgressText(progress_), QString());
}

TEST_F(ProgressDrawing, NothingWhenTheInsideIsTwoPixelsOrLess) {
    progress_.Reset(3);
    progress_.Advance(1);
    EXPECT_TRUE(AllUntouched(Render(progress_, 4, 20)));
    EXPECT_TRUE(AllUntouched(Render(progress_, 3, 20)));
    EXPECT_FALSE(AllUntouched(Render(progress_, 5, 20)));
}

TEST_F(ProgressDrawing, NothingWhenTheRectangleIsClippedAway) {
    progress_.Reset(3);
    QImage image(200, 20, QImage::Format_ARGB32_Premultiplied);
    image.fill(kUntouched);
    QPainter painter(&image);
    painter.setClipRect(QRect(150, 0, 50, 20));
    DrawTaskProgress(progress_, painter, QRect(0, 0, 102, 20));
    painter.end();
    EXPECT_TRUE(AllUntouched(image));
}

TEST_F(ProgressDrawing, FrameColourFollowsTheState) {
    progress_.Reset(3);
    ExpectFrame(Render(progress_, 102, 20), qRgb(0xC3, 0xD9, 0xE7));
    progress_.Fail();
    ExpectFrame(Render(progress_, 102, 20), qRgb(0xE1, 0xC5, 0xB8));
    progress_.Cancel();  // a cancel wins over the failure that follows it
    ExpectFrame(Render(progress_, 102, 20), qRgb(0xD6, 0xCE, 0x71));
}

TEST_F(ProgressDrawing, DoneWidthFormula) {
    EXPECT_EQ(ProgressDoneWidth(1, 3, 100), 33);
    EXPECT_EQ(ProgressDoneWidth(0, 3, 100), 0);
    EXPECT_EQ(ProgressDoneWidth(2, 3, 100), 66);
    EXPECT_EQ(ProgressDoneWidth(99, 100, 100), 98);
    EXPECT_EQ(ProgressDoneWidth(100, 100, 100), 100);
    EXPECT_EQ(ProgressDoneWidth(1, 0, 100), 0);
    EXPECT_EQ(ProgressDoneWidth(4000000000u, 4000000001u, 1000), 998);
}

TEST_F(ProgressDrawing, OneOfThreeFillsThirtyThreePixels) {
    progress_.Reset(3);
    progress_.Advance(1);
    const QImage image = Render(progress_, 102, 20);
    for (int row : {1, 18}) {
        const int strip_row = row - 1;
        EXPECT_EQ(image.pixel(1, row), Done(0, strip_row));  // the done part's left cap
        for (int x = 2; x <= 33; ++x) EXPECT_EQ(image.pixel(x, row), Done(1, strip_row)) << x;
        for (int x = 34; x <= 99; ++x) EXPECT_EQ(image.pixel(x, row), Remaining(1, strip_row)) << x;
        EXPECT_EQ(image.pixel(100, row), Remaining(LastStripColumn(), strip_row));
    }
    EXPECT_EQ(ProgressText(progress_), QStringLiteral("33%"));
}

TEST_F(ProgressDrawing, FullWidthOnlyWhenDoneEqualsTotal) {
    progress_.Reset(100);
    progress_.Advance(99);
    const QImage almost = Render(progress_, 102, 20);
    EXPECT_EQ(almost.pixel(98, 1), Done(1, 0));
    EXPECT_EQ(almost.pixel(99, 1), Remaining(1, 0));
    EXPECT_EQ(almost.pixel(100, 1), Remaining(LastStripColumn(), 0));
    EXPECT_EQ(ProgressText(progress_), QStringLiteral("99%"));

    progress_.Complete();
    const QImage complete = Render(progress_, 102, 20);
    EXPECT_EQ(complete.pixel(1, 1), Done(0, 0));
    EXPECT_EQ(complete.pixel(99, 1), Done(1, 0));
    EXPECT_EQ(complete.pixel(100, 1), Done(LastStripColumn(), 0));  // the right cap only now
    EXPECT_EQ(ProgressText(progress_), QStringLiteral("100%"));
}

TEST_F(ProgressDrawing, NothingDoneShowsTheRemainingStripWithBothCaps) {
    progress_.Reset(5);
    const QImage image = Render(progress_, 102, 20);
    EXPECT_EQ(image.pixel(1, 1), Remaining(0, 0));
    EXPECT_EQ(image.pixel(2, 1), Remaining(1, 0));
    EXPECT_EQ(image.pixel(100, 1), Remaining(LastStripColumn(), 0));
    EXPECT_EQ(ProgressText(progress_), QStringLiteral("0%"));
}

TEST_F(ProgressDrawing, PercentIsTruncated) {
    progress_.Reset(3);
    progress_.Advance(2);
    EXPECT_EQ(ProgressText(progress_), QStringLiteral("66%"));
    progress_.Reset(1000);
    progress_.Advance(999);
    EXPECT_EQ(ProgressText(progress_), QStringLiteral("99%"));
}

TEST_F(ProgressDrawing, FailedShowsFailedOnTheFailedFillWhateverTheDoneCount) {
    const int flags = Qt::AlignHCenter;
    const QImage expected = FlatReference(102, 20, kProgressFrameFailed, kProgressFillFailed, "Failed", flags);
    for (int done : {0, 2, 3}) {
        TaskProgress progress;
        progress.Reset(3);
        progress.Advance(done);
        progress.Fail();
        EXPECT_EQ(ProgressText(progress), QStringLiteral("Failed"));
        const QImage image = Render(progress, 102, 20);
        EXPECT_EQ(image, expected) << "done " << done;
        EXPECT_EQ(image.pixel(1, 1), qRgb(0xFF, 0xDD, 0xCD));
    }
}

TEST_F(ProgressDrawing, CancelledShowsCancelledOnTheCancelledFill) {
    progress_.Reset(3);
    progress_.Advance(1);
    progress_.Cancel();
    EXPECT_EQ(ProgressText(progress_), QStringLiteral("Cancelled"));
    const QImage expected =
        FlatReference(102, 20, kProgressFrameCancelled, kProgressFillCancelled, "Cancelled", Qt::AlignHCenter);
    EXPECT_EQ(Render(progress_, 102, 20), expected);
    EXPECT_EQ(expected.pixel(1, 1), qRgb(0xFF, 0xF7, 0x99));
}

TEST_F(ProgressDrawing, CellTextThatDoesNotFitStartsAtTheLeft) {
    progress_.Reset(3);
    progress_.Cancel();
    const QImage cell = Render(progress_, 24, 20, ProgressTextLayout::kCell);
    EXPECT_EQ(cell, FlatReference(24, 20, kProgressFrameCancelled, kProgressFillCancelled, "Cancelled", Qt::AlignLeft));
    EXPECT_NE(cell, FlatReference(24, 20, kProgressFrameCancelled, kProgressFillCancelled, "Cancelled", Qt::AlignHCenter));
}

TEST_F(ProgressDrawing, BarTextIsAlwaysCentred) {
    progress_.Reset(3);
    progress_.Cancel();
    const QImage bar = Render(progress_, 24, 20, ProgressTextLayout::kBar);
    EXPECT_EQ(bar, FlatReference(24, 20, kProgressFrameCancelled, kProgressFillCancelled, "Cancelled", Qt::AlignHCenter));
}

TEST_F(ProgressDrawing, TextFontIsTahomaThirteenPixels) {
    EXPECT_EQ(ProgressFont().family(), QStringLiteral("Tahoma"));
    EXPECT_EQ(ProgressFont().pixelSize(), 13);
    EXPECT_FALSE(ProgressFont().bold());
}

TEST_F(ProgressDrawing, HighlightIsDrawnOnlyWhileRunning) {
    progress_.Reset(3);
    progress_.Advance(1);
    const QImage plain = Render(progress_, 102, 20, ProgressTextLayout::kBar);
    const QImage lit = Render(progress_, 102, 20, ProgressTextLayout::kBar, 30);
    EXPECT_NE(plain, lit);
    // The band ends at the offset: columns right of it are untouched.
    for (int x = 32; x < 100; ++x) EXPECT_EQ(lit.pixel(x, 1), plain.pixel(x, 1)) << x;
    EXPECT_EQ(lit.pixel(0, 1), plain.pixel(0, 1));  // never over the frame

    progress_.Complete();
    EXPECT_EQ(Render(progress_, 102, 20, ProgressTextLayout::kBar, 30), Render(progress_, 102, 20, ProgressTextLayout::kBar));
    progress_.Reset(3);
    progress_.Fail();
    EXPECT_EQ(Render(progress_, 102, 20, ProgressTextLayout::kBar, 30), Render(progress_, 102, 20, ProgressTextLayout::kBar));
}

}  // namespace
}  // namespace chm
