#pragma once
#include <QImage>
#include <QWidget>

namespace chm {

// The header picture of the options and report dialogs: the program's picture filling the
// control's height, laid from its left edge, its right part cut off where the control ends.
// Screen readers read it as the dialog's caption, which it follows.
class HeaderPicture : public QWidget {
    Q_OBJECT

public:
    explicit HeaderPicture(QWidget* parent = nullptr);
    const QImage& Picture() const { return picture_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QImage picture_;
};

}  // namespace chm
