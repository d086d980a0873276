#include "ui/search_wizard.h"

#include <QApplication>
#include <QFontMetrics>
#include <QFrame>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <algorithm>

#include "platform/file_system.h"
#include "platform/message_port.h"
#include "search/folder_search_worker.h"
#include "ui/message_box.h"
#include "ui/qt_message_port.h"
#include "ui/search_result_list.h"
#include "ui/search_wizard_pages.h"
#include "ui/search_wizard_parts.h"

namespace chm {
namespace {

// Kept for the program's run only, never in the settings.
QRect& RememberedRectangle() {
    static QRect rect;
    return rect;
}

const QString& ProgramCaption() {
    static const QString caption = QStringLiteral("Tavorin Channel Merger");
    return caption;
}

// The first control inside `page` that takes the focus by Tab, or null.
QWidget* FirstFocusableChild(QWidget* page) {
    for (QWidget* widget = page->nextInFocusChain(); widget && widget != page; widget = widget->nextInFocusChain()) {
        if (!page->isAncestorOf(widget)) continue;
        if ((widget->focusPolicy() & Qt::TabFocus) && widget->isVisibleTo(page) && widget->isEnabled())
            return widget;
    }
    return nullptr;
}

}  // namespace

QStringList RunSearchWizard(QWidget* owner, QString* searched_folder) {
    VeSearchWizard wizard(owner ? owner->window() : nullptr);
    if (wizard.exec() != QDialog::Accepted) return {};
    if (searched_folder) *searched_folder = wizard.FolderPage()->FolderText();
    return wizard.Output();
}

// ---------------------------------------------------------------------------------------------
// VeSearchWizardBanner

VeSearchWizardBanner::VeSearchWizardBanner(QWidget* parent)
    : QWidget(parent),
      small_(LoadWizardImage(QStringLiteral("wizard_small.png"))),
      welcome_(LoadWizardImage(QStringLiteral("wizard_welcome.png"))) {
}

void VeSearchWizardBanner::SetPage(int page, const QString& title) {
    page_ = page;
    title_ = title;
    // The banner reads as its title; the welcome page draws none and reads as the wizard.
    setAccessibleName(title.isEmpty() ? window()->windowTitle() : title);
    update();
}

QRect VeSearchWizardBanner::SmallPictureRect() const {
    return {width() - kMargin - small_.width(), (height() - small_.height()) / 2, small_.width(), small_.height()};
}

QRect VeSearchWizardBanner::WelcomePictureRect() const {
    if (page_ != 0) return {};
    return {kMargin, (height() - welcome_.height()) / 2, welcome_.width(), welcome_.height()};
}

QRect VeSearchWizardBanner::TitleRect() const {
    const int left = page_ == 0 ? WelcomePictureRect().right() + 1 + kMargin : kMargin + 4;
    const int right = SmallPictureRect().left() - kMargin;
    return {left, 0, std::max(0, right - left), height()};
}

QString VeSearchWizardBanner::ShownTitle() const {
    return QFontMetrics(WizardTitleFont()).elidedText(title_, Qt::ElideRight, TitleRect().width());
}

void VeSearchWizardBanner::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::white);
    if (page_ == 0) painter.drawImage(WelcomePictureRect().topLeft(), welcome_);
    painter.drawImage(SmallPictureRect().topLeft(), small_);
    if (title_.isEmpty()) return;
    painter.setFont(WizardTitleFont());
    painter.setPen(Qt::black);
    painter.drawText(TitleRect(), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, ShownTitle());
}

// ---------------------------------------------------------------------------------------------
// VeSearchWizard

const QString& VeSearchWizard::Caption() {
    static const QString caption = QStringLiteral("Add by Search Wizard");
    return caption;
}

QString VeSearchWizard::TitleOf(int page) {
    if (page == kFolderPage) return QStringLiteral("Step 1 of 2 - Select a Folder");
    if (page == kSearchPage) return QStringLiteral("Step 2 of 2 - Searching... Please Wait");
    return QString();
}

const QString& VeSearchWizard::CompletedTitle() {
    static const QString title = QStringLiteral("Step 2 of 2 - Searching... Completed");
    return title;
}

const QString& VeSearchWizard::AbortedTitle() {
    static const QString title = QStringLiteral("Step 2 of 2 - Searching... Aborted");
    return title;
}

const QString& VeSearchWizard::AbortQuestion() {
    static const QString text = QStringLiteral("Abort search process?");
    return text;
}

QRect VeSearchWizard::RememberedRect() { return RememberedRectangle(); }

void VeSearchWizard::ForgetRememberedRect() { RememberedRectangle() = QRect(); }

VeSearchWizard::VeSearchWizard(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                         Qt::MSWindowsFixedSizeDialogHint) {
    setWindowTitle(Caption());
    setModal(true);
    setFont(DialogUnits::ShellDlgFont());
    const DialogUnits units(font());
    setFixedSize(units.X(348), units.Y(231));

    banner_ = new VeSearchWizardBanner(this);
    banner_->setGeometry(units.Rect(0, 0, 349, 34));
    // The etched lines are two pixels, a shadow above a highlight, whatever the units give.
    top_line_ = AddEtchedLine(this, QRect(0, units.Y(34), units.X(349), 2));
    bottom_line_ = AddEtchedLine(this, QRect(0, units.Y(204), units.X(349), 2));

    // The pages come first in the tab order, then the buttons.
    page_area_ = new QWidget(this);
    page_area_->setGeometry(units.Rect(7, 38, 334, 163));
    page_area_->setAccessibleName(QStringLiteral("Page area"));
    welcome_page_ = new VeWizardWelcomePage(page_area_);
    folder_page_ = new VeWizardFolderPage(page_area_);
    search_page_ = new VeWizardSearchPage(page_area_, this);
    for (QWidget* page : {Page(kWelcomePage), Page(kFolderPage), Page(kSearchPage)}) {
        page->setGeometry(page_area_->rect());
        page->hide();
    }
    welcome_page_->show();

    back_ = new QPushButton(QStringLiteral("< Back"), this);
    back_->setGeometry(units.Rect(186, 211, 50, 14));
    next_ = new QPushButton(QStringLiteral("Next >"), this);
    next_->setGeometry(units.Rect(236, 211, 50, 14));
    cancel_ = new QPushButton(QStringLiteral("Cancel"), this);
    cancel_->setGeometry(units.Rect(291, 211, 50, 14));
    connect(back_, &QPushButton::clicked, this, &VeSearchWizard::Back);
    connect(next_, &QPushButton::clicked, this, &VeSearchWizard::Next);
    connect(cancel_, &QPushButton::clicked, this, &VeSearchWizard::reject);

    // As on entering page 0: no title, Back disabled, Next the default button with the focus.
    banner_->SetPage(kWelcomePage, TitleOf(kWelcomePage));
    back_->setEnabled(false);
    SetDefaultButton(next_);
    next_->setFocus();
    PlaceWindow(owner);
}

// The pages go with the dialog: the folder page stores its settings, the search page stops
// its worker and waits for it.
VeSearchWizard::~VeSearchWizard() = default;

void VeSearchWizard::PlaceWindow(QWidget* owner) {
    // The rectangle is the window's with its frame; the size is fixed, so its place is all
    // that there is to apply.
    if (const QRect& saved = RememberedRectangle(); !saved.isEmpty()) {
        move(saved.topLeft());
        return;
    }
    // Centred with its frame. The frame is not known before the window is shown; the owner's
    // frame, from the same window manager, stands in for it.
    QWidget* window = owner ? owner->window() : nullptr;
    const QRect area = window ? window->frameGeometry()
                              : (screen() ? screen()->availableGeometry() : QRect(QPoint(0, 0), size()));
    const QSize frame = window ? window->frameGeometry().size() - window->geometry().size() : QSize(0, 0);
    const QSize outer = size() + frame;
    move(area.center() - QPoint((outer.width() - 1) / 2, (outer.height() - 1) / 2));
}

QWidget* VeSearchWizard::Page(int n) const {
    if (n == kFolderPage) return folder_page_;
    if (n == kSearchPage) return search_page_;
    return welcome_page_;
}

void VeSearchWizard::SetDefaultButton(QPushButton* button) {
    // A button that holds the default only because it has the focus must be made the
    // dialog's own default, or it loses the part again with the focus.
    if (button->isDefault()) button->setDefault(false);
    button->setDefault(true);
}

bool VeSearchWizard::IsDialogEnabled() const {
    if (!isEnabled() || asking_) return false;
    QWidget* modal = QApplication::activeModalWidget();
    return !modal || modal == this;
}

void VeSearchWizard::SetPage(int n) {
    n = std::clamp(n, static_cast<int>(kWelcomePage), static_cast<int>(kSearchPage));
    if (n == page_) return;
    // Read before the buttons change: disabling a focused button moves its part elsewhere.
    const bool back_was_default = back_->isDefault();
    const bool next_was_default = next_->isDefault();
    // 1.
    QWidget* focused = QApplication::focusWidget();
    const bool focus_in_pages = focused && page_area_->isAncestorOf(focused);
    QWidget* old_page = Page(page_);
    page_ = n;
    Page(n)->show();
    old_page->hide();
    if (focus_in_pages)
        if (QWidget* first = FirstFocusableChild(Page(n))) first->setFocus(Qt::TabFocusReason);
    // 2.
    banner_->SetPage(n, TitleOf(n));
    // 3.
    next_->setText(n == kSearchPage ? QStringLiteral("Finish") : QStringLiteral("Next >"));
    cancel_->setText(n == kSearchPage ? QStringLiteral("Abort") : QStringLiteral("Cancel"));
    back_->setEnabled(n == kFolderPage);
    next_->setEnabled(n != kSearchPage);
    // 4.
    if (back_was_default && !back_->isEnabled()) SetDefaultButton(n == kSearchPage ? cancel_ : next_);
    if (next_was_default && n == kSearchPage) SetDefaultButton(cancel_);
    // 5.
    if (n == kSearchPage) search_page_->StartSearch(folder_page_->FolderText(), folder_page_->SearchSubFolders());
}

void VeSearchWizard::Back() {
    SetPage(page_ - 1);
    if (!back_->isEnabled()) (next_->isEnabled() ? next_ : cancel_)->setFocus();
}

void VeSearchWizard::Next() {
    if (page_ == kSearchPage) {
        accept();
        return;
    }
    if (page_ == kFolderPage && !ValidateFolder()) return;
    SetPage(page_ + 1);
    if (!next_->isEnabled()) (back_->isEnabled() ? back_ : cancel_)->setFocus();
}

bool VeSearchWizard::ValidateFolder() {
    const QString text = folder_page_->FolderText();
    const QString problem = text.isEmpty()                        ? QStringLiteral("Please select a folder!")
                            : !IsDirectory(text.toStdString()) ? QStringLiteral("Invalid search folder!")
                                                                 : QString();
    if (problem.isEmpty()) return true;
    ShowCenteredMessageBox(this, problem, ProgramCaption(), kMbOk | kMbIconInformation);
    return false;
}

void VeSearchWizard::customEvent(QEvent* event) {
    if (event->type() != static_cast<QEvent::Type>(kSearchNotify)) return QDialog::customEvent(event);
    const auto* notify = static_cast<PortEvent*>(event);
    OnSearchEnded(notify->WParam(), static_cast<int>(notify->LParam()));
}

void VeSearchWizard::OnSearchEnded(uintptr_t code, int rows) {
    if (code != kSearchCompleted && code != kSearchAborted) return;
    const bool completed = code == kSearchCompleted;
    banner_->SetPage(kSearchPage, completed ? CompletedTitle() : AbortedTitle());
    cancel_->setText(QStringLiteral("Cancel"));
    back_->setEnabled(true);
    next_->setEnabled(rows > 0);
    if (!IsDialogEnabled()) return;
    // A completed search that found nothing leaves Finish disabled: Cancel takes its part, as
    // a disabled default button could neither be pressed nor hold the focus.
    QPushButton* target = completed && rows > 0 ? next_ : cancel_;
    SetDefaultButton(target);
    target->setFocus();
}

void VeSearchWizard::accept() {
    output_.clear();
    for (const std::string& path : search_page_->ResultList()->Model().CheckedPaths())
        output_.append(QString::fromStdString(path));
    Close(QDialog::Accepted);
}

void VeSearchWizard::reject() {
    if (asking_) return;
    if (page_ == kSearchPage && search_page_->IsSearching()) {
        // The worker stops at its next wait point, so nothing moves while the question is open.
        search_page_->Worker()->Pause();
        asking_ = true;
        const QPointer<VeSearchWizard> self(this);
        const int answer = ShowCenteredMessageBox(this, AbortQuestion(), QStringLiteral("Confirm Abort"),
                                                  kMbYesNo | kMbIconQuestion | kMbDefButton2);
        if (!self) return;
        asking_ = false;
        FolderSearchWorker* worker = search_page_->Worker();
        // Yes: the end arrives as code 7 and the dialog stays open.
        if (answer == kIdYes)
            worker->Abort();
        else
            worker->Resume();
        return;
    }
    Close(QDialog::Rejected);
}

void VeSearchWizard::Close(int result) {
    RememberedRectangle() = frameGeometry();
    done(result);
}

}  // namespace chm
