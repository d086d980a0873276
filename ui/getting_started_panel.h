#pragma once
#include <QImage>
#include <QStringList>
#include <QWidget>
#include <functional>

#include "ui/image_button.h"

class QMimeData;

namespace chm {

// The getting-started page that can stand in the file list's place: what the three steps of
// a conversion are, a button that puts the file list in its place (111), and a check box
// drawn from pictures (112) that says whether the page greets the user at start-up.
class GettingStartedPanel : public QWidget {
    Q_OBJECT

public:
    static constexpr int kShowListId = 111;
    static constexpr int kShowAtStartId = 112;

    explicit GettingStartedPanel(QWidget* parent = nullptr);

    VeImageButton* ShowListButton() const { return show_list_; }
    VeImageButton* ShowAtStartButton() const { return show_at_start_; }
    // The check box's look: ticked while the page is shown at start-up.
    void SetShowAtStart(bool on);
    bool ShowsAtStart() const { return show_at_start_on_; }
    bool IsComplete() const;
    // Files and folders dragged over the page are taken, as links, when `accepts` says so.
    void SetDropCheck(std::function<bool(const QMimeData*)> accepts);

signals:
    // Local files and folders dropped on the page, in drop order.
    void PathsDropped(const QStringList& paths);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void PlaceButtons();

    ImageSet checked_;
    ImageSet unchecked_;
    QImage steps_[3];
    VeImageButton* show_list_;
    VeImageButton* show_at_start_;
    bool show_at_start_on_ = true;
    std::function<bool(const QMimeData*)> accepts_drop_;
};

}  // namespace chm
