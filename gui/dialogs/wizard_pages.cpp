#include "dialogs/wizard_pages.h"

#include <QApplication>
#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "description/device_description.h"
#include "dialogs/properties_dialog.h"
#include "platform/app_state.h"
#include "platform/text.h"
#include "platform/ui_services.h"

namespace Wizard {

namespace {

constexpr const char* kContinueQuestion = "\n\nХотите продолжить работу с этим прибором?";

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

QLabel* Paragraph(const char* text, QWidget* parent) {
    auto* label = new QLabel(QString::fromUtf8(text), parent);
    label->setWordWrap(true);
    return label;
}

// The wait cursor for as long as the device is being asked.
struct WaitCursor {
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
};

bool AskToContinue(const char* question) {
    return ShowMessage(std::string(question) + kContinueQuestion, "Предупреждение",
                       MessageIcon::Exclamation, MessageButtons::YesNo) == MessageResult::Yes;
}

const CDeviceDescription* DescriptionNamed(const std::string& name) {
    // The program's map is keyed by the exact display names.
    for (const CDeviceDescription& d : DeviceDescriptions())
        if (d.displayName == name) return &d;
    return nullptr;
}

}  // namespace

bool ReadDeviceParameter(Device& device, const char* name, std::string& value) {
    Parameter* p = device.FindParameter(name);
    if (!p) return false;
    device.stopEvent.ResetEvent();
    if (device.ReadParameter(*p) != 0) return false;
    value = p->value;
    return true;
}

// --- page 1 ---

CPage5::CPage5(CMasterDlg& master)
    : C0WizPage(kTemplate, "Связь с прибором", ":/wizard/link.svg"), master_(master) {}

void CPage5::OnCreate() {
    // A test run never waits for a user.
    if (Startup().test) {
        Owner()->PostCancel();
        return;
    }
    Body()->addWidget(Paragraph("Определите или проверьте параметры связи с прибором:", this));
    settings_ = new QPlainTextEdit(this);
    settings_->setObjectName("settings");
    settings_->setReadOnly(true);
    settings_->setTabChangesFocus(true);
    settings_->setLineWrapMode(QPlainTextEdit::NoWrap);
    settings_->setMinimumHeight(settings_->fontMetrics().lineSpacing() * 7 + 12);
    Body()->addWidget(settings_);
    auto* buttons = new QHBoxLayout;
    change_ = new QPushButton("Изменить", this);
    check_ = new QPushButton("Проверка", this);
    change_->setObjectName("change");
    check_->setObjectName("check");
    // Enter belongs to the wizard's default button.
    for (QPushButton* b : {change_, check_}) {
        b->setAutoDefault(false);
        buttons->addWidget(b);
    }
    buttons->addStretch(1);
    Body()->addLayout(buttons);
    connect(change_, &QPushButton::clicked, this, &CPage5::Change);
    connect(check_, &QPushButton::clicked, this, &CPage5::Check);
    Refresh();
}

void CPage5::OnSetActive() {
    Refresh();
}

void CPage5::Refresh() {
    if (!settings_) return;
    std::string text = master_.Document().device().ProgramSettings().SettingsSummary();
    settings_->setPlainText(Q(ReplaceAll(text, "\r\n", "\n")).trimmed());
}

void CPage5::Change() {
    Dialogs::RunProgramNetworkDialog(master_.Document(), false, this);
    Refresh();
}

void CPage5::Check() {
    // The check shows its own boxes as it goes, so no wait cursor here.
    master_.Document().OnCommand(CommandId::kCheckLink);
    Refresh();
}

// --- page 2 ---

CPage7::CPage7(CMasterDlg& master)
    : C0WizPage(kTemplate, "Определите модификацию прибора", ":/wizard/device.svg"),
      master_(master) {}

void CPage7::OnCreate() {
    Body()->addWidget(Paragraph(
        "Конфигуратор СелварМ может быть загружен для конфигурирования одного из трёх "
        "приборов: Селвар-Б2, Селвар-Б4, Селвар-А1. Выберите модификацию прибора, который Вы "
        "собираетесь конфигурировать.",
        this));
    list_ = new QListWidget(this);
    list_->setObjectName("modifications");
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    Body()->addWidget(list_);
    connect(list_, &QListWidget::itemSelectionChanged, this,
            [this] { Owner()->NextButton()->setEnabled(Selected() != nullptr); });

    if (!Identify()) {
        Owner()->PostCancel();
        return;
    }
    for (const CDeviceDescription& d : DeviceDescriptions()) {
        auto* item = new QListWidgetItem(Q(d.displayName), list_);
        if (&d == master_.active) item->setSelected(true);
    }
    if (QListWidgetItem* chosen = list_->selectedItems().value(0)) list_->setCurrentItem(chosen);
}

bool CPage7::Identify() {
    Device& device = master_.Document().device();
    std::string dev;
    std::string version;
    bool answered = false;
    bool versionRead = false;
    {
        // Only while the device is asked: a box shows the ordinary cursor.
        WaitCursor wait;
        answered = ReadDeviceParameter(device, "dev", dev);
        if (answered) versionRead = ReadDeviceParameter(device, "p.ver", version);
    }
    if (!answered) {
        ShowMessage("Связь установить не удалось!", "Ошибка связи", MessageIcon::Exclamation);
        return true;
    }
    if (!versionRead) return AskToContinue("Подключенный прибор не поддерживается конфигуратором.");
    const std::string key = std::string(TrimRight(dev)) + "-" + std::string(Utf8Prefix(version, 2));
    if (const CDeviceDescription* known = DescriptionNamed(key)) {
        master_.active = known;
        return true;
    }
    if (!AskToContinue("Данная модификация прибора не поддерживается.")) return false;
    master_.active = nullptr;
    return true;
}

const CDeviceDescription* CPage7::Selected() const {
    const QList<QListWidgetItem*> items = list_->selectedItems();
    return items.isEmpty() ? nullptr : DescriptionNamed(items.front()->text().toStdString());
}

void CPage7::OnSetActive() {
    if (!Selected()) Owner()->NextButton()->setEnabled(false);
}

bool CPage7::OnKillActive() {
    if (const CDeviceDescription* d = Selected()) master_.active = d;
    return true;
}

// --- page 3 ---

CPage6::CPage6(CMasterDlg& master)
    : C0WizPage(kTemplate, "Подготовка к загрузке модификации выполнена", ":/wizard/ready.svg"),
      master_(master) {}

void CPage6::OnCreate() {
    Body()->addWidget(
        Paragraph("После нажатия на кнопку \"Готово\" произойдет загрузка конфигуратора Пеллум "
                  "для работы с выбранной модификацией",
                  this));
    Body()->addSpacing(6);
    autoRead_ = new QCheckBox(
        "Включить режим автоматического чтения (рекомендуется, если прибор подключен,\n в "
        "противном случае флажок нужно снять)",
        this);
    autoWrite_ = new QCheckBox("Включить режим автоматической записи", this);
    autoRead_->setObjectName("autoRead");
    autoWrite_->setObjectName("autoWrite");
    autoRead_->setChecked(true);
    autoWrite_->setChecked(false);
    Body()->addWidget(autoRead_);
    Body()->addWidget(autoWrite_);
}

void CPage6::OnSetActive() {
    // Reading on is worth proposing only while a device answers; a value left
    // from an earlier answer says nothing about the device now.
    std::string dev;
    bool answered;
    {
        WaitCursor wait;
        answered = ReadDeviceParameter(master_.Document().device(), "dev", dev);
    }
    autoRead_->setChecked(answered && dev != Parameter::kNoData);
}

bool CPage6::OnKillActive() {
    UpdateData();
    return true;
}

void CPage6::UpdateData() {
    master_.autoRead = autoRead_->isChecked();
    master_.autoWrite = autoWrite_->isChecked();
}

// --- the wizard ---

CMasterDlg::CMasterDlg(CSelvarDoc& doc, const CDeviceDescription* activeNow, QWidget* parent)
    : C0WizDialog("Мастер выбора модификации", parent),
      active(activeNow),
      doc_(doc),
      page5_(new CPage5(*this)),
      page7_(new CPage7(*this)),
      page6_(new CPage6(*this)) {
    AddPage(page5_);
    AddPage(page7_);
    AddPage(page6_);
    resize(740, 390);
}

CMasterDlg::~CMasterDlg() {
    DestroyPages();
}

WizardChoice CMasterDlg::Choice() const {
    WizardChoice choice;
    choice.modification = active;
    choice.autoRead = autoRead;
    choice.instantWrite = autoWrite;
    return choice;
}

}  // namespace Wizard
