#include "dialogs/port_map_dialog.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <filesystem>
#include <set>

#include "controls/table_ctrl.h"
#include "platform/settings_store.h"
#include "platform/text.h"
#include "platform/ui_services.h"

namespace Dialogs {

namespace {

constexpr const char* kBadPort =
    "Порт задается именем вида COM1, путем к устройству (/dev/...) или адресом "
    "преобразователя tcp://узел:порт";
constexpr const char* kMapNotWritten = "Не удалось записать карту портов";
constexpr const char* kDash = " — ";

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

std::string MapKey(int n) {
    return "port.COM" + std::to_string(n);
}

}  // namespace

std::string PortTargetText(const PortInfo& port) {
    std::string text = port.target;
    if (!port.description.empty()) text += kDash + port.description;
    return text;
}

bool IsPortTarget(const std::string& text) {
    if (text.rfind('/', 0) == 0) return text.size() > 1;
    if (text.rfind("tcp://", 0) != 0) return false;
    const std::string rest = text.substr(6);
    const std::size_t colon = rest.rfind(':');
    if (colon == std::string::npos || colon == 0) return false;
    const std::string port = rest.substr(colon + 1);
    std::int64_t n = 0;
    return !port.empty() && ParseLeadingInt(port, n) == port.size() && n >= 1 && n <= 65535;
}

std::string ComNameFor(const std::string& typed, std::string& error) {
    error.clear();
    const std::string text = QString::fromStdString(typed).trimmed().toStdString();
    if (const int n = ComNumber(text); n > 0) return "COM" + std::to_string(n);
    if (!IsPortTarget(text)) {
        error = kBadPort;
        return {};
    }
    SettingsStore& store = SettingsStore::Instance();
    for (int n = 1; n <= kHighestComNumber; ++n)
        if (store.ReadText(MapKey(n), "") == text) return "COM" + std::to_string(n);
    // A name whose default device is present belongs to that device.
    const PortRoots roots = DefaultPortRoots();
    for (int n = 1; n <= kHighestComNumber; ++n) {
        if (!store.ReadText(MapKey(n), "").empty()) continue;
        const std::string own = DefaultComPath(n, roots);
        std::error_code ec;
        if (!own.empty() && std::filesystem::exists(own, ec)) continue;
        if (store.WriteText(MapKey(n), text) != SettingStatus::Ok) {
            error = kMapNotWritten;
            return {};
        }
        return "COM" + std::to_string(n);
    }
    error = kMapNotWritten;
    return {};
}

// --- the port ---

CPortDialog::CPortDialog(const std::string& current, QWidget* parent) : QDialog(parent) {
    setWindowTitle(QString::fromUtf8("Порт компьютера"));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    list_ = new QTreeWidget(this);
    list_->setRootIsDecorated(false);
    list_->setHeaderLabels({QString::fromUtf8("Порт"), QString::fromUtf8("Подключение")});
    // A long by-id path scrolls rather than being cut.
    list_->header()->setStretchLastSection(false);
    list_->header()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
    list_->setColumnWidth(0, 80);

    auto* caption = new QLabel(QString::fromUtf8("Порт, путь к устройству или tcp://узел:порт:"));
    field_ = new QLineEdit(Q(current), this);
    caption->setBuddy(field_);
    map_ = new QPushButton(QString::fromUtf8("Карта портов..."), this);
    map_->setAutoDefault(false);

    connect(list_, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* item) {
        if (item) field_->setText(item->data(0, Qt::UserRole).toString());
    });
    connect(list_, &QTreeWidget::itemDoubleClicked, this, [this] { accept(); });
    connect(map_, &QPushButton::clicked, this, [this] {
        CPortMapDialog editor(this);
        if (editor.exec() == QDialog::Accepted) FillList();
    });

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Cancel)->setText(QString::fromUtf8("Отмена"));
    buttons->addButton(map_, QDialogButtonBox::ResetRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &CPortDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(list_, 1);
    layout->addWidget(caption);
    layout->addWidget(field_);
    layout->addWidget(buttons);
    FillList();
    resize(620, 340);
}

void CPortDialog::FillList() {
    const QString typed = field_->text();
    list_->clear();
    for (const PortInfo& port : FindPorts()) {
        // A present device no COM name reaches is chosen by its path.
        const std::string choice = port.name.empty()
                                       ? (port.stablePath.empty() ? port.target : port.stablePath)
                                       : port.name;
        auto* item = new QTreeWidgetItem(
            list_, {Q(port.name.empty() ? "—" : port.name), Q(PortTargetText(port))});
        item->setData(0, Qt::UserRole, Q(choice));
        item->setToolTip(1, item->text(1));
    }
    // Filling moved the current row; the field keeps what it showed.
    field_->setText(typed);
}

void CPortDialog::accept() {
    std::string error;
    const std::string name = ComNameFor(field_->text().toStdString(), error);
    if (name.empty()) {
        ShowMessage(error, {}, MessageIcon::Exclamation);
        return;
    }
    port_ = name;
    QDialog::accept();
}

// --- the port map ---

CPortMapDialog::CPortMapDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QString::fromUtf8("Карта портов"));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    table_ = new myClass::CTableCtrl(this);
    table_->SetColumns({QString::fromUtf8("Имя"), QString::fromUtf8("Устройство или адрес")}, {90});
    SettingsStore& store = SettingsStore::Instance();
    for (int n = 1; n <= kHighestComNumber; ++n) {
        const std::string target = store.ReadText(MapKey(n), "");
        if (target.empty()) continue;
        table_->AddRow({QStringLiteral("COM%1").arg(n), Q(target)}, myClass::CTableCtrl::kEditable);
        before_.push_back("COM" + std::to_string(n));
    }

    auto* add = new QPushButton(QString::fromUtf8("Добавить"), this);
    auto* remove = new QPushButton(QString::fromUtf8("Удалить"), this);
    add->setAutoDefault(false);
    remove->setAutoDefault(false);
    connect(add, &QPushButton::clicked, this, &CPortMapDialog::AddRow);
    connect(remove, &QPushButton::clicked, this, &CPortMapDialog::RemoveRow);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Cancel)->setText(QString::fromUtf8("Отмена"));
    connect(buttons, &QDialogButtonBox::accepted, this, &CPortMapDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* side = new QVBoxLayout;
    side->addWidget(add);
    side->addWidget(remove);
    side->addStretch(1);
    auto* top = new QHBoxLayout;
    top->addWidget(table_, 1);
    top->addLayout(side);
    auto* layout = new QVBoxLayout(this);
    auto* note = new QLabel(QString::fromUtf8(
        "Имена COM-портов и устройства (/dev/...) или преобразователи (tcp://узел:порт), "
        "которые они обозначают. Двойной щелчок изменяет ячейку."));
    note->setWordWrap(true);
    layout->addWidget(note);
    layout->addLayout(top, 1);
    layout->addWidget(buttons);
    resize(520, 320);
}

void CPortMapDialog::AddRow() {
    std::set<int> used;
    for (int row = 0; row < table_->rowCount(); ++row)
        used.insert(ComNumber(table_->CellText(row, 0).toStdString()));
    int n = 1;
    while (used.count(n) && n < kHighestComNumber)
        ++n;
    const int row =
        table_->AddRow({QStringLiteral("COM%1").arg(n), QString()}, myClass::CTableCtrl::kEditable);
    table_->selectRow(row);
    table_->OpenEditor(row, 1);
}

void CPortMapDialog::RemoveRow() {
    const QList<QModelIndex> rows = table_->selectionModel()->selectedRows();
    if (!rows.isEmpty()) table_->removeRow(rows.front().row());
}

void CPortMapDialog::accept() {
    table_->CloseEditor(true);
    std::vector<std::pair<int, std::string>> rows;
    std::set<int> names;
    for (int row = 0; row < table_->rowCount(); ++row) {
        const std::string name = table_->CellText(row, 0).trimmed().toStdString();
        const std::string target = table_->CellText(row, 1).trimmed().toStdString();
        const int n = ComNumber(name);
        if (n <= 0 || n > kHighestComNumber || !names.insert(n).second) {
            ShowMessage("Неверное или повторное имя порта: " + name, {}, MessageIcon::Exclamation);
            return;
        }
        if (!IsPortTarget(target)) {
            ShowMessage(std::string(kBadPort) + "\n" + name + ": " + target, {},
                        MessageIcon::Exclamation);
            return;
        }
        rows.emplace_back(n, target);
    }
    SettingsStore& store = SettingsStore::Instance();
    bool written = true;
    for (const auto& [n, target] : rows)
        if (store.ReadText(MapKey(n), "") != target)
            written = store.WriteText(MapKey(n), target) == SettingStatus::Ok && written;
    // A removed name falls back to the default rule.
    for (const std::string& name : before_)
        if (!names.count(ComNumber(name)))
            written = store.WriteText(MapKey(ComNumber(name)), "") == SettingStatus::Ok && written;
    if (!written) {
        ShowMessage(kMapNotWritten, {}, MessageIcon::Error);
        return;
    }
    QDialog::accept();
}

}  // namespace Dialogs
