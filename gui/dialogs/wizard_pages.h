#pragma once

#include "dialogs/wizard_framework.h"
#include "document/selvar_doc.h"

class QCheckBox;
class QListWidget;
class QPlainTextEdit;
class QPushButton;

namespace Wizard {

class CMasterDlg;

// "Связь с прибором": the program's connection settings, their editor and the
// connection check.
class CPage5 : public C0WizPage {
    Q_OBJECT

  public:
    static constexpr int kTemplate = 6144;
    explicit CPage5(CMasterDlg& master);
    void OnCreate() override;
    void OnSetActive() override;

    QPlainTextEdit* SettingsField() const { return settings_; }
    QPushButton* ChangeButton() const { return change_; }
    QPushButton* CheckButton() const { return check_; }
    void Refresh();

  private:
    void Change();
    void Check();

    CMasterDlg& master_;
    QPlainTextEdit* settings_ = nullptr;
    QPushButton* change_ = nullptr;
    QPushButton* check_ = nullptr;
};

// "Определите модификацию прибора": asks the device who it is and lets the
// user confirm or choose the modification.
class CPage7 : public C0WizPage {
    Q_OBJECT

  public:
    static constexpr int kTemplate = 6148;
    explicit CPage7(CMasterDlg& master);
    void OnCreate() override;
    void OnSetActive() override;
    bool OnKillActive() override;

    QListWidget* List() const { return list_; }

  private:
    // Reads "dev" and "p.ver" and settles the active modification; false
    // when the user chose to stop.
    bool Identify();
    const CDeviceDescription* Selected() const;

    CMasterDlg& master_;
    QListWidget* list_ = nullptr;
};

// "Подготовка к загрузке модификации выполнена": the two start modes.
class CPage6 : public C0WizPage {
    Q_OBJECT

  public:
    static constexpr int kTemplate = 6146;
    explicit CPage6(CMasterDlg& master);
    void OnCreate() override;
    void OnSetActive() override;
    bool OnKillActive() override;
    void UpdateData() override;

    QCheckBox* AutoReadBox() const { return autoRead_; }
    QCheckBox* AutoWriteBox() const { return autoWrite_; }

  private:
    CMasterDlg& master_;
    QCheckBox* autoRead_ = nullptr;
    QCheckBox* autoWrite_ = nullptr;
};

// "Мастер выбора модификации": which modification to load and the start
// modes. `active` is the modification chosen so far (none at a first start).
class CMasterDlg : public C0WizDialog {
    Q_OBJECT

  public:
    CMasterDlg(CSelvarDoc& doc, const CDeviceDescription* active, QWidget* parent);
    ~CMasterDlg() override;

    CSelvarDoc& Document() { return doc_; }
    CPage5& ConnectionPage() { return *page5_; }
    CPage7& ModificationPage() { return *page7_; }
    CPage6& ModesPage() { return *page6_; }

    // The wizard's results.
    const CDeviceDescription* active;
    bool autoRead = true;
    bool autoWrite = false;
    WizardChoice Choice() const;

  private:
    CSelvarDoc& doc_;
    CPage5* page5_;
    CPage7* page7_;
    CPage6* page6_;
};

// Reads one parameter of the device by name for the wizard: a read of its own,
// not part of any operation, so a stop left over from an earlier one does not
// make it fail. False when the parameter is unknown or the read failed.
bool ReadDeviceParameter(Device& device, const char* name, std::string& value);

}  // namespace Wizard
