#include "controls/in_place_editors.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QScreen>
#include <QStyle>
#include <algorithm>

namespace TreeList {

namespace {
bool IsEnter(int key) {
    return key == Qt::Key_Return || key == Qt::Key_Enter;
}
}  // namespace

CTreeListEditBox::CTreeListEditBox(QWidget* parent) : QLineEdit(parent) {
    setAlignment(Qt::AlignCenter);
    connect(this, &QLineEdit::textChanged, this, [this] { Widen(); });
}

void CTreeListEditBox::SetWidthLimits(int minWidth, int maxWidth) {
    minWidth_ = minWidth;
    maxWidth_ = std::max(minWidth, maxWidth);
    Widen();
}

void CTreeListEditBox::Widen() {
    if (maxWidth_ <= 0) return;
    // The frame and the line edit's own inner margin come on top of the text.
    const QMargins margins = textMargins();
    const int frame = style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, this);
    const int needed = fontMetrics().horizontalAdvance(text()) + kWidenSlack + 2 * frame + 4 +
                       margins.left() + margins.right();
    const int width = std::clamp(needed, minWidth_, maxWidth_);
    if (width != this->width()) resize(width, height());
}

bool CTreeListEditBox::event(QEvent* e) {
    // Tab ends the editing instead of moving the focus on.
    if (e->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(e)->key();
        if (key == Qt::Key_Tab || key == Qt::Key_Backtab) {
            emit finished(EndReason::Confirmed);
            return true;
        }
    }
    return QLineEdit::event(e);
}

void CTreeListEditBox::keyPressEvent(QKeyEvent* e) {
    if (IsEnter(e->key())) {
        emit finished(EndReason::Confirmed);
        return;
    }
    if (e->key() == Qt::Key_Escape) {
        emit finished(EndReason::Escaped);
        return;
    }
    const QString typed = e->text();
    const bool command =
        e->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
    if (filter_ && !command) {
        for (const QChar c : typed) {
            // Backspace and the other control characters always pass.
            if (c.isPrint() && !filter_(c)) {
                QApplication::beep();
                return;
            }
        }
    }
    QLineEdit::keyPressEvent(e);
}

void CTreeListEditBox::focusOutEvent(QFocusEvent* e) {
    QLineEdit::focusOutEvent(e);
    // The box's own context menu takes the focus for a moment only.
    if (e->reason() != Qt::PopupFocusReason) emit finished(EndReason::FocusLost);
}

CTreeListComboBox::CTreeListComboBox(QWidget* parent) : QComboBox(parent) {
    setEditable(false);
    connect(this, &QComboBox::activated, this, [this] {
        if (popupClosing_) emit finished(EndReason::Confirmed);
    });
}

void CTreeListComboBox::hidePopup() {
    popupClosing_ = true;
    QComboBox::hidePopup();
    QMetaObject::invokeMethod(
        this, [this] { popupClosing_ = false; }, Qt::QueuedConnection);
}

void CTreeListComboBox::keyPressEvent(QKeyEvent* e) {
    if (IsEnter(e->key())) {
        emit finished(EndReason::Confirmed);
        return;
    }
    if (e->key() == Qt::Key_Escape) {
        emit finished(EndReason::Escaped);
        return;
    }
    QComboBox::keyPressEvent(e);
}

void CTreeListComboBox::focusOutEvent(QFocusEvent* e) {
    QComboBox::focusOutEvent(e);
    // Opening the list itself moves the focus to the popup.
    if (e->reason() != Qt::PopupFocusReason && !view()->isVisible())
        emit finished(EndReason::FocusLost);
}

CTreeToolTipCtrl::CTreeToolTipCtrl(QWidget* parent)
    : QLabel(parent, Qt::ToolTip | Qt::BypassGraphicsProxyWidget) {
    setForegroundRole(QPalette::ToolTipText);
    setBackgroundRole(QPalette::ToolTipBase);
    setAutoFillBackground(true);
    setPalette(QApplication::palette("QToolTip"));
    setWordWrap(true);
    setMargin(3);
    setFrameStyle(QFrame::Box | QFrame::Plain);
    setMaximumWidth(kMaxWidth);
    setTextFormat(Qt::PlainText);
}

void CTreeToolTipCtrl::ShowAt(const QString& text, QPoint globalPos) {
    setText(text);
    // A wrapped label does not shrink on its own: take the text's one-line
    // width, capped, and let the height follow.
    const int frame = 2 * (margin() + frameWidth());
    const int oneLine = fontMetrics().boundingRect(QRect(0, 0, 10000, 1000), 0, text).width();
    const int width = std::min(kMaxWidth, oneLine + frame + 2);
    resize(width, heightForWidth(width));
    if (const QScreen* screen = QApplication::screenAt(globalPos)) {
        const QRect area = screen->availableGeometry();
        globalPos.setX(std::max(area.left(), std::min(globalPos.x(), area.right() - width)));
        globalPos.setY(std::max(area.top(), std::min(globalPos.y(), area.bottom() - height())));
    }
    move(globalPos);
    show();
    raise();
}

}  // namespace TreeList
