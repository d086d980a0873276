#pragma once
#include <QFont>
#include <QImage>
#include <QRect>
#include <QString>
#include <cstdint>

#include "engine/task_progress.h"

class QPainter;

namespace chm {

// Where the text of a progress goes: a list row's status cell centres it only when it fits
// and otherwise starts it at the left; the overall bar always centres it.
enum class ProgressTextLayout { kCell, kBar };

// Windows COLORREF values (0x00BBGGRR) of the progress look.
constexpr uint32_t kProgressFrameCancelled = 0x71CED6;
constexpr uint32_t kProgressFrameFailed = 0xB8C5E1;
constexpr uint32_t kProgressFrameNormal = 0xE7D9C3;
constexpr uint32_t kProgressFillCancelled = 0x99F7FF;
constexpr uint32_t kProgressFillFailed = 0xCDDDFF;

// The strip images shared by every progress drawing, loaded once.
struct ProgressImages {
    QImage done;
    QImage remaining;
    QImage highlight;  // the running highlight of the overall bar

    static const ProgressImages& Get();
};

// "Tahoma" 13 px, created once.
const QFont& ProgressFont();

// Width of the done part in an inside `inside_width` pixels wide: all of it only when done
// equals total, else done x (inside width - 2) / total + 1, and 0 when nothing is done.
int ProgressDoneWidth(uint32_t done, uint32_t total, int inside_width);

// "Cancelled", "Failed" or the truncated percentage ("33%"); empty when total is 0.
QString ProgressText(const TaskProgress& progress);

// Draws one progress into `rect`: nothing when its total is 0, when the rectangle is clipped
// away, or when the inside of the frame is 2 pixels wide or less. A `highlight_offset` of 0 or
// more draws the running highlight with its right edge that far into the inside (the overall
// bar's animation); it is drawn only while the work runs (not cancelled, failed or complete).
void DrawTaskProgress(const TaskProgress& progress, QPainter& painter, const QRect& rect,
                      ProgressTextLayout layout = ProgressTextLayout::kCell, int highlight_offset = -1);

}  // namespace chm
