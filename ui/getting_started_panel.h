#pragma once
#include <QImage>
#include <QWidget>

#include "ui/image_button.h"

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

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void PlaceButtons();

    ImageSet checked_;
    ImageSet unchecked_;
    QImage steps_[3];
    VeImageButton* show_list_;
    VeImageButton* show_at_start_;
    bool show_at_start_on_ = true;
};

}  // namespace chm
