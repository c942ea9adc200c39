#include "dialogs/wizard_framework.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QStackedWidget>
#include <QSvgRenderer>
#include <QVBoxLayout>

namespace Wizard {

namespace {

constexpr int kPictureWidth = 132;
constexpr int kTitlePixels = 16;

// The page's side picture: drawn at its full width from the top, its lowest
// row of colour carried on down to the bottom of however tall the page is.
class SidePicture : public QWidget {
  public:
    SidePicture(const QString& path, QWidget* parent) : QWidget(parent), svg_(path) {
        setObjectName("picture");
        setFixedWidth(kPictureWidth);
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.fillRect(rect(), Qt::white);
        const QSize natural = svg_.defaultSize();
        if (!svg_.isValid() || natural.isEmpty()) return;
        const QSize size(width(), width() * natural.height() / natural.width());
        const qreal ratio = devicePixelRatioF();
        QImage image(size * ratio, QImage::Format_ARGB32_Premultiplied);
        image.setDevicePixelRatio(ratio);
        image.fill(Qt::white);
        {
            QPainter onImage(&image);
            onImage.setRenderHint(QPainter::Antialiasing);
            svg_.render(&onImage, QRectF(QPointF(0, 0), QSizeF(size)));
        }
        painter.fillRect(rect(), image.pixelColor(0, image.height() - 1));
        painter.drawImage(QRect(QPoint(0, 0), size), image);
    }

  private:
    QSvgRenderer svg_;
};

}  // namespace

C0WizPage::C0WizPage(int templateId, QString title, QString picture)
    : templateId_(templateId), title_(std::move(title)), picture_(std::move(picture)) {
    setObjectName(QString("page%1").arg(templateId));
}

void C0WizPage::Create(C0WizDialog* owner) {
    owner_ = owner;
    setAutoFillBackground(true);
    QPalette white = palette();
    white.setColor(QPalette::Window, Qt::white);
    white.setColor(QPalette::Base, Qt::white);
    setPalette(white);

    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 12, 0);
    row->setSpacing(14);
    row->addWidget(new SidePicture(picture_, this));

    auto* column = new QVBoxLayout;
    column->setContentsMargins(0, 14, 0, 8);
    column->setSpacing(10);
    titleLabel_ = new QLabel(title_, this);
    titleLabel_->setObjectName("title");
    titleLabel_->setWordWrap(true);
    QFont bold = titleLabel_->font();
    bold.setPixelSize(kTitlePixels);
    bold.setBold(true);
    titleLabel_->setFont(bold);
    column->addWidget(titleLabel_);
    body_ = new QVBoxLayout;
    body_->setSpacing(8);
    column->addLayout(body_);
    column->addStretch(1);
    row->addLayout(column, 1);

    created_ = true;
    OnCreate();
}

bool C0WizPage::focusNextPrevChild(bool next) {
    (void)next;
    if (!owner_) return QWidget::focusNextPrevChild(next);
    owner_->FocusButtons();
    return true;
}

C0WizDialog::C0WizDialog(const QString& title, QWidget* parent) : QDialog(parent) {
    setWindowTitle(title);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 10);
    placeholder_ = new QStackedWidget(this);
    placeholder_->setObjectName("placeholder");
    column->addWidget(placeholder_, 1);
    auto* line = new QFrame(this);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    column->addWidget(line);

    auto* buttons = new QHBoxLayout;
    buttons->setContentsMargins(10, 2, 10, 0);
    buttons->addStretch(1);
    back_ = new QPushButton("< Назад", this);
    next_ = new QPushButton("Вперед >", this);
    finish_ = new QPushButton("Готово", this);
    cancel_ = new QPushButton("Выход", this);
    back_->setObjectName("back");
    next_->setObjectName("next");
    finish_->setObjectName("finish");
    cancel_->setObjectName("cancel");
    buttons->addWidget(back_);
    buttons->addWidget(next_);
    buttons->addSpacing(10);
    buttons->addWidget(finish_);
    buttons->addWidget(cancel_);
    column->addLayout(buttons);

    connect(back_, &QPushButton::clicked, this, &C0WizDialog::OnBack);
    connect(next_, &QPushButton::clicked, this, &C0WizDialog::OnNext);
    connect(finish_, &QPushButton::clicked, this, &C0WizDialog::OnFinish);
    connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
}

C0WizDialog::~C0WizDialog() {
    DestroyPages();
}

void C0WizDialog::AddPage(C0WizPage* page) {
    page->setParent(placeholder_);
    page->hide();
    pages_.push_back(page);
}

C0WizPage* C0WizDialog::CurrentPage() const {
    return current_ >= 0 ? pages_[static_cast<std::size_t>(current_)] : nullptr;
}

void C0WizDialog::PostCancel() {
    QMetaObject::invokeMethod(this, &QDialog::reject, Qt::QueuedConnection);
}

void C0WizDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!started_) Start();
}

void C0WizDialog::Start() {
    started_ = true;
    if (pages_.empty()) return;
    const bool single = pages_.size() < 2;
    ShowPage(0, [&] {
        back_->setEnabled(false);
        finish_->setEnabled(single);
        next_->setEnabled(!single);
        MakeDefault(single ? finish_ : next_);
    });
}

bool C0WizDialog::ShowPage(int index, const std::function<void()>& buttons) {
    C0WizPage* page = pages_[static_cast<std::size_t>(index)];
    if (!page->created_) {
        placeholder_->addWidget(page);
        page->Create(this);
    }
    if (C0WizPage* old = CurrentPage()) {
        if (!old->OnKillActive()) return false;
        old->active_ = false;
        old->hide();
    }
    placeholder_->setCurrentWidget(page);
    page->setEnabled(true);
    page->show();
    page->update();
    buttons();
    page->active_ = true;
    current_ = index;
    page->OnSetActive();
    return true;
}

int C0WizDialog::Neighbour(int from, int step) const {
    for (int i = from + step; i >= 0 && i < PageCount(); i += step)
        if (!pages_[static_cast<std::size_t>(i)]->skip) return i;
    return -1;
}

int C0WizDialog::IndexOf(int templateId) const {
    for (int i = 0; i < PageCount(); ++i)
        if (pages_[static_cast<std::size_t>(i)]->TemplateId() == templateId) return i;
    return -1;
}

void C0WizDialog::MakeDefault(QPushButton* button) {
    for (QPushButton* b : {back_, next_, finish_, cancel_})
        b->setDefault(b == button);
}

void C0WizDialog::OnNext() {
    C0WizPage* page = CurrentPage();
    if (!page) return;
    const int choice = page->OnWizardNext();
    if (choice == -1) return;
    const int target = choice == 0 ? Neighbour(current_, 1) : IndexOf(choice);
    if (target < 0) return;
    const bool last = target == PageCount() - 1;
    ShowPage(target, [&] {
        back_->setEnabled(true);
        if (last) {
            next_->setEnabled(false);
            finish_->setEnabled(true);
            MakeDefault(finish_);
            finish_->setFocus();
        }
    });
}

void C0WizDialog::OnBack() {
    C0WizPage* page = CurrentPage();
    if (!page) return;
    const int choice = page->OnWizardBack();
    if (choice == -1) return;
    const int target = choice == 0 ? Neighbour(current_, -1) : IndexOf(choice);
    if (target < 0) return;
    ShowPage(target, [&] {
        if (target == 0) back_->setEnabled(false);
        finish_->setEnabled(false);
        next_->setEnabled(true);
        MakeDefault(next_);
    });
}

void C0WizDialog::OnFinish() {
    C0WizPage* page = CurrentPage();
    if (page && !page->OnKillActive()) return;
    for (C0WizPage* p : pages_)
        if (p->created_ && !p->OnWizardFinish()) return;
    for (C0WizPage* p : pages_)
        if (p->created_) p->UpdateData();
    done(kFinishId);
}

void C0WizDialog::FocusButtons() {
    QPushButton* chosen = nullptr;
    for (QPushButton* b : {finish_, back_, next_, cancel_}) {
        if (!b->isEnabled()) continue;
        if (b->isDefault()) {
            b->setFocus(Qt::TabFocusReason);
            return;
        }
        chosen = b;
    }
    if (!chosen) return;
    MakeDefault(chosen);
    chosen->setFocus(Qt::TabFocusReason);
}

void C0WizDialog::DestroyPages() {
    for (C0WizPage* p : pages_) {
        if (p->created_ && p->OnKillActive()) p->UpdateData();
        delete p;
    }
    pages_.clear();
    current_ = -1;
}

}  // namespace Wizard
