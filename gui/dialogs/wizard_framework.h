#pragma once

#include <QDialog>
#include <QString>
#include <QWidget>
#include <functional>
#include <vector>

class QLabel;
class QPushButton;
class QStackedWidget;
class QVBoxLayout;

// A small generic wizard: a modal dialog with a stack of pages and the four
// buttons "< Назад", "Вперед >", "Выход" and "Готово".
//
// It is not built on QWizard: the pages here decide the next page by a page
// identifier or stay put (-1), may refuse to be left, are created only when
// first shown, and the buttons follow fixed enable and default rules that
// QWizard would fight (it owns its buttons' states and commits pages its own
// way).
namespace Wizard {

// Button identifiers; "Готово" is also the dialog's result when finished.
constexpr int kBackId = 12323;
constexpr int kNextId = 12324;
constexpr int kFinishId = 12325;

class C0WizDialog;

class C0WizPage : public QWidget {
    Q_OBJECT

  public:
    // `picture` is a resource path of the side picture; empty for none.
    C0WizPage(int templateId, QString title, QString picture = {});

    int TemplateId() const { return templateId_; }
    bool IsCreated() const { return created_; }
    bool IsActive() const { return active_; }
    C0WizDialog* Owner() const { return owner_; }
    QLabel* TitleLabel() const { return titleLabel_; }

    // A skipped page is passed over by "< Назад" and "Вперед >".
    bool skip = false;

    // Called once, the first time the page is shown: builds its controls.
    virtual void OnCreate() {}
    // The page became visible.
    virtual void OnSetActive() {}
    // False keeps the page.
    virtual bool OnKillActive() { return true; }
    // -1 stay, 0 the neighbouring page, else the identifier of the page to go to.
    virtual int OnWizardBack() { return 0; }
    virtual int OnWizardNext() { return 0; }
    // False refuses finishing.
    virtual bool OnWizardFinish() { return true; }
    // Reads the controls into the page's fields.
    virtual void UpdateData() {}

  protected:
    // The area under the title where the page puts its controls.
    QVBoxLayout* Body() const { return body_; }
    // Tab inside a page goes to the wizard's buttons.
    bool focusNextPrevChild(bool next) override;

  private:
    friend class C0WizDialog;
    void Create(C0WizDialog* owner);

    int templateId_;
    QString title_;
    QString picture_;
    bool created_ = false;
    bool active_ = false;
    C0WizDialog* owner_ = nullptr;
    QLabel* titleLabel_ = nullptr;
    QVBoxLayout* body_ = nullptr;
};

class C0WizDialog : public QDialog {
    Q_OBJECT

  public:
    C0WizDialog(const QString& title, QWidget* parent);
    ~C0WizDialog() override;

    // Takes ownership. Pages are shown in the order they were added.
    void AddPage(C0WizPage* page);

    int PageCount() const { return static_cast<int>(pages_.size()); }
    C0WizPage* Page(int index) const { return pages_.at(static_cast<std::size_t>(index)); }
    C0WizPage* CurrentPage() const;
    int CurrentIndex() const { return current_; }

    QPushButton* BackButton() const { return back_; }
    QPushButton* NextButton() const { return next_; }
    QPushButton* FinishButton() const { return finish_; }
    QPushButton* CancelButton() const { return cancel_; }

    // Ends the wizard with the cancel result once control is back in the
    // event loop, so that a page may ask for it while it is being set up.
    void PostCancel();

    // What Tab inside a page does: focus the default button among "Готово",
    // "< Назад", "Вперед >", "Выход", or else the last enabled one of them,
    // which becomes the default.
    void FocusButtons();

    // The button actions, as the buttons run them.
    void OnBack();
    void OnNext();
    void OnFinish();

  protected:
    void showEvent(QShowEvent* event) override;
    // Each created page whose OnKillActive agrees updates its data; then the
    // pages go. Derived wizards call it from their destructor, while the
    // state the pages write into still exists.
    void DestroyPages();

  private:
    void Start();
    // Shows page `index`; `buttons` sets the buttons for the new page before
    // it is activated, so that the page's OnSetActive has the last word on
    // them. False when the current page refused to be left.
    bool ShowPage(int index, const std::function<void()>& buttons);
    int Neighbour(int from, int step) const;
    int IndexOf(int templateId) const;
    void MakeDefault(QPushButton* button);

    std::vector<C0WizPage*> pages_;
    int current_ = -1;
    bool started_ = false;
    QStackedWidget* placeholder_ = nullptr;
    QPushButton* back_ = nullptr;
    QPushButton* next_ = nullptr;
    QPushButton* cancel_ = nullptr;
    QPushButton* finish_ = nullptr;
};

}  // namespace Wizard
