#include "app/window/CKRMSCYVMCDlg.h"

#include "app/CApplication.h"
#include "app/CommandRegistry.h"
#include "app/window/CAboutDlg.h"
#include "app/window/CHandlerWorker.h"
#include "app/window/CLogListModel.h"
#include "app/window/CLogListView.h"
#include "app/window/CTimingDlg.h"
#include "app/window/FieldCheck.h"
#include "app/window/GuiCall.h"
#include "app/window/ProgramIcon.h"
#include "decode/CExchangeLog.h"
#include "link/ProgramValues.h"
#include "vmc/CVMC.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QShortcut>
#include <QStatusBar>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

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

CKRMSCYVMCDlg::CKRMSCYVMCDlg(CApplication& application, QWidget* parent)
    : QMainWindow(parent)
    , m_application(application)
    , m_worker(std::make_unique<CHandlerWorker>())
{
    setObjectName(QStringLiteral("102"));
    setWindowTitle(QString::fromLatin1(kCaption));
    setWindowIcon(ProgramIcon());
    setAttribute(Qt::WA_DeleteOnClose, false);

    m_model = new CLogListModel(this);
    m_log = std::make_unique<CExchangeLog>(&application.Protocol(), *m_model);
    m_panel = std::make_unique<COperatorPanel>(application.Device(), application.Engine(), m_log.get(), m_model);
    m_panel->SetObserver(this);

    connect(m_worker.get(), &CHandlerWorker::TaskFinished, this, &CKRMSCYVMCDlg::OnTaskFinished);

    BuildControls();
    BuildMenus();

    // Escape closes as the close box does; Enter does nothing (no button
    // of a main window is a default button).
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, this, &CKRMSCYVMCDlg::close);
}

CKRMSCYVMCDlg::~CKRMSCYVMCDlg()
{
    m_application.Engine().RequestStop();
    // The worker first: its task may still use the panel.
    m_worker.reset();
    m_application.Engine().Stop();
    m_panel->SetObserver(nullptr);
    m_panel.reset();
    m_log.reset();
}

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
    connect(button, &QPushButton::clicked, this, [this, command] { RunCommand(command); });
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
    settingsLayout->addWidget(MakeCombo(1133, "Cassette", kCassetteItems));
    auto* status = new QGroupBox(QStringLiteral("Status"));
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
    extended->addWidget(MakeCombo(1135, "Cassette", kCassetteItems));
    extended->addWidget(MakeButton(CommandId::ExtendedCassetteStatus), 1);
    cyLayout->addLayout(extended);
    auto* options = new QHBoxLayout;
    options->addWidget(MakeButton(CommandId::SetOptions));
    options->addWidget(MakeEdit(1140, "Options", 8), 1);
    cyLayout->addLayout(options);
    cyLayout->addWidget(MakeButton(CommandId::GetOptions));

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
    auto* feedingCassette = MakeCombo(1136, "Cassette", kCassetteItems);
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

    auto* top = new QHBoxLayout;
    auto* communication = MakeCheck(1121, "Display communication data");
    connect(communication, &QCheckBox::clicked, this, [this] { OnOptionBox(&Panel::CommunicationDataBox); });
    auto* exchange = MakeCheck(1134, "Display exchange");
    connect(exchange, &QCheckBox::clicked, this, [this] { OnOptionBox(&Panel::DisplayExchangeBox); });
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
    top->addWidget(communication);
    top->addWidget(exchange);
    top->addStretch(1);
    top->addWidget(m_clear);
    top->addWidget(m_save);
    layout->addLayout(top);

    m_logView = new CLogListView;
    m_logView->setObjectName(QStringLiteral("1117"));
    m_logView->setAccessibleName(QStringLiteral("Log"));
    m_logView->setModel(m_model);
    m_logView->setMinimumWidth(360);
    connect(m_model, &CLogListModel::LongestLineChanged, m_logView, &CLogListView::SetLongestLine);
    connect(m_model, &CLogListModel::SelectionRequested, this, &CKRMSCYVMCDlg::OnLogSelection);
    layout->addWidget(m_logView, 1);

    m_statusBox = new QLineEdit;
    m_statusBox->setObjectName(QStringLiteral("1071"));
    m_statusBox->setAccessibleName(QStringLiteral("Status"));
    m_statusBox->setReadOnly(true);
    connect(m_model, &CLogListModel::StatusTextChanged, m_statusBox, &QLineEdit::setText);
    layout->addWidget(m_statusBox);
    return column;
}

void CKRMSCYVMCDlg::BuildControls()
{
    auto* central = new QWidget;
    auto* outer = new QVBoxLayout(central);
    auto* columns = new QHBoxLayout;
    columns->addWidget(BuildLeftColumn());
    columns->addWidget(BuildMiddleColumn());
    columns->addWidget(BuildThirdColumn());
    columns->addWidget(BuildLogColumn(), 1);
    outer->addLayout(columns, 1);

    auto* result = MakeEdit(1004, "Result");
    result->setReadOnly(true);
    outer->addWidget(result);
    setCentralWidget(central);

    // Narrow number fields; the layouts give the rest to the log.
    for (int id : { 1027, 1028, 1029, 1031, 1030, 1032, 1052, 1075, 1128, 1129, 1173, 1177 })
        Edit(id)->setMaximumWidth(64);
    resize(1280, 760);
}

void CKRMSCYVMCDlg::BuildMenus()
{
    m_portMenu = menuBar()->addMenu(QStringLiteral("Port"));
    m_portMenu->setObjectName(QStringLiteral("Port"));
    m_portMenu->setToolTipsVisible(true);
    const CCOMPort* port = m_application.Protocol().GetPort();
    m_portItems.assign(4, nullptr);
    for (int index = 0; index < 4; ++index) {
        auto state = m_panel->GetPortItemState(index);
        if (state == Panel::PortItemState::Removed)
            continue;
        QString name = ToQString(CPortTable::Name(index));
        QString path = ToQString(port->GetPortTable().Path(index));
        auto* item = m_portMenu->addAction(path.isEmpty() ? name : name + QStringLiteral("  ") + path);
        item->setObjectName(name);
        item->setCheckable(true);
        if (state == Panel::PortItemState::Greyed) {
            item->setEnabled(false);
            item->setToolTip(ToQString(port->DescribePortError(index)));
        }
        connect(item, &QAction::triggered, this, [this, index] { OnPortItem(index); });
        m_portItems[static_cast<std::size_t>(index)] = item;
    }
    m_portMenu->addSeparator();
    m_speed9600 = m_portMenu->addAction(QStringLiteral("9600"));
    m_speed9600->setObjectName(QStringLiteral("9600"));
    m_speed9600->setCheckable(true);
    m_speed9600->setChecked(true);
    connect(m_speed9600, &QAction::triggered, this, [this] { OnSpeedItem(9600); });
    m_speed19200 = m_portMenu->addAction(QStringLiteral("19200"));
    m_speed19200->setObjectName(QStringLiteral("19200"));
    m_speed19200->setCheckable(true);
    connect(m_speed19200, &QAction::triggered, this, [this] { OnSpeedItem(19200); });

    m_optionsMenu = menuBar()->addMenu(QStringLiteral("&Options"));
    m_optionsMenu->setObjectName(QStringLiteral("Options"));
    auto* timing = m_optionsMenu->addAction(QStringLiteral("Communication settings"));
    timing->setObjectName(QStringLiteral("Communication settings"));
    connect(timing, &QAction::triggered, this, &CKRMSCYVMCDlg::OnCommunicationSettings);

    // A window manager offers no system menu to extend: About goes to Help.
    auto* help = menuBar()->addMenu(QStringLiteral("&Help"));
    help->setObjectName(QStringLiteral("Help"));
    auto* about = help->addAction(QStringLiteral("&About ORVEX VMC Simulator..."));
    about->setObjectName(QStringLiteral("16"));
    connect(about, &QAction::triggered, this, &CKRMSCYVMCDlg::OnAbout);
}

void CKRMSCYVMCDlg::Open(int foundPort)
{
    m_panel->Attach(foundPort);
    m_assigned->setChecked(true);
    PanelMembers members = m_panel->GetMembers();
    members.cassetteStatus = CassetteStatusChoice::Assigned;
    members.pollingMode = 0;
    m_panel->SetMembers(members);
    UpdatePortMenu();
    Push();
    ApplyEnabledState();
    showNormal();
    raise();
    activateWindow();
}

// ---- Pull and push -------------------------------------------------------------

bool CKRMSCYVMCDlg::Pull()
{
    PanelMembers members = m_panel->GetMembers();

    auto text = [&](int id, std::string& member) {
        member = ToStdString(Edit(id)->text());
        return true;
    };
    auto check = [&](int id, int& member) {
        member = Check(id)->isChecked() ? 1 : 0;
        return true;
    };
    auto index = [&](int id, int& member) {
        member = Combo(id)->currentIndex();
        return true;
    };
    auto fail = [&](int id, const std::string& message) {
        ShowMessageBox(this, ToQString(message));
        QLineEdit* edit = Edit(id);
        edit->setFocus();
        edit->selectAll();
        return false;
    };
    auto number = [&](int id, FieldKind kind, auto& member, int minimum = INT_MIN, int maximum = INT_MAX) {
        auto value = ParseField(ToStdString(Edit(id)->text()), kind);
        if (!value)
            return fail(id, FieldMessage(kind));
        if (minimum != INT_MIN && (*value < minimum || *value > maximum))
            return fail(id, RangeMessage(minimum, maximum));
        member = static_cast<std::remove_reference_t<decltype(member)>>(*value);
        return true;
    };

    // The control order of the dialog's data exchange; the first failure
    // ends it, and the members pulled so far stay pulled.
    bool pulled = text(1004, members.resultLine) && text(1006, members.enabledBills)
        && text(1007, members.escrowMask) && text(1016, members.security) && check(1022, members.pollingMode)
        && number(1027, FieldKind::Unsigned, members.dispenseType1)
        && number(1052, FieldKind::Byte, members.cassetteBillType)
        && number(1029, FieldKind::Unsigned, members.dispenseType2)
        && number(1030, FieldKind::Byte, members.dispenseType3) && check(1070, members.rts)
        && number(1028, FieldKind::Integer, members.dispenseNumber1)
        && number(1031, FieldKind::Integer, members.dispenseNumber2)
        && number(1032, FieldKind::Integer, members.dispenseNumber3) && index(1074, members.deviceAddress)
        && check(1121, members.communicationData) && number(1075, FieldKind::Byte, members.barcodeLength, 6, 18)
        && index(1132, members.unloadCassette) && number(1128, FieldKind::Integer, members.unloadNumber)
        && index(1133, members.settingsCassette) && check(1134, members.displayExchange)
        && text(1140, members.options) && index(1135, members.extendedStatusCassette)
        && check(1146, members.reset) && check(1155, members.resetOnError) && check(1156, members.returnBills)
        && number(1173, FieldKind::Byte, members.diagnosticCassette, 1, 16)
        && (members.diagnosticCode = ToStdString(Combo(1174)->currentText()), true)
        && text(1176, members.diagnosticData) && number(1177, FieldKind::Byte, members.diagnosticByte)
        && index(1136, members.feedingCassette) && check(1178, members.feedingDisable)
        && number(1129, FieldKind::Integer, members.feedingLevel);

    // The radio buttons are read by the handler itself, not by the exchange.
    members.cassetteStatus = m_escrow->isChecked() ? CassetteStatusChoice::Escrow
        : m_notAssigned->isChecked()                ? CassetteStatusChoice::NotAssigned
                                                     : CassetteStatusChoice::Assigned;
    m_panel->SetMembers(members);
    return pulled;
}

void CKRMSCYVMCDlg::Push()
{
    const PanelMembers members = m_panel->GetMembers();
    auto text = [&](int id, const std::string& value) { Edit(id)->setText(ToQString(value)); };
    auto number = [&](int id, auto value) { Edit(id)->setText(QString::number(value)); };
    auto check = [&](int id, int value) { Check(id)->setChecked(value != 0); };
    auto index = [&](int id, int value) {
        QComboBox* combo = Combo(id);
        combo->setCurrentIndex(value >= 0 && value < combo->count() ? value : -1);
    };

    text(1004, members.resultLine);
    text(1006, members.enabledBills);
    text(1007, members.escrowMask);
    text(1016, members.security);
    check(1022, members.pollingMode);
    number(1027, members.dispenseType1);
    number(1052, members.cassetteBillType);
    number(1029, members.dispenseType2);
    number(1030, members.dispenseType3);
    check(1070, members.rts);
    number(1028, members.dispenseNumber1);
    number(1031, members.dispenseNumber2);
    number(1032, members.dispenseNumber3);
    index(1074, members.deviceAddress);
    check(1121, members.communicationData);
    number(1075, members.barcodeLength);
    index(1132, members.unloadCassette);
    number(1128, members.unloadNumber);
    index(1133, members.settingsCassette);
    check(1134, members.displayExchange);
    text(1140, members.options);
    index(1135, members.extendedStatusCassette);
    check(1146, members.reset);
    check(1155, members.resetOnError);
    check(1156, members.returnBills);
    number(1173, members.diagnosticCassette);
    QComboBox* code = Combo(1174);
    QStringList list;
    for (const std::string& item : members.diagnosticCodeList)
        list << ToQString(item);
    QStringList shown;
    for (int i = 0; i < code->count(); ++i)
        shown << code->itemText(i);
    if (shown != list) {
        code->clear();
        code->addItems(list);
    }
    code->setEditText(ToQString(members.diagnosticCode));
    text(1176, members.diagnosticData);
    number(1177, members.diagnosticByte);
    index(1136, members.feedingCassette);
    check(1178, members.feedingDisable);
    number(1129, members.feedingLevel);
    switch (members.cassetteStatus) {
    case CassetteStatusChoice::Assigned:
        m_assigned->setChecked(true);
        break;
    case CassetteStatusChoice::NotAssigned:
        m_notAssigned->setChecked(true);
        break;
    case CassetteStatusChoice::Escrow:
        m_escrow->setChecked(true);
        break;
    }
}

// ---- Running handlers ------------------------------------------------------------

bool CKRMSCYVMCDlg::IsBusy() const
{
    return m_worker->IsBusy();
}

void CKRMSCYVMCDlg::RunTask(std::function<void()> task, std::function<void()> after)
{
    if (m_closeRequested || !m_worker->Run(std::move(task)))
        return;
    m_afterTask = std::move(after);
    ApplyEnabledState();
}

void CKRMSCYVMCDlg::RunCommand(CommandId command)
{
    if (IsBusy() || m_closeRequested)
        return;
    Pull();
    CVMCInterface& device = m_application.Device();
    const bool lendStop = !m_application.Engine().IsRunning();
    if (lendStop) {
        m_handlerStop.store(0);
        device.SetStopFlag(&m_handlerStop);
    }
    RunTask([this, command, lendStop, &device] {
        m_panel->Run(command);
        if (lendStop)
            device.SetStopFlag(nullptr);
    });
}

void CKRMSCYVMCDlg::OnTaskFinished()
{
    std::function<void()> after = std::move(m_afterTask);
    m_afterTask = nullptr;
    Push();
    if (after)
        after();
    ApplyEnabledState();
    emit TaskDone();
    if (m_closeRequested)
        ContinueClose();
}

void CKRMSCYVMCDlg::ApplyEnabledState()
{
    const bool idle = !IsBusy() && !m_closeRequested;
    for (const ButtonEntry& entry : m_buttons)
        entry.button->setEnabled(idle && !(m_pollingButtonsDisabled && entry.pollingDisabled));
    for (QCheckBox* check : m_checks)
        check->setEnabled(idle);
    for (QComboBox* combo : m_combos)
        combo->setEnabled(idle);
    // Edits stay readable and keep their look; what is typed while a
    // handler runs would be overwritten by its push.
    for (QLineEdit* edit : m_edits) {
        if (edit->objectName() != QLatin1String("1004"))
            edit->setReadOnly(!idle);
    }
    for (QRadioButton* radio : { m_notAssigned, m_escrow, m_assigned })
        radio->setEnabled(idle);
    // Polling mode leaves them usable: reopening the port waits for the
    // engine's exchange to end.
    m_portMenu->menuAction()->setEnabled(idle);
    m_optionsMenu->menuAction()->setEnabled(idle);
}

void CKRMSCYVMCDlg::OnMessage(const std::string& text)
{
    QString shown = ToQString(text);
    CallOnGuiThread(this, [this, &shown] { ShowMessageBox(this, shown); });
}

void CKRMSCYVMCDlg::OnResultLine(const std::string& text)
{
    QString shown = ToQString(text);
    QMetaObject::invokeMethod(this, [this, shown] { Edit(1004)->setText(shown); }, Qt::QueuedConnection);
}

void CKRMSCYVMCDlg::OnCommandButtonsEnabled(bool enabled)
{
    QMetaObject::invokeMethod(this, [this, enabled] {
        m_pollingButtonsDisabled = !enabled;
        ApplyEnabledState();
    }, Qt::QueuedConnection);
}

void CKRMSCYVMCDlg::OnPollingModeClicked()
{
    if (IsBusy() || m_closeRequested) {
        Check(1022)->setChecked(!Check(1022)->isChecked());
        return;
    }
    Pull();
    // Stopping waits for the engine's thread: on the worker, so the window
    // goes on painting the engine's last lines meanwhile.
    RunTask([this] { m_panel->PollingModeBox(); });
}

void CKRMSCYVMCDlg::OnOptionBox(void (COperatorPanel::*box)())
{
    if (IsBusy() || m_closeRequested)
        return;
    Pull();
    RunTask([this, box] { (m_panel.get()->*box)(); });
}

// ---- Menus -----------------------------------------------------------------------

void CKRMSCYVMCDlg::UpdatePortMenu()
{
    const int current = m_panel->GetCurrentPort();
    for (int index = 0; index < 4; ++index) {
        if (QAction* item = m_portItems[static_cast<std::size_t>(index)])
            item->setChecked(index == current);
    }
    const int speed = m_panel->GetSpeed();
    m_speed9600->setChecked(speed != 19200);
    m_speed19200->setChecked(speed == 19200);
}

void CKRMSCYVMCDlg::OnPortItem(int index)
{
    if (IsBusy() || m_closeRequested) {
        UpdatePortMenu();
        return;
    }
    RunTask([this, index] { m_panel->ChoosePort(index); }, [this] { UpdatePortMenu(); });
}

void CKRMSCYVMCDlg::OnSpeedItem(int baud)
{
    if (IsBusy() || m_closeRequested) {
        UpdatePortMenu();
        return;
    }
    RunTask([this, baud] { m_panel->ChooseSpeed(baud); }, [this] { UpdatePortMenu(); });
}

void CKRMSCYVMCDlg::OnCommunicationSettings()
{
    if (IsBusy() || m_closeRequested)
        return;
    CTimingDlg dialog(m_panel->GetTiming(), this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    TimingSettings values = dialog.Values();
    RunTask([this, values] { m_panel->ApplyTiming(values); });
}

void CKRMSCYVMCDlg::OnAbout()
{
    CAboutDlg dialog(this);
    dialog.exec();
}

// ---- Log list --------------------------------------------------------------------

void CKRMSCYVMCDlg::OnLogSelection(int row)
{
    QModelIndex index = m_model->index(row, 0);
    if (!index.isValid())
        return;
    m_logView->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
    m_logView->scrollTo(index);
}

void CKRMSCYVMCDlg::OnClear()
{
    m_model->Clear();
}

void CKRMSCYVMCDlg::OnSaveToFile()
{
    QString name = m_askFileName ? m_askFileName()
                                 : QFileDialog::getSaveFileName(this, QStringLiteral("Save to file"), QString(),
                                       QStringLiteral("Text files (*.txt);;All files (*)"));
    if (name.isEmpty())
        return;
    if (!m_model->SaveToFile(name))
        ShowMessageBox(this, QStringLiteral("Unable to save file"));
}

// ---- Closing ---------------------------------------------------------------------

void CKRMSCYVMCDlg::closeEvent(QCloseEvent* event)
{
    if (m_closeDone) {
        event->accept();
        return;
    }
    event->ignore();
    RequestClose();
}

void CKRMSCYVMCDlg::RequestClose()
{
    // Every wait of a running sequence and of the engine ends at its next
    // turn; the program ends once they have.
    m_application.Engine().RequestStop();
    m_handlerStop.store(1);
    m_application.Device().WakeWaits();
    CProgramValues::Instance().closing.store(1);
    if (m_closeRequested)
        return;
    m_closeRequested = true;
    statusBar()->showMessage(QStringLiteral("Closing..."));
    ApplyEnabledState();
    ContinueClose();
}

void CKRMSCYVMCDlg::ContinueClose()
{
    if (IsBusy())
        return; // OnTaskFinished comes back here
    CVMC& engine = m_application.Engine();
    if (engine.IsRunning()) {
        m_worker->Run([&engine] {
            engine.RequestStop();
            while (!engine.WaitForEnd(std::chrono::milliseconds(150))) {
            }
        });
        return;
    }
    m_closeDone = true;
    close();
    emit Closed();
}

} // namespace orvex
