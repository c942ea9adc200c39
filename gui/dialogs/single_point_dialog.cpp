#include "dialogs/single_point_dialog.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

#include "document/selvar_doc.h"
#include "platform/ui_services.h"

namespace Dialogs {

namespace {

constexpr int kToolTipWidth = 250;
constexpr int kToolTipMs = 15000;

QString U(const char* text) {
    return QString::fromUtf8(text);
}

// Tips wrap at a fixed width instead of running across the screen.
QString WrappedTip(const char* text) {
    return QStringLiteral("<table width=\"%1\"><tr><td>%2</td></tr></table>")
        .arg(kToolTipWidth)
        .arg(U(text).toHtmlEscaped());
}

}  // namespace

CSinglePoint::CSinglePoint(CSelvarDoc& doc, QWidget* parent) : QDialog(parent), doc_(doc) {
    setWindowTitle(U("Произвольный доступ к отдельным параметрам (Single Point)"));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    command_ = new QComboBox(this);
    command_->setObjectName(QStringLiteral("command"));
    command_->setEditable(true);
    command_->setInsertPolicy(QComboBox::NoInsert);
    command_->setMinimumContentsLength(10);
    hash_ = new QLineEdit(this);
    hash_->setObjectName(QStringLiteral("hash"));
    hash_->setReadOnly(true);
    hash_->setMaximumWidth(fontMetrics().horizontalAdvance(QStringLiteral("0xWWWWW")) + 12);
    description_ = new QLineEdit(U("Описание параметра"), this);
    description_->setObjectName(QStringLiteral("description"));
    description_->setReadOnly(true);

    read_ = new QRadioButton(U("Чтение"), this);
    write_ = new QRadioButton(U("Запись"), this);
    operation_ = new QButtonGroup(this);
    operation_->addButton(read_, 0);
    operation_->addButton(write_, 1);
    read_->setChecked(true);
    valueLabel_ = new QLabel(U("Что записать:"), this);
    value_ = new QComboBox(this);
    value_->setObjectName(QStringLiteral("value"));
    value_->setEditable(true);
    value_->setInsertPolicy(QComboBox::NoInsert);
    value_->setMinimumContentsLength(14);
    valueLabel_->setBuddy(value_);

    linearIndex_ = new QCheckBox(U("Наличие лин-го индекса:"), this);
    fromLabel_ = new QLabel(U("от"), this);
    toLabel_ = new QLabel(U("до"), this);
    // Indexes are 16-bit numbers: digits only.
    auto* digits =
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,5}")), this);
    from_ = new QLineEdit(QStringLiteral("0"), this);
    from_->setObjectName(QStringLiteral("indexFrom"));
    to_ = new QLineEdit(QStringLiteral("0"), this);
    to_->setObjectName(QStringLiteral("indexTo"));
    for (QLineEdit* edit : {from_, to_}) {
        edit->setValidator(digits);
        edit->setMaximumWidth(fontMetrics().horizontalAdvance(QStringLiteral("000000")) + 16);
        edit->setToolTipDuration(kToolTipMs);
    }
    from_->setToolTip(WrappedTip(
        "Начальный индекс параметра, а также индекс, используемый при поиске в дереве."));
    to_->setToolTip(WrappedTip("Конечный индекс параметра."));
    inData_ = new QRadioButton(U("Индекс в поле данных"), this);
    inAddress_ = new QRadioButton(U("Индекс в адресе (3 бит)"), this);
    placement_ = new QButtonGroup(this);
    placement_->addButton(inData_, 0);
    placement_->addButton(inAddress_, 1);
    inData_->setChecked(true);

    auto* logTitle = new QLabel(U("Протокол обмена данными с прибором:"), this);
    log_ = new QListWidget(this);
    log_->setObjectName(QStringLiteral("log"));
    log_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    log_->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    log_->setMinimumHeight(fontMetrics().height() * 14);
    logTitle->setBuddy(log_);

    execute_ = new QPushButton(U("Выполнить!"), this);
    find_ = new QPushButton(U("Найти и показать этот параметр в \"дереве\""), this);
    exit_ = new QPushButton(U("Выход"), this);
    execute_->setDefault(true);

    auto* grid = new QGridLayout;
    grid->addWidget(command_, 0, 0, 1, 2);
    grid->addWidget(hash_, 0, 2, 1, 2);
    grid->addWidget(description_, 1, 0, 1, 4);
    auto* operationRow = new QHBoxLayout;
    operationRow->addWidget(read_);
    operationRow->addWidget(write_);
    operationRow->addSpacing(12);
    operationRow->addWidget(valueLabel_);
    operationRow->addWidget(value_, 1);
    // Takes the room of the value while "Чтение" hides it.
    operationRow->addStretch(0);
    grid->addLayout(operationRow, 2, 0, 1, 4);
    auto* indexRow = new QHBoxLayout;
    indexRow->addWidget(linearIndex_);
    indexRow->addSpacing(8);
    indexRow->addWidget(fromLabel_);
    indexRow->addWidget(from_);
    indexRow->addWidget(toLabel_);
    indexRow->addWidget(to_);
    indexRow->addStretch(1);
    grid->addLayout(indexRow, 3, 0, 1, 4);
    auto* placementRow = new QHBoxLayout;
    placementRow->addSpacing(20);
    placementRow->addWidget(inData_);
    placementRow->addWidget(inAddress_);
    placementRow->addStretch(1);
    grid->addLayout(placementRow, 4, 0, 1, 4);
    grid->setColumnStretch(1, 1);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(execute_);
    buttons->addWidget(find_);
    buttons->addStretch(1);
    buttons->addWidget(exit_);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addSpacing(4);
    layout->addWidget(logTitle);
    layout->addWidget(log_, 1);
    layout->addLayout(buttons);

    connect(command_, &QComboBox::editTextChanged, this, &CSinglePoint::OnCommandChanged);
    connect(command_, &QComboBox::textActivated, this, [this](const QString& text) {
        command_->setEditText(text);
        OnCommandChanged(text);
    });
    connect(operation_, &QButtonGroup::idToggled, this, [this](int, bool on) {
        if (on) OnOperationChanged();
    });
    connect(linearIndex_, &QCheckBox::toggled, this, &CSinglePoint::OnLinearIndexChanged);
    connect(from_, &QLineEdit::textChanged, this, &CSinglePoint::OnIndexFromChanged);
    connect(execute_, &QPushButton::clicked, this, &CSinglePoint::Execute);
    connect(find_, &QPushButton::clicked, this, &CSinglePoint::FindInTree);
    connect(exit_, &QPushButton::clicked, this, &QDialog::reject);

    FillCommandList();
    command_->setEditText(U(SinglePoint::kInitialCommand));
    OnCommandChanged(command_->currentText());
    OnOperationChanged();
    OnLinearIndexChanged();
    resize(sizeHint().expandedTo(QSize(560, 460)));
}

void CSinglePoint::FillCommandList() {
    const QSignalBlocker quiet(command_);
    for (const std::string& name : SinglePoint::CommandNames(doc_.device().Table()))
        command_->addItem(QString::fromStdString(name));
}

SinglePoint::Request CSinglePoint::CurrentRequest() const {
    SinglePoint::Request r;
    r.command = command_->currentText().toStdString();
    r.operation =
        write_->isChecked() ? SinglePoint::Operation::Write : SinglePoint::Operation::Read;
    r.valueText = value_->currentText().toStdString();
    r.linearIndex = linearIndex_->isChecked();
    r.indexFrom = from_->text().toStdString();
    r.indexTo = to_->text().toStdString();
    r.placement = inAddress_->isChecked() ? SinglePoint::IndexPlacement::Address
                                          : SinglePoint::IndexPlacement::Data;
    return r;
}

void CSinglePoint::OnCommandChanged(const QString& text) {
    const SinglePoint::CommandView view =
        SinglePoint::DescribeCommand(doc_.device().Table(), text.toStdString());
    hash_->setText(QString::fromStdString(view.hash));
    description_->setText(QString::fromStdString(view.description));
    description_->setCursorPosition(0);
    description_->setToolTip(description_->text());
    value_->clear();
    for (const std::string& label : view.values)
        value_->addItem(QString::fromStdString(label));
    value_->setEditText(QString());
}

void CSinglePoint::OnOperationChanged() {
    const bool writing = write_->isChecked();
    valueLabel_->setVisible(writing);
    value_->setVisible(writing);
}

void CSinglePoint::OnLinearIndexChanged() {
    const bool on = linearIndex_->isChecked();
    for (QWidget* w :
         std::initializer_list<QWidget*>{inData_, inAddress_, fromLabel_, toLabel_, from_, to_})
        w->setEnabled(on);
}

void CSinglePoint::OnIndexFromChanged(const QString& text) {
    const std::string upper =
        SinglePoint::UpperIndexAfter(text.toStdString(), to_->text().toStdString());
    if (QString::fromStdString(upper) != to_->text()) to_->setText(QString::fromStdString(upper));
}

void CSinglePoint::Execute() {
    const SinglePoint::Request request = CurrentRequest();
    log_->clear();
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const std::vector<std::string> lines =
        SinglePoint::Execute(doc_.device(), doc_.device().Table(), request);
    QApplication::restoreOverrideCursor();
    for (const std::string& line : lines)
        log_->addItem(QString::fromStdString(line));
}

void CSinglePoint::FindInTree() {
    const SinglePoint::Location found =
        SinglePoint::Find(doc_.ConfigurationTree(), doc_.OperativeTree(), CurrentRequest());
    if (!found.parameter) {
        ShowMessage(SinglePoint::kNotFound, SinglePoint::kNotFoundCaption,
                    MessageIcon::Information);
        return;
    }
    if (showInTree && found.branch) showInTree(*found.branch, *found.parameter);
    if (restoreWindow) restoreWindow();
}

}  // namespace Dialogs
