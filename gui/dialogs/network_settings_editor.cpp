#include "dialogs/network_settings_editor.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "link/device_io.h"
#include "link/port_map.h"
#include "platform/text.h"
#include "platform/ui_services.h"

namespace {

constexpr const char* kUnsupported = "Заданные сетевые настройки не поддерживаются прибором!";
// The largest address an 11-bit address can carry.
constexpr int kHighestAddress = 2047;

const std::string* ValueOf(const SettingValues& values, std::string_view name) {
    for (const auto& [n, v] : values)
        if (EqualsNoCase(n, name)) return &v;
    return nullptr;
}

std::vector<std::string> PortChoices(const Parameter& port) {
    std::vector<std::string> ports;
    for (const std::string& name : Split(port.type, ':'))
        if (!name.empty()) ports.push_back(name);
    return ports;
}

}  // namespace

std::string RefuseProgramSettings(const SettingValues& values) {
    // The element's own checks, applied to the settings as they would end up.
    Elements::NetRS485 scratch;
    for (const auto& [name, value] : values)
        scratch.SetValue(name, value, false);
    if (const std::string* length = ValueOf(values, "LEn"))
        if (!Elements::CheckCombination(scratch, "LEn", *length)) return kUnsupported;
    std::string message;
    if (const std::string* address = ValueOf(values, "Addr"))
        if (!Elements::CheckAddress(scratch, "Addr", *address, message)) return message;
    return {};
}

NetworkSettingsEditor::NetworkSettingsEditor(const Elements::NetRS485prg& settings, QWidget* parent)
    : QDialog(parent) {
    setWindowTitle(QString::fromStdString(settings.TypeName()));
    auto* column = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    setMinimumWidth(380);
    for (const Parameter* p : settings.parameters) {
        Row row{p->name};
        const QString value = QString::fromStdString(p->value);
        if (EqualsNoCase(p->name, "Port")) {
            // A port may be absent now and come back later: any COM name goes.
            row.choice = new QComboBox(this);
            row.choice->setEditable(true);
            for (const std::string& port : PortChoices(*p))
                row.choice->addItem(QString::fromStdString(port));
            if (row.choice->findText(value) < 0) row.choice->addItem(value);
            row.choice->setCurrentText(value);
        } else if (p->IsEnumeration()) {
            row.choice = new QComboBox(this);
            for (const std::string& label : p->Labels())
                row.choice->addItem(QString::fromStdString(label));
            row.choice->setCurrentIndex(row.choice->findText(value));
        } else {
            row.number = new QSpinBox(this);
            row.number->setRange(0, kHighestAddress);
            std::int64_t n = 0;
            if (ParseLeadingInt(p->value, n) > 0) row.number->setValue(static_cast<int>(n));
        }
        QWidget* editor = row.choice ? static_cast<QWidget*>(row.choice) : row.number;
        editor->setObjectName(QString::fromStdString(p->name));
        form->addRow(QString::fromStdString(p->description) + ":", editor);
        rows_.push_back(row);
    }
    column->addLayout(form);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Cancel)->setText("Отмена");
    connect(buttons, &QDialogButtonBox::accepted, this, &NetworkSettingsEditor::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    column->addWidget(buttons);
}

SettingValues NetworkSettingsEditor::Values() const {
    SettingValues values;
    for (const Row& row : rows_) {
        std::string value = row.choice ? row.choice->currentText().trimmed().toStdString()
                                       : std::to_string(row.number->value());
        values.emplace_back(row.name, value);
    }
    return values;
}

QWidget* NetworkSettingsEditor::Editor(const std::string& name) const {
    for (const Row& row : rows_)
        if (EqualsNoCase(row.name, name))
            return row.choice ? static_cast<QWidget*>(row.choice) : row.number;
    return nullptr;
}

void NetworkSettingsEditor::accept() {
    SettingValues values = Values();
    std::string refusal = RefuseProgramSettings(values);
    if (refusal.empty()) {
        const std::string* port = ValueOf(values, "Port");
        if (port && ComNumber(*port) == 0) refusal = "Порт компьютера задается именем вида COM1";
    }
    if (!refusal.empty()) {
        ShowMessage(refusal, "", MessageIcon::Exclamation);
        return;
    }
    QDialog::accept();
}

void ApplyProgramSettings(DeviceIO& io, const SettingValues& values) {
    Elements::NetRS485prg& settings = io.ProgramSettings();
    for (const auto& [name, value] : values)
        settings.SetValue(name, value, true);
    settings.Store();
    io.reopen_port();
}

bool EditProgramSettings(DeviceIO& io, QWidget* parent) {
    NetworkSettingsEditor editor(io.ProgramSettings(), parent);
    if (editor.exec() != QDialog::Accepted) return false;
    ApplyProgramSettings(io, editor.Values());
    return true;
}
