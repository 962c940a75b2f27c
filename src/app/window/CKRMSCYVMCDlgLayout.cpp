#include "app/window/CKRMSCYVMCDlg.h"

#include "app/CUnitPicture.h"
#include "app/CommandRegistry.h"
#include "app/window/CLinkStatusBar.h"
#include "app/window/CLogListModel.h"
#include "app/window/CLogListView.h"
#include "app/window/CLogSearchBar.h"
#include "app/window/CUnitView.h"
#include "decode/CExchangeLog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QScreen>
#include <QScrollBar>
#include <QSplitter>
#include <QStatusBar>
#include <QVBoxLayout>

namespace orvex {

namespace {

using Panel = COperatorPanel;

const QStringList kCassetteItems { QStringLiteral("Cassette 1"), QStringLiteral("Cassette 2"), QStringLiteral("Cassette 3") };
const QStringList kAddressItems { QStringLiteral("Forbidden"), QStringLiteral("CY"), QStringLiteral("Changer"),
    QStringLiteral("BV"), QStringLiteral("CR") };

// Typed letters shown in upper case, as the hexadecimal fields of the
// bill masks and security levels are.
void MakeUpperCase(QLineEdit* edit)
{
    QObject::connect(edit, &QLineEdit::textEdited, edit, [edit](const QString& text) {
        QString upper = text.toUpper();
        if (upper != text) {
            int cursor = edit->cursorPosition();
            edit->setText(upper);
            edit->setCursorPosition(cursor);
        }
    });
}

QGridLayout* ButtonGrid(const std::vector<QPushButton*>& buttons, int columns = 2)
{
    auto* grid = new QGridLayout;
    grid->setContentsMargins(0, 0, 0, 0);
    for (std::size_t i = 0; i < buttons.size(); ++i)
        grid->addWidget(buttons[i], static_cast<int>(i) / columns, static_cast<int>(i) % columns);
    return grid;
}

QLabel* Label(const char* text, QWidget* buddy)
{
    auto* label = new QLabel(QString::fromLatin1(text));
    label->setBuddy(buddy);
    return label;
}

} // namespace

// ---- Controls ------------------------------------------------------------------

// The button of a command: its control identifier, caption, handler and
// whether polling mode disables it all come from its registry row.
QPushButton* CKRMSCYVMCDlg::MakeButton(CommandId command)
{
    const CommandRow& row = Command(command);
    const QString caption = QString::fromLatin1(row.caption.data(), static_cast<qsizetype>(row.caption.size()));
    auto* button = new QPushButton(caption);
    button->setObjectName(QString::number(row.control));
    button->setAccessibleName(caption);
    button->setAutoDefault(false);
    m_buttons.push_back({ command, button, row.polling == PollingUse::Disabled });
    m_controls[row.control] = button;
    connect(button, &QPushButton::clicked, this, [this, command] { RunButton(command); });
    return button;
}

QLineEdit* CKRMSCYVMCDlg::MakeEdit(int id, const char* name, int maxLength)
{
    auto* edit = new QLineEdit;
    edit->setObjectName(QString::number(id));
    edit->setAccessibleName(QString::fromLatin1(name));
    if (maxLength > 0)
        edit->setMaxLength(maxLength);
    m_edits.push_back(edit);
    m_controls[id] = edit;
    return edit;
}

QCheckBox* CKRMSCYVMCDlg::MakeCheck(int id, const char* caption)
{
    auto* check = new QCheckBox(QString::fromLatin1(caption));
    check->setObjectName(QString::number(id));
    check->setAccessibleName(QString::fromLatin1(caption));
    m_checks.push_back(check);
    m_controls[id] = check;
    return check;
}

QComboBox* CKRMSCYVMCDlg::MakeCombo(int id, const char* name, const QStringList& items)
{
    auto* combo = new QComboBox;
    combo->setObjectName(QString::number(id));
    combo->setAccessibleName(QString::fromLatin1(name));
    combo->addItems(items);
    m_combos.push_back(combo);
    m_controls[id] = combo;
    return combo;
}

QLineEdit* CKRMSCYVMCDlg::Edit(int id) const { return qobject_cast<QLineEdit*>(m_controls.at(id)); }
QCheckBox* CKRMSCYVMCDlg::Check(int id) const { return qobject_cast<QCheckBox*>(m_controls.at(id)); }
QComboBox* CKRMSCYVMCDlg::Combo(int id) const { return qobject_cast<QComboBox*>(m_controls.at(id)); }

QWidget* CKRMSCYVMCDlg::BuildLeftColumn()
{
    auto* column = new QWidget;
    auto* layout = new QVBoxLayout(column);
    layout->setContentsMargins(0, 0, 0, 0);

    auto* address = MakeCombo(1074, "Device address", kAddressItems);
    auto* addressRow = new QHBoxLayout;
    addressRow->addWidget(Label("Device address", address));
    addressRow->addWidget(address, 1);
    layout->addLayout(addressRow);
    layout->addLayout(ButtonGrid({ MakeButton(CommandId::Reset), MakeButton(CommandId::Poll),
        MakeButton(CommandId::StatusRequest),
        MakeButton(CommandId::Identification),
        MakeButton(CommandId::ExtendedIdentification),
        MakeButton(CommandId::GetBillTable) }));

    auto* billType = new QGroupBox(QStringLiteral("Bill Type"));
    billType->setObjectName(QStringLiteral("Bill Type group"));
    auto* billForm = new QFormLayout(billType);
    auto* enabled = MakeEdit(1006, "Enabled bills", 6);
    MakeUpperCase(enabled);
    auto* escrowMask = MakeEdit(1007, "Escrow mask", 6);
    billForm->addRow(Label("Enabled bills", enabled), enabled);
    billForm->addRow(Label("Escrow mask", escrowMask), escrowMask);
    billForm->addRow(MakeButton(CommandId::BillType));
    layout->addWidget(billType);

    auto* barcode = new QGroupBox(QStringLiteral("Barcode parameters"));
    auto* barcodeForm = new QFormLayout(barcode);
    auto* length = MakeEdit(1075, "Barcode length");
    barcodeForm->addRow(Label("Barcode length", length), length);
    barcodeForm->addRow(MakeButton(CommandId::SetBarcodeParameters));
    layout->addWidget(barcode);

    auto* security = new QGroupBox(QStringLiteral("Security"));
    security->setObjectName(QStringLiteral("Security group"));
    auto* securityLayout = new QHBoxLayout(security);
    auto* securityEdit = MakeEdit(1016, "Security");
    MakeUpperCase(securityEdit);
    securityLayout->addWidget(securityEdit, 1);
    securityLayout->addWidget(MakeButton(CommandId::SetSecurity));
    layout->addWidget(security);

    layout->addLayout(ButtonGrid({ MakeButton(CommandId::ExtractBar),
        MakeButton(CommandId::Stack), MakeButton(CommandId::Return),
        MakeButton(CommandId::Hold), MakeButton(CommandId::GetCrc32),
        MakeButton(CommandId::RequestStatistics) }));

    auto* sequences = new QGroupBox(QStringLiteral("Sequences"));
    auto* sequencesLayout = new QGridLayout(sequences);
    auto* polling = MakeCheck(1022, "Polling mode");
    connect(polling, &QCheckBox::clicked, this, &CKRMSCYVMCDlg::OnPollingModeClicked);
    sequencesLayout->addWidget(polling, 0, 0);
    sequencesLayout->addWidget(MakeCheck(1146, "Reset"), 0, 1);
    auto* resetOnError = MakeCheck(1155, "Reset on error");
    connect(resetOnError, &QCheckBox::clicked, this, [this] { OnOptionBox(&Panel::ResetOnErrorBox); });
    sequencesLayout->addWidget(resetOnError, 1, 0);
    auto* returnBox = MakeCheck(1156, "Return");
    connect(returnBox, &QCheckBox::clicked, this, [this] { OnOptionBox(&Panel::ReturnBox); });
    sequencesLayout->addWidget(returnBox, 1, 1);
    layout->addWidget(sequences);

    layout->addLayout(ButtonGrid({ MakeButton(CommandId::InitializeBC),
        MakeButton(CommandId::ModuleIdentification) }));
    layout->addStretch(1);
    return column;
}

QWidget* CKRMSCYVMCDlg::BuildMiddleColumn()
{
    auto* column = new QWidget;
    auto* layout = new QVBoxLayout(column);
    layout->setContentsMargins(0, 0, 0, 0);

    auto* cy = new QGroupBox(QStringLiteral("CY related commands"));
    auto* cyLayout = new QVBoxLayout(cy);
    cyLayout->addLayout(ButtonGrid({ MakeButton(CommandId::GetTime),
        MakeButton(CommandId::SyncTime),
        MakeButton(CommandId::GetCassetteStatus) }));

    auto* settings = new QGroupBox(QStringLiteral("Cassette settings"));
    auto* settingsLayout = new QVBoxLayout(settings);
    settingsLayout->addWidget(MakeCombo(1133, "Cassette of Cassette settings", kCassetteItems));
    auto* status = new QGroupBox(QStringLiteral("Status"));
    status->setAccessibleName(QStringLiteral("Status of Cassette settings"));
    auto* statusLayout = new QGridLayout(status);
    m_notAssigned = new QRadioButton(QStringLiteral("Not assigned"));
    m_escrow = new QRadioButton(QStringLiteral("Escrow"));
    m_assigned = new QRadioButton(QStringLiteral("Cassette assigned"));
    for (QRadioButton* radio : { m_notAssigned, m_escrow, m_assigned }) {
        radio->setObjectName(radio->text());
        radio->setAccessibleName(radio->text());
    }
    statusLayout->addWidget(m_notAssigned, 0, 0);
    statusLayout->addWidget(m_escrow, 0, 1);
    statusLayout->addWidget(m_assigned, 1, 0);
    auto* billType = MakeEdit(1052, "Bill Type");
    auto* billTypeRow = new QHBoxLayout;
    billTypeRow->addWidget(Label("Bill Type", billType));
    billTypeRow->addWidget(billType);
    statusLayout->addLayout(billTypeRow, 1, 1);
    settingsLayout->addWidget(status);
    settingsLayout->addWidget(MakeButton(CommandId::SetCassetteType));
    cyLayout->addWidget(settings);

    auto* unload = new QGroupBox(QStringLiteral("Unload"));
    auto* unloadLayout = new QGridLayout(unload);
    auto* from = MakeCombo(1132, "Uload from", kCassetteItems);
    auto* number = MakeEdit(1128, "Number ");
    unloadLayout->addWidget(Label("Uload from", from), 0, 0);
    unloadLayout->addWidget(from, 0, 1);
    unloadLayout->addWidget(Label("Number ", number), 1, 0);
    unloadLayout->addWidget(number, 1, 1);
    unloadLayout->addWidget(MakeButton(CommandId::UnloadCommand), 2, 0);
    unloadLayout->addWidget(MakeButton(CommandId::UnloadingSequence), 2, 1);
    cyLayout->addWidget(unload);

    auto* dispense = new QGroupBox(QStringLiteral("Dispense"));
    auto* dispenseLayout = new QGridLayout(dispense);
    const int rows[3][2] { { 1027, 1028 }, { 1029, 1031 }, { 1030, 1032 } };
    for (int row = 0; row < 3; ++row) {
        auto* type = MakeEdit(rows[row][0], "Bill Type");
        auto* count = MakeEdit(rows[row][1], "Number");
        // Six fields of two captions: the row tells them apart.
        type->setAccessibleName(QStringLiteral("Bill Type, dispense row %1").arg(row + 1));
        count->setAccessibleName(QStringLiteral("Number, dispense row %1").arg(row + 1));
        dispenseLayout->addWidget(Label("Bill Type", type), row, 0);
        dispenseLayout->addWidget(type, row, 1);
        dispenseLayout->addWidget(Label("Number", count), row, 2);
        dispenseLayout->addWidget(count, row, 3);
    }
    dispenseLayout->addWidget(MakeButton(CommandId::DispenseCommand), 3, 0, 1, 2);
    dispenseLayout->addWidget(MakeButton(CommandId::DispensingSequence), 3, 2, 1, 2);
    cyLayout->addWidget(dispense);

    cyLayout->addLayout(ButtonGrid({ MakeButton(CommandId::PowerRecovery),
        MakeButton(CommandId::EmptyDispenser) }));
    auto* extended = new QHBoxLayout;
    extended->addWidget(MakeCombo(1135, "Cassette of Extended Cassette Status", kCassetteItems));
    extended->addWidget(MakeButton(CommandId::ExtendedCassetteStatus), 1);
    cyLayout->addLayout(extended);
    // One row for both, so that the column fits the height of a laptop.
    auto* options = new QHBoxLayout;
    options->addWidget(MakeButton(CommandId::SetOptions));
    options->addWidget(MakeEdit(1140, "Options", 8), 1);
    options->addWidget(MakeButton(CommandId::GetOptions));
    cyLayout->addLayout(options);

    layout->addWidget(cy);
    layout->addStretch(1);
    return column;
}

QWidget* CKRMSCYVMCDlg::BuildThirdColumn()
{
    auto* column = new QWidget;
    auto* layout = new QVBoxLayout(column);
    layout->setContentsMargins(0, 0, 0, 0);

    layout->addWidget(MakeButton(CommandId::ValidationSoftwareIdentification));
    layout->addLayout(ButtonGrid({ MakeButton(CommandId::DgnStatus),
        MakeButton(CommandId::DgnIdent), MakeButton(CommandId::DgnFunctions),
        MakeButton(CommandId::DgnSensors), MakeButton(CommandId::DgnValidator) }));
    auto* cassetteRow = new QHBoxLayout;
    auto* cassette = MakeEdit(1173, "Diagnostic cassette");
    cassetteRow->addWidget(cassette);
    cassetteRow->addWidget(MakeButton(CommandId::DgnCassette), 1);
    layout->addLayout(cassetteRow);
    layout->addLayout(ButtonGrid({ MakeButton(CommandId::DgnDispenser),
        MakeButton(CommandId::DgnSwitch), MakeButton(CommandId::DgnChassis),
        MakeButton(CommandId::DgnComm) }));

    auto* diagnostic = new QGridLayout;
    auto* code = MakeCombo(1174, "Diagnostic code", {});
    code->setEditable(true);
    code->setInsertPolicy(QComboBox::NoInsert);
    auto* data = MakeEdit(1176, "Diagnostic data", 16);
    auto* bytes = MakeEdit(1177, "Diagnostic bytes");
    diagnostic->addWidget(Label("Code", code), 0, 0);
    diagnostic->addWidget(code, 0, 1);
    diagnostic->addWidget(Label("Data", data), 1, 0);
    diagnostic->addWidget(data, 1, 1);
    diagnostic->addWidget(Label("Bytes", bytes), 2, 0);
    diagnostic->addWidget(bytes, 2, 1);
    diagnostic->addWidget(MakeButton(CommandId::Diagnostic), 3, 0, 1, 2);
    layout->addLayout(diagnostic);

    auto* feeding = new QGroupBox(QStringLiteral("Feeding level"));
    auto* feedingLayout = new QGridLayout(feeding);
    feedingLayout->addWidget(MakeCheck(1178, "Disable"), 0, 0, 1, 2);
    auto* feedingCassette = MakeCombo(1136, "Cassette of Feeding level", kCassetteItems);
    feedingLayout->addWidget(Label("Cassette", feedingCassette), 1, 0);
    feedingLayout->addWidget(feedingCassette, 1, 1);
    auto* level = MakeEdit(1129, "Level:");
    feedingLayout->addWidget(Label("Level:", level), 2, 0);
    feedingLayout->addWidget(level, 2, 1);
    feedingLayout->addWidget(MakeButton(CommandId::SetLevel), 3, 0);
    feedingLayout->addWidget(MakeButton(CommandId::GetLevel), 3, 1);
    layout->addWidget(feeding);

    auto* rts = MakeCheck(1070, "RTS");
    connect(rts, &QCheckBox::clicked, this, [this] { OnOptionBox(&Panel::RtsBox); });
    layout->addWidget(rts);
    layout->addStretch(1);
    return column;
}

QWidget* CKRMSCYVMCDlg::BuildLogColumn()
{
    auto* column = new QWidget;
    auto* layout = new QVBoxLayout(column);
    layout->setContentsMargins(0, 0, 0, 0);

    m_unitView = new CUnitView(*m_unitPicture);
    layout->addWidget(m_unitView);

    // The two long check boxes on a row of their own, so that narrowing
    // the window never cuts their captions.
    auto* boxes = new QHBoxLayout;
    auto* communication = MakeCheck(1121, "Display communication data");
    connect(communication, &QCheckBox::clicked, this, [this] { OnOptionBox(&Panel::CommunicationDataBox); });
    auto* exchange = MakeCheck(1134, "Display exchange");
    connect(exchange, &QCheckBox::clicked, this, [this] { OnOptionBox(&Panel::DisplayExchangeBox); });
    boxes->addWidget(communication);
    boxes->addWidget(exchange);
    boxes->addStretch(1);
    m_clear = new QPushButton(QStringLiteral("Clear"));
    m_clear->setObjectName(QStringLiteral("Clear"));
    m_clear->setAccessibleName(QStringLiteral("Clear"));
    m_clear->setAutoDefault(false);
    connect(m_clear, &QPushButton::clicked, this, &CKRMSCYVMCDlg::OnClear);
    m_save = new QPushButton(QStringLiteral("Save to file"));
    m_save->setObjectName(QStringLiteral("Save to file"));
    m_save->setAccessibleName(QStringLiteral("Save to file"));
    m_save->setAutoDefault(false);
    connect(m_save, &QPushButton::clicked, this, &CKRMSCYVMCDlg::OnSaveToFile);
    boxes->addWidget(m_clear);
    boxes->addWidget(m_save);
    layout->addLayout(boxes);

    m_logView = new CLogListView;
    m_logView->setObjectName(QStringLiteral("1117"));
    m_logView->setAccessibleName(QStringLiteral("Log"));
    m_logView->setModel(m_model);
    m_logView->setMinimumWidth(360);
    connect(m_model, &CLogListModel::LongestLineChanged, m_logView, &CLogListView::SetLongestLine);
    connect(m_model, &CLogListModel::SelectionRequested, this, &CKRMSCYVMCDlg::OnLogSelection);

    m_searchBar = new CLogSearchBar(*m_model, *m_logView, *m_log, this);
    layout->addWidget(m_searchBar);
    layout->addWidget(m_logView, 1);

    m_statusBox = new QLineEdit;
    m_statusBox->setObjectName(QStringLiteral("1071"));
    m_statusBox->setAccessibleName(QStringLiteral("Status"));
    m_statusBox->setAccessibleDescription(QStringLiteral("Read-only: the last bill event"));
    m_statusBox->setReadOnly(true);
    connect(m_model, &CLogListModel::StatusTextChanged, m_statusBox, &QLineEdit::setText);
    layout->addWidget(m_statusBox);
    return column;
}

void CKRMSCYVMCDlg::BuildControls()
{
    auto* central = new QWidget;
    auto* outer = new QVBoxLayout(central);
    outer->setContentsMargins(6, 6, 6, 4);

    // The command panel scrolls when the window is smaller than it, so its
    // groups never overlap and its captions stay whole; the log takes the
    // rest of the width.
    auto* panel = new QWidget;
    auto* columns = new QHBoxLayout(panel);
    columns->setContentsMargins(0, 0, 0, 0);
    columns->addWidget(BuildLeftColumn());
    columns->addWidget(BuildMiddleColumn());
    columns->addWidget(BuildThirdColumn());
    auto* scroll = new QScrollArea;
    scroll->setObjectName(QStringLiteral("Command panel"));
    scroll->setAccessibleName(QStringLiteral("Command panel"));
    scroll->setWidget(panel);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    scroll->setMinimumWidth(320);
    // At most as wide as the panel wants, with room for a vertical scroll bar.
    const int panelWidth = panel->sizeHint().width() + scroll->verticalScrollBar()->sizeHint().width() + 4;
    scroll->setMaximumWidth(panelWidth);
    // The operator may give the log more width; the panel then scrolls.
    auto* split = new QSplitter(Qt::Horizontal);
    split->setObjectName(QStringLiteral("Panel and log"));
    split->setChildrenCollapsible(false);
    split->addWidget(scroll);
    split->addWidget(BuildLogColumn());
    split->setStretchFactor(0, 0);
    split->setStretchFactor(1, 1);
    split->setSizes({ panelWidth, 400 });
    outer->addWidget(split, 1);

    auto* bottom = new QHBoxLayout;
    auto* result = MakeEdit(1004, "Result");
    result->setReadOnly(true);
    result->setAccessibleDescription(QStringLiteral("Read-only: the result of the last command"));
    bottom->addWidget(result, 1);
    m_resultTime = new QLineEdit;
    m_resultTime->setObjectName(QStringLiteral("Result time"));
    m_resultTime->setAccessibleName(QStringLiteral("Time of the result"));
    m_resultTime->setAccessibleDescription(QStringLiteral("Read-only: when the last command ended"));
    m_resultTime->setReadOnly(true);
    m_resultTime->setFocusPolicy(Qt::NoFocus);
    m_resultTime->setMinimumWidth(260);
    bottom->addWidget(m_resultTime);
    m_stop = new QPushButton(QStringLiteral("Stop"));
    m_stop->setObjectName(QStringLiteral("Stop"));
    m_stop->setAccessibleName(QStringLiteral("Stop"));
    m_stop->setAccessibleDescription(QStringLiteral("Ends the running command, sequence or polling at its next turn (Escape)"));
    m_stop->setToolTip(QStringLiteral("Ends the running command, sequence or polling at its next turn (Escape)"));
    m_stop->setAutoDefault(false);
    m_stop->setEnabled(false);
    connect(m_stop, &QPushButton::clicked, this, [this] { StopRunning(); });
    bottom->addWidget(m_stop);
    outer->addLayout(bottom);
    setCentralWidget(central);

    m_statusFields = new CLinkStatusBar;
    statusBar()->addWidget(m_statusFields, 1);
    statusBar()->setSizeGripEnabled(true);

    // Narrow number fields; the layouts give the rest to the log.
    for (int id : { 1027, 1028, 1029, 1031, 1030, 1032, 1052, 1075, 1128, 1129, 1173, 1177 })
        Edit(id)->setMaximumWidth(64);
    for (auto* group : findChildren<QGroupBox*>()) {
        if (group->accessibleName().isEmpty())
            group->setAccessibleName(group->title());
    }
    // Fits a 1366x768 screen with its title bar and panel.
    QSize size(1366, 740);
    if (QScreen* display = screen())
        size = size.boundedTo(display->availableGeometry().size() - QSize(0, 28));
    resize(size);
}

} // namespace orvex
