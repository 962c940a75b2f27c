#include "app/window/CKRMSCYVMCDlg.h"

#include "app/CApplication.h"
#include "app/CCaptureRecorder.h"
#include "app/CExchangeTap.h"
#include "app/CLinkStatus.h"
#include "app/CUnitPicture.h"
#include "app/CommandRegistry.h"
#include "app/window/CAboutDlg.h"
#include "app/window/CHandlerWorker.h"
#include "app/window/CLinkStatusBar.h"
#include "app/window/CLogListModel.h"
#include "app/window/CLogListView.h"
#include "app/window/CLogSearchBar.h"
#include "app/window/CTimingDlg.h"
#include "app/window/CUnitView.h"
#include "app/window/FieldCheck.h"
#include "app/window/MoneyFieldGuard.h"
#include "app/window/GuiCall.h"
#include "app/window/ProgramIcon.h"
#include "decode/CExchangeLog.h"
#include "vmc/CVMC.h"

#include <QApplication>
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
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QScreen>
#include <QScrollBar>
#include <QSplitter>
#include <QShortcut>
#include <QStatusBar>
#include <QTime>
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
    m_tap = std::make_unique<CExchangeTap>(application.Protocol(), *m_log);
    m_linkStatus = std::make_unique<CLinkStatus>();
    m_unitPicture = std::make_unique<CUnitPicture>();
    m_tap->AddWatcher(m_linkStatus.get());
    m_tap->AddWatcher(m_unitPicture.get());

    connect(m_worker.get(), &CHandlerWorker::TaskFinished, this, &CKRMSCYVMCDlg::OnTaskFinished);

    BuildControls();
    BuildMenus();

    // Escape stops what runs and does nothing else: ending the program is
    // the close box's. Enter does nothing (no button of a main window is a
    // default button).
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, this, &CKRMSCYVMCDlg::OnEscape);

    m_statusTimer = new QTimer(this);
    connect(m_statusTimer, &QTimer::timeout, this, &CKRMSCYVMCDlg::RefreshStatus);
    m_statusTimer->start(250);
}

CKRMSCYVMCDlg::~CKRMSCYVMCDlg()
{
    m_application.Engine().RequestStop();
    // The worker first: its task may still use the panel.
    m_worker.reset();
    m_application.Engine().Stop();
    m_recorder.reset();
    if (m_application.Protocol().GetObserver() == m_tap.get())
        m_application.Protocol().SetObserver(nullptr);
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

    // Recording and reading capture files, as orvexctl --capture and
    // orvexctl decode do.
    m_recorder = std::make_unique<CCaptureRecorder>();
    m_captureMenu = menuBar()->addMenu(QStringLiteral("&Capture"));
    m_captureMenu->setObjectName(QStringLiteral("Capture"));
    m_recordCapture = m_captureMenu->addAction(QStringLiteral("Record capture..."));
    m_recordCapture->setObjectName(QStringLiteral("Record capture"));
    connect(m_recordCapture, &QAction::triggered, this, &CKRMSCYVMCDlg::OnRecordCapture);
    m_stopRecording = m_captureMenu->addAction(QStringLiteral("Stop recording"));
    m_stopRecording->setObjectName(QStringLiteral("Stop recording"));
    m_stopRecording->setEnabled(false);
    connect(m_stopRecording, &QAction::triggered, this, &CKRMSCYVMCDlg::OnStopRecording);
    m_captureMenu->addSeparator();
    auto* openCapture = m_captureMenu->addAction(QStringLiteral("Open capture..."));
    openCapture->setObjectName(QStringLiteral("Open capture"));
    connect(openCapture, &QAction::triggered, this, &CKRMSCYVMCDlg::OnOpenCapture);

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
    // The status bar and the unit picture hear every exchange the log does.
    m_application.Protocol().SetObserver(m_tap.get());
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
    QWidget* focused = QApplication::focusWidget();
    if (m_closeRequested || !m_worker->Run(std::move(task)))
        return;
    m_focusBefore = focused;
    m_afterTask = std::move(after);
    m_stopRequested = false;
    ApplyEnabledState();
}

bool CKRMSCYVMCDlg::CheckGuardedFields(int id)
{
    for (const GuardedField& field : GuardedFields(id)) {
        QLineEdit* edit = Edit(field.id);
        auto reason = RefusalReason(field, ToStdString(edit->text()));
        if (!reason) {
            edit->setStyleSheet(QString());
            continue;
        }
        // Marked until it holds a value again, and nothing is sent.
        edit->setStyleSheet(QStringLiteral("background: #ffd0d0;"));
        connect(edit, &QLineEdit::textEdited, edit, [edit] { edit->setStyleSheet(QString()); }, Qt::SingleShotConnection);
        auto* button = qobject_cast<QPushButton*>(m_controls.at(id));
        QString caption = button ? button->text().trimmed() : QString();
        ShowMessageBox(this,
            QStringLiteral("%1: nothing was sent. The %2 (\"%3\") %4.")
                .arg(caption, QString::fromLatin1(field.name), edit->text(), ToQString(*reason)),
            QStringLiteral("Enter a number from %1 to %2 and try again.").arg(field.minimum).arg(field.maximum));
        edit->setFocus();
        edit->selectAll();
        return false;
    }
    return true;
}

void CKRMSCYVMCDlg::ShowResultTime(const QString& caption, const std::string& resultBefore)
{
    // The result line keeps the texts technicians know; the time beside it
    // tells two equal results apart, and says what a command did that
    // leaves the result line as it was (Get Time, Sync Time, a Poll at the
    // card reader's address).
    QString text = QTime::currentTime().toString(QStringLiteral("HH:mm:ss"));
    const auto outcome = static_cast<COperatorPanel::Outcome>(m_lastOutcome.load());
    if (ToStdString(Edit(1004)->text()) == resultBefore || Edit(1004)->text().isEmpty()) {
        switch (outcome) {
        case COperatorPanel::Outcome::Succeeded:
            text += QStringLiteral("  %1: OK (details in the log)").arg(caption);
            break;
        case COperatorPanel::Outcome::Failed:
            text += QStringLiteral("  %1: failed (details in the log)").arg(caption);
            break;
        case COperatorPanel::Outcome::NothingSent:
            text += QStringLiteral("  %1: nothing sent").arg(caption);
            break;
        }
    } else {
        text += QStringLiteral("  %1").arg(caption);
    }
    if (m_stopRequested)
        text += QStringLiteral(", stopped by the operator");
    m_resultTime->setText(text);
    m_resultTime->setToolTip(text);
}

void CKRMSCYVMCDlg::RunButton(CommandId command)
{
    if (IsBusy() || m_closeRequested)
        return;
    const CommandRow& row = Command(command);
    if (!CheckGuardedFields(row.control))
        return;
    const QString caption = QString::fromLatin1(row.caption.data(), static_cast<qsizetype>(row.caption.size())).trimmed();
    const std::string resultBefore = ToStdString(Edit(1004)->text());
    RunCommand(command);
    if (!IsBusy())
        return;
    m_running = caption;
    std::function<void()> after = std::move(m_afterTask);
    m_afterTask = [this, caption, resultBefore, after] {
        if (after)
            after();
        ShowResultTime(caption, resultBefore);
    };
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
        m_lastOutcome.store(static_cast<int>(m_panel->Run(command)));
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
    if (m_stopRequested && !m_closeRequested) {
        statusBar()->showMessage(QStringLiteral("Stopped: %1").arg(m_running.isEmpty() ? QStringLiteral("the running task") : m_running), 10000);
        m_log->OutputLine("== Stopped by the operator: " + ToStdString(m_running.isEmpty() ? QStringLiteral("the running task") : m_running) + " ==");
    }
    m_running.clear();
    m_stopRequested = false;
    ApplyEnabledState();
    // Back where the operator left it: the button just clicked, or the
    // field being typed in, not the first field that took focus while the
    // controls were disabled.
    if (m_focusBefore && m_focusBefore->isEnabled() && m_focusBefore->isVisible())
        m_focusBefore->setFocus(Qt::OtherFocusReason);
    m_focusBefore = nullptr;
    RefreshStatus();
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
    // The port's watcher changes only while no exchange can run.
    if (m_captureMenu)
        m_captureMenu->menuAction()->setEnabled(idle && !m_application.Engine().IsRunning());
    if (m_stop)
        m_stop->setEnabled(!m_closeRequested && IsSomethingRunning() && !m_stopRequested);
}

void CKRMSCYVMCDlg::OnRecordCapture()
{
    if (IsSomethingRunning() || m_closeRequested)
        return;
    CCOMPort* port = m_application.Protocol().GetPort();
    if (!port)
        return;
    QString name = m_askFileName ? m_askFileName()
                                 : QFileDialog::getSaveFileName(this, QStringLiteral("Record capture"), QString(),
                                       QStringLiteral("Capture files (*.pcapng);;All files (*)"));
    if (name.isEmpty())
        return;
    const int current = m_panel->GetCurrentPort();
    std::string portName = current >= 0 && current < CPortTable::kSlots ? port->GetPortTable().Path(current) : std::string();
    std::string error;
    if (!m_recorder->Start(ToStdString(name), *port, portName.empty() ? std::string("port") : portName, error)) {
        ShowMessageBox(this, QStringLiteral("Unable to record the capture"), ToQString(error));
        return;
    }
    m_recordCapture->setEnabled(false);
    m_stopRecording->setEnabled(true);
    m_statusFields->SetExtra(QStringLiteral("Recording to %1").arg(name));
}

void CKRMSCYVMCDlg::OnStopRecording()
{
    if (IsSomethingRunning() || !m_recorder->IsRecording())
        return;
    const QString path = ToQString(m_recorder->Path());
    const std::string error = m_recorder->Stop();
    m_recordCapture->setEnabled(true);
    m_stopRecording->setEnabled(false);
    m_statusFields->SetExtra(QString());
    if (!error.empty())
        ShowMessageBox(this, QStringLiteral("The capture is incomplete"), ToQString(error));
    else
        statusBar()->showMessage(QStringLiteral("Capture saved to %1").arg(path), 5000);
}

void CKRMSCYVMCDlg::OnOpenCapture()
{
    QString name = m_askFileName ? m_askFileName()
                                 : QFileDialog::getOpenFileName(this, QStringLiteral("Open capture"), QString(),
                                       QStringLiteral("Capture files (*.pcapng);;All files (*)"));
    if (name.isEmpty())
        return;
    m_log->OutputLine("== Capture " + ToStdString(name) + " ==");
    std::string error;
    if (!DecodeCaptureFile(ToStdString(name), *m_model, error))
        ShowMessageBox(this, QStringLiteral("Unable to read the capture"), ToQString(error));
    m_model->FlushPending();
}

bool CKRMSCYVMCDlg::IsSomethingRunning() const
{
    return IsBusy() || m_application.Engine().IsRunning();
}

bool CKRMSCYVMCDlg::StopRunning()
{
    if (m_closeRequested)
        return false;
    if (IsBusy()) {
        if (m_stopRequested)
            return true;
        m_stopRequested = true;
        // Outside polling mode the handler waits on the window's own stop
        // flag; in polling mode a running command is one short exchange.
        m_handlerStop.store(1);
        statusBar()->showMessage(QStringLiteral("Stopping: %1...").arg(m_running.isEmpty() ? QStringLiteral("the running task") : m_running));
        ApplyEnabledState();
        return true;
    }
    if (m_application.Engine().IsRunning()) {
        // Polling mode, as unchecking its box does.
        Check(1022)->setChecked(false);
        OnPollingModeClicked();
        m_running = QStringLiteral("Polling mode");
        m_stopRequested = true;
        ApplyEnabledState();
        return true;
    }
    return false;
}

void CKRMSCYVMCDlg::OnEscape()
{
    // Only a stop: Escape never ends the program.
    StopRunning();
}

void CKRMSCYVMCDlg::UpdateLinkSettings()
{
    CLinkStatus::Settings settings;
    const int port = m_panel->GetCurrentPort();
    if (port >= 0 && port < CPortTable::kSlots) {
        settings.portName = CPortTable::Name(port);
        if (const CCOMPort* line = m_application.Protocol().GetPort())
            settings.portPath = line->GetPortTable().Path(port);
    }
    settings.baud = m_panel->GetSpeed();
    settings.address = Combo(1074)->currentIndex();
    settings.polling = m_application.Engine().IsRunning();
    m_linkStatus->SetSettings(settings);
}

void CKRMSCYVMCDlg::RefreshStatus()
{
    UpdateLinkSettings();
    m_statusFields->Show(m_linkStatus->Describe(CLinkStatus::Clock::now()));
    m_unitPicture->SetBillTable(m_application.Device().GetBillTable());
    m_unitView->Refresh();
    if (m_stop)
        m_stop->setEnabled(!m_closeRequested && IsSomethingRunning() && !m_stopRequested);
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
    // A technician reading back up the log keeps the place; the newest
    // lines are followed only from the end of the log.
    if (!index.isValid() || !m_logView->IsFollowing())
        return;
    m_logView->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
    m_logView->scrollTo(index);
}

void CKRMSCYVMCDlg::OnClear()
{
    const std::size_t lines = m_model->LineCount();
    if (lines > 0) {
        // Nothing brings the lines back, so the operator confirms.
        QMessageBox box(QMessageBox::Question, QString::fromLatin1(kCaption),
            QStringLiteral("Clear the %1 lines of the log? They cannot be brought back unless saved first.").arg(lines),
            QMessageBox::Ok | QMessageBox::Cancel, this);
        box.setObjectName(QStringLiteral("Clear question"));
        box.button(QMessageBox::Ok)->setText(QStringLiteral("Clear"));
        box.setDefaultButton(QMessageBox::Cancel);
        if (box.exec() != QMessageBox::Ok)
            return;
    }
    m_model->Clear();
}

void CKRMSCYVMCDlg::OnSaveToFile()
{
    SaveLog();
}

bool CKRMSCYVMCDlg::SaveLog()
{
    QString name = m_askFileName ? m_askFileName()
                                 : QFileDialog::getSaveFileName(this, QStringLiteral("Save to file"), QString(),
                                       QStringLiteral("Text files (*.txt);;All files (*)"));
    if (name.isEmpty())
        return false;
    if (!m_model->SaveToFile(name)) {
        ShowMessageBox(this, QStringLiteral("Unable to save file"), QStringLiteral("%1: %2").arg(name, m_model->LastSaveError()));
        return false;
    }
    statusBar()->showMessage(QStringLiteral("Log saved to %1").arg(name), 5000);
    return true;
}

// ---- Closing ---------------------------------------------------------------------

void CKRMSCYVMCDlg::closeEvent(QCloseEvent* event)
{
    if (m_closeDone) {
        event->accept();
        return;
    }
    event->ignore();
    if (!m_closeRequested && NeedsCloseQuestion() && !AskBeforeClose())
        return;
    RequestClose();
}

void CKRMSCYVMCDlg::CloseWithoutAsking()
{
    if (!m_closeDone)
        RequestClose();
}

bool CKRMSCYVMCDlg::NeedsCloseQuestion() const
{
    return IsBusy() || m_unitPicture->Take().dispenser > 0;
}

bool CKRMSCYVMCDlg::AskBeforeClose()
{
    QString what;
    if (IsBusy())
        what = QStringLiteral("%1 is running.").arg(m_running.isEmpty() ? QStringLiteral("A command") : m_running);
    const int waiting = m_unitPicture->Take().dispenser;
    if (waiting > 0)
        what += (what.isEmpty() ? QString() : QStringLiteral(" ")) + QStringLiteral("%1 bills wait in the dispenser.").arg(waiting);
    QMessageBox box(QMessageBox::Question, QString::fromLatin1(kCaption),
        what + QStringLiteral(" Stop it and close the window?"), QMessageBox::Save | QMessageBox::Close | QMessageBox::Cancel, this);
    box.setObjectName(QStringLiteral("Close question"));
    box.button(QMessageBox::Save)->setText(QStringLiteral("Save the log and close"));
    box.button(QMessageBox::Close)->setText(QStringLiteral("Close without saving"));
    box.setDefaultButton(QMessageBox::Cancel);
    box.exec();
    QAbstractButton* clicked = box.clickedButton();
    if (clicked == box.button(QMessageBox::Cancel))
        return false;
    if (clicked == box.button(QMessageBox::Save))
        return SaveLog();
    return true;
}

void CKRMSCYVMCDlg::RequestClose()
{
    // Every wait of a running sequence and of the engine ends at its next
    // turn; the program ends once they have.
    m_application.Engine().RequestStop();
    m_handlerStop.store(1);
    m_application.Device().WakeWaits();
    m_application.RequestClosing();
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
    // Never from inside the close event that started closing (the engine
    // may have ended at once): a close() there is ignored by the toolkit.
    QMetaObject::invokeMethod(this, [this] {
        close();
        emit Closed();
    }, Qt::QueuedConnection);
}

} // namespace orvex
