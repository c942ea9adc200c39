#pragma once

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <functional>

namespace TreeList {

// Why an in-place editor closed. The owner of the editor decides what each
// reason means for the typed text.
enum class EndReason {
    Confirmed,  // Enter, Tab, or a list entry chosen
    FocusLost,
    Scrolled,
    Escaped,
    Closed,  // closed by the program
};

// The in-place edit box: filters typed characters and widens with its text.
class CTreeListEditBox : public QLineEdit {
    Q_OBJECT
  public:
    // Extra room after the text when the box widens.
    static constexpr int kWidenSlack = 5;

    explicit CTreeListEditBox(QWidget* parent = nullptr);

    // Decides each typed printable character; refused ones beep. Pasted
    // text is not filtered: the owner checks the final text anyway.
    void SetFilter(std::function<bool(QChar)> filter) { filter_ = std::move(filter); }
    // The box never gets narrower than `minWidth` nor wider than `maxWidth`.
    void SetWidthLimits(int minWidth, int maxWidth);

  signals:
    void finished(TreeList::EndReason reason);

  protected:
    bool event(QEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void focusOutEvent(QFocusEvent* e) override;

  private:
    void Widen();

    std::function<bool(QChar)> filter_;
    int minWidth_ = 0;
    int maxWidth_ = 0;
};

// The in-place drop-down list.
class CTreeListComboBox : public QComboBox {
    Q_OBJECT
  public:
    explicit CTreeListComboBox(QWidget* parent = nullptr);
    void hidePopup() override;

  signals:
    void finished(TreeList::EndReason reason);

  protected:
    void keyPressEvent(QKeyEvent* e) override;
    void focusOutEvent(QFocusEvent* e) override;

  private:
    // Set while the popup closes: an activation then is a choice from the
    // list, not an arrow key stepping through the closed box.
    bool popupClosing_ = false;
};

// A tool tip that stays until it is hidden (the comment beside an open
// editor), wrapped at a fixed width.
class CTreeToolTipCtrl : public QLabel {
    Q_OBJECT
  public:
    static constexpr int kMaxWidth = 250;

    explicit CTreeToolTipCtrl(QWidget* parent = nullptr);
    // Shows `text` with its top-left corner at `globalPos`, kept on the screen.
    void ShowAt(const QString& text, QPoint globalPos);
};

}  // namespace TreeList
