#pragma once
#include <QDialog>
#include <QImage>
#include <QRect>
#include <QString>
#include <QStringList>
#include <cstdint>

class QPushButton;
class QFrame;

namespace chm {

class VeWizardFolderPage;
class VeWizardSearchPage;
class VeWizardWelcomePage;

// Runs "Add by Search Wizard" modally over `owner` and returns the checked paths of its
// search, in display order, when it ends with Finish; an empty list when it is cancelled or
// nothing is checked. The caller adds the paths to the file list; the wizard never does.
QStringList RunSearchWizard(QWidget* owner, QString* searched_folder = nullptr);

// The banner (control 1297): white, the wizard's pictures (on the welcome page one more), and
// the page's title in black "Tahoma" 13 px bold on one line, cut with an ellipsis at the end.
class VeSearchWizardBanner : public QWidget {
    Q_OBJECT

public:
    static constexpr int kMargin = 12;  // around the pictures and before the title

    explicit VeSearchWizardBanner(QWidget* parent);

    void SetPage(int page, const QString& title);
    const QString& Title() const { return title_; }
    // The title as drawn: elided to the room between the left margin and the small picture.
    QString ShownTitle() const;
    QRect TitleRect() const;
    QRect SmallPictureRect() const;
    // Null rectangle except on the welcome page.
    QRect WelcomePictureRect() const;
    const QImage& SmallPicture() const { return small_; }
    const QImage& WelcomePicture() const { return welcome_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int page_ = 0;
    QString title_;
    QImage small_;
    QImage welcome_;
};

// "Add by Search Wizard": a modal dialog of three pages (welcome, folder, search). The search
// page runs the folder search; Finish collects the checked rows' paths. Its rectangle is
// remembered for the next opening in the same run of the program.
class VeSearchWizard : public QDialog {
    Q_OBJECT

public:
    static constexpr int kWelcomePage = 0;
    static constexpr int kFolderPage = 1;
    static constexpr int kSearchPage = 2;

    static const QString& Caption();                    // "Add by Search Wizard"
    static QString TitleOf(int page);                   // the banner's title on each page
    static const QString& CompletedTitle();             // "Step 2 of 2 - Searching... Completed"
    static const QString& AbortedTitle();               // "Step 2 of 2 - Searching... Aborted"
    static const QString& AbortQuestion();              // "Abort search process?"

    // The window rectangle (frame included) kept from the last wizard closed with OK or Cancel;
    // empty before.
    static QRect RememberedRect();
    // As at the start of the program: the next wizard is centred on its owner.
    static void ForgetRememberedRect();

    explicit VeSearchWizard(QWidget* owner);
    ~VeSearchWizard() override;

    int PageIndex() const { return page_; }
    // The page change: n is clamped to 0..2; nothing happens when it is the current page.
    void SetPage(int n);
    // The checked paths, filled by Finish.
    const QStringList& Output() const { return output_; }

    VeSearchWizardBanner* Banner() const { return banner_; }
    QPushButton* BackButton() const { return back_; }
    QPushButton* NextButton() const { return next_; }
    QPushButton* CancelButton() const { return cancel_; }
    QWidget* PageArea() const { return page_area_; }
    VeWizardWelcomePage* WelcomePage() const { return welcome_page_; }
    VeWizardFolderPage* FolderPage() const { return folder_page_; }
    VeWizardSearchPage* SearchPage() const { return search_page_; }
    // True while the abort question is open.
    bool IsAsking() const { return asking_; }

public slots:
    void Back();
    void Next();
    // Finish: collects the checked paths and closes with OK.
    void accept() override;
    // Cancel/Abort, Esc and the close box: while a search runs it asks first and stays open.
    void reject() override;

protected:
    // The search page's forwarded end of a run.
    void customEvent(QEvent* event) override;

private:
    QWidget* Page(int n) const;
    bool ValidateFolder();
    void OnSearchEnded(uintptr_t code, int rows);
    void SetDefaultButton(QPushButton* button);
    // What the dialog manager calls an enabled dialog: no modal box of ours stands over it.
    bool IsDialogEnabled() const;
    void PlaceWindow(QWidget* owner);
    void Close(int result);

    int page_ = kWelcomePage;
    QStringList output_;
    bool asking_ = false;
    VeSearchWizardBanner* banner_ = nullptr;
    QFrame* top_line_ = nullptr;
    QFrame* bottom_line_ = nullptr;
    QPushButton* back_ = nullptr;
    QPushButton* next_ = nullptr;
    QPushButton* cancel_ = nullptr;
    QWidget* page_area_ = nullptr;
    VeWizardWelcomePage* welcome_page_ = nullptr;
    VeWizardFolderPage* folder_page_ = nullptr;
    VeWizardSearchPage* search_page_ = nullptr;
};

}  // namespace chm
