#include "dialogs/progress_dialog.h"

#include <QCheckBox>
#include <QEventLoop>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextEdit>
#include <QTimer>
#include <QVBoxLayout>

namespace {

// The failed count's field while it is above 0.
constexpr const char* kFailedStyle = "QLabel { background-color: rgb(255, 166, 166); }";

QColor FromColourRef(std::uint32_t c) {
    return QColor(static_cast<int>(c & 0xFF), static_cast<int>((c >> 8) & 0xFF),
                  static_cast<int>((c >> 16) & 0xFF));
}

QLabel* Field(QWidget* parent) {
    auto* l = new QLabel(parent);
    l->setFrameShape(QFrame::StyledPanel);
    l->setFrameShadow(QFrame::Sunken);
    l->setMinimumWidth(90);
    return l;
}

}  // namespace

CProgressDialog::CProgressDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QString::fromUtf8(kCaption));
    setModal(true);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    log_ = new QTextEdit(this);
    log_->setReadOnly(true);
    log_->setUndoRedoEnabled(false);
    log_->setLineWrapMode(QTextEdit::NoWrap);
    log_->setMinimumSize(520, 220);

    autoClose_ = new QCheckBox(QString::fromUtf8("Автоматически закрывать окно"), this);
    button_ = new QPushButton(QString::fromUtf8(ProgressWindow::kClose), this);
    button_->setDefault(true);
    // Both texts fit without the button changing its width.
    button_->setMinimumWidth(
        button_->fontMetrics().horizontalAdvance(QString::fromUtf8(ProgressWindow::kStop)) + 32);
    elapsed_ = Field(this);
    processed_ = Field(this);
    failed_ = Field(this);
    bar_ = new QProgressBar(this);
    bar_->setTextVisible(false);

    auto* grid = new QGridLayout;
    grid->addWidget(new QLabel(QString::fromUtf8("Продолжительность:"), this), 0, 0);
    grid->addWidget(elapsed_, 0, 1);
    grid->addWidget(bar_, 0, 2, 1, 3);
    grid->addWidget(new QLabel(QString::fromUtf8("Обработано пар-ов:"), this), 1, 0);
    grid->addWidget(processed_, 1, 1);
    grid->addWidget(new QLabel(QString::fromUtf8("с ошибками:"), this), 1, 2, Qt::AlignRight);
    grid->addWidget(failed_, 1, 3);
    grid->setColumnStretch(4, 1);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(autoClose_);
    buttons->addStretch(1);
    buttons->addWidget(button_);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(log_, 1);
    layout->addLayout(grid);
    layout->addLayout(buttons);

    connect(button_, &QPushButton::clicked, this, [this] { OnButton(); });
    connect(autoClose_, &QCheckBox::clicked, this, [this](bool t) { OnAutoCloseClicked(t); });
}

CProgressDialog::~CProgressDialog() = default;

template <typename F>
void CProgressDialog::Change(F&& change) {
    bool queue = false;
    {
        std::lock_guard lock(mutex_);
        change(pending_);
        if (!pending_.flushQueued) pending_.flushQueued = queue = true;
    }
    if (queue)
        QMetaObject::invokeMethod(
            this, [this] { Flush(); }, Qt::QueuedConnection);
}

void CProgressDialog::SetTitle(const std::string& title) {
    Change([&](Pending& p) { p.title = QString::fromStdString(title); });
}

void CProgressDialog::AppendLine(const std::string& text, bool bold, std::uint32_t colour,
                                 bool italic) {
    Change([&](Pending& p) {
        p.lines.push_back({QString::fromStdString(text), bold, colour, italic});
    });
}

void CProgressDialog::SetElapsed(const std::string& text) {
    Change([&](Pending& p) { p.elapsed = QString::fromStdString(text); });
}

void CProgressDialog::SetCounters(const std::string& processedText, int failed) {
    Change([&](Pending& p) {
        p.processed = QString::fromStdString(processedText);
        p.failed = failed;
    });
}

void CProgressDialog::SetProgressRange(int total) {
    Change([&](Pending& p) { p.range = total; });
}

void CProgressDialog::SetProgressPosition(int position) {
    Change([&](Pending& p) { p.position = position; });
}

void CProgressDialog::SetButtonText(const std::string& text) {
    Change([&](Pending& p) { p.button = QString::fromStdString(text); });
}

void CProgressDialog::SetAutoCloseTicked(bool ticked) {
    Change([&](Pending& p) { p.autoClose = ticked; });
}

void CProgressDialog::SetOkEnabled(bool enabled) {
    Change([&](Pending& p) { p.okEnabled = enabled; });
}

void CProgressDialog::Close() {
    Change([&](Pending& p) { p.close = true; });
}

void CProgressDialog::Flush() {
    Pending p;
    {
        std::lock_guard lock(mutex_);
        p = std::move(pending_);
        pending_ = Pending{};
    }
    if (p.title) setWindowTitle(*p.title);
    if (!p.lines.empty()) {
        QTextCursor cursor(log_->document());
        cursor.movePosition(QTextCursor::End);
        cursor.beginEditBlock();
        bool first = log_->document()->isEmpty();
        for (const Line& line : p.lines) {
            QTextCharFormat format;
            format.setFontWeight(line.bold ? QFont::Bold : QFont::Normal);
            format.setFontItalic(line.italic);
            format.setForeground(FromColourRef(line.colour));
            if (!first) cursor.insertBlock();
            first = false;
            cursor.insertText(line.text, format);
        }
        cursor.endEditBlock();
        log_->verticalScrollBar()->setValue(log_->verticalScrollBar()->maximum());
    }
    if (p.elapsed) elapsed_->setText(*p.elapsed);
    if (p.processed) processed_->setText(*p.processed);
    if (p.failed) {
        failed_->setText(QString::number(*p.failed));
        failed_->setStyleSheet(*p.failed > 0 ? QString::fromUtf8(kFailedStyle) : QString());
    }
    if (p.range) bar_->setRange(0, std::max(0, *p.range));
    if (p.position) bar_->setValue(std::clamp(*p.position, bar_->minimum(), bar_->maximum()));
    if (p.button) button_->setText(*p.button);
    if (p.autoClose) {
        QSignalBlocker block(autoClose_);
        autoClose_->setChecked(*p.autoClose);
    }
    if (p.okEnabled) button_->setEnabled(*p.okEnabled);
    if (p.close && inExec_) done(QDialog::Accepted);
}

void CProgressDialog::ResetView() {
    log_->clear();
    elapsed_->clear();
    processed_->clear();
    failed_->clear();
    failed_->setStyleSheet(QString());
    bar_->setRange(0, 100);
    bar_->setValue(0);
    button_->setText(QString::fromUtf8(ProgressWindow::kClose));
    button_->setEnabled(true);
    setWindowTitle(QString::fromUtf8(kCaption));
}

bool CProgressDialog::Exec(ProgressWindow& window) {
    // What the window's start said is waiting to be drawn; the last
    // operation's view goes first.
    ResetView();
    window_ = &window;
    inExec_ = true;
    Flush();
    // A window closed before it could be shown (an operation over at once)
    // is not shown at all.
    if (!window.IsClosed()) exec();
    inExec_ = false;
    WaitForRelease(window);
    window_ = nullptr;
    hide();
    // Whatever the last turn left (the closing itself) belongs to the
    // finished window.
    std::lock_guard lock(mutex_);
    const bool queued = pending_.flushQueued;
    pending_ = Pending{};
    pending_.flushQueued = queued;
    return true;
}

void CProgressDialog::WaitForRelease(ProgressWindow& window) {
    // The exchange thread may still ask a question on its way to the stop
    // check; the caller's wait for it must not block the boxes it asks
    // through this thread.
    if (!window.Held()) return;
    QEventLoop loop;
    QTimer poll;
    connect(&poll, &QTimer::timeout, &loop, [&] {
        if (!window.Held()) loop.quit();
    });
    poll.start(10);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
}

void CProgressDialog::OnButton() {
    if (window_) window_->PressButton();
}

void CProgressDialog::OnAutoCloseClicked(bool ticked) {
    if (window_) window_->SetAutoClose(ticked);
}

void CProgressDialog::reject() {
    // The close box and Escape do what the button does.
    if (window_ && button_->isEnabled()) window_->PressButton();
}
