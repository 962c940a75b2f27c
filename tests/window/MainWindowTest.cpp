#ifdef ORVEX_HAVE_WINDOW

#include "WindowTestSupport.h"

#include "app/CApplication.h"
#include "app/CommandRegistry.h"
#include "app/window/CAboutDlg.h"
#include "app/window/CLogListModel.h"
#include "app/window/CLogListView.h"
#include "app/window/CTimingDlg.h"
#include "vmc/CVMC.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>

#include <fcntl.h>
#include <poll.h>
#include <fstream>
#include <sstream>
#include <thread>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

namespace orvex::test {
namespace {

using namespace std::chrono_literals;

WindowRig::Setup CyclorSetup()
{
    WindowRig::Setup setup;
    setup.sim = FastCyclor();
    return setup;
}

QAction* FindAction(QWidget* window, const QString& name)
{
    for (QAction* action : window->findChildren<QAction*>()) {
        if (action->objectName() == name)
            return action;
    }
    return nullptr;
}

// ---- Layout and names ------------------------------------------------------------

TEST(MainWindow, ControlsCarryTheirIdentifiersAndCaptions)
{
    WindowRig rig(CyclorSetup());
    CKRMSCYVMCDlg& window = rig.Window();
    EXPECT_EQ(window.windowTitle(), QStringLiteral("ORVEX Simulator"));
    EXPECT_TRUE(window.isVisible());
    EXPECT_FALSE(window.isMinimized());

    struct Expected {
        int id;
        const char* name;
    };
    for (auto [id, name] : { Expected { 1001, "Poll" }, Expected { 1020, "Get cassette status " },
             Expected { 1147, "Extended Identification" }, Expected { 1175, "Diagnostic" } }) {
        auto* button = rig.Control<QPushButton>(id);
        ASSERT_NE(button, nullptr) << id;
        EXPECT_EQ(button->text(), QString::fromLatin1(name));
        EXPECT_EQ(button->accessibleName(), QString::fromLatin1(name));
    }
    EXPECT_EQ(rig.Control<QComboBox>(1132)->accessibleName(), QStringLiteral("Uload from"));
    EXPECT_EQ(rig.Control<QLineEdit>(1128)->accessibleName(), QStringLiteral("Number "));
    EXPECT_NE(rig.Control<QWidget>(1117), nullptr);
    EXPECT_NE(rig.Control<QLineEdit>(1071), nullptr);

    // The initial values, pushed into the controls.
    EXPECT_EQ(rig.Control<QLineEdit>(1006)->text(), QStringLiteral("FFFFFF"));
    EXPECT_EQ(rig.Control<QLineEdit>(1140)->text(), QStringLiteral("60000000"));
    EXPECT_EQ(rig.Control<QLineEdit>(1031)->text(), QStringLiteral("-1"));
    EXPECT_EQ(rig.Control<QComboBox>(1074)->currentText(), QStringLiteral("CY"));
    EXPECT_FALSE(rig.Control<QCheckBox>(1022)->isChecked());
    EXPECT_TRUE(rig.Control<QCheckBox>(1134)->isChecked());
    EXPECT_TRUE(FindControl<QRadioButton>(&window, QStringLiteral("Cassette assigned"))->isChecked());
}

// ---- Command buttons -------------------------------------------------------------

// The window has one button per registry row, and no other numbered one.
TEST(MainWindow, EveryRegistryRowHasItsButton)
{
    WindowRig rig(CyclorSetup());
    for (const CommandRow& row : CommandRows()) {
        auto* button = rig.Control<QPushButton>(row.control);
        ASSERT_NE(button, nullptr) << row.caption;
        EXPECT_EQ(button->text().toStdString(), row.caption);
    }
    std::size_t numbered = 0;
    for (QPushButton* button : rig.Window().findChildren<QPushButton*>())
        numbered += button->objectName().toInt() > 0 ? 1 : 0;
    EXPECT_EQ(numbered, kCommandCount);
}

TEST(MainWindow, PollShowsItsExchangeAndResult)
{
    WindowRig rig(CyclorSetup());
    ASSERT_TRUE(rig.Click(1001));
    EXPECT_EQ(rig.ResultLine(), QStringLiteral("Poll: OK"));
    EXPECT_TRUE(rig.LogContains(QStringLiteral("->POLL (")));
    EXPECT_TRUE(rig.LogContains(QString(132, QLatin1Char('-'))));
    // The reply line is selected and in view; the separator follows it.
    CLogListModel& model = rig.Window().LogModel();
    CLogListView* view = rig.Window().LogView();
    EXPECT_EQ(view->currentIndex().row(), static_cast<int>(model.LineCount()) - 2);
    EXPECT_TRUE(view->viewport()->rect().intersects(view->visualRect(view->currentIndex())));
}

TEST(MainWindow, BillTypeSendsTheMasksOfItsFields)
{
    WindowRig rig(CyclorSetup());
    rig.Control<QLineEdit>(1006)->setText(QStringLiteral("00000F"));
    ASSERT_TRUE(rig.Click(1005));
    EXPECT_EQ(rig.ResultLine(), QStringLiteral("Bill Type: OK"));
    EXPECT_TRUE(rig.LogContains(QStringLiteral("-> Enabled bills: 00000F, Escrowed bills: 000000")));
    EXPECT_EQ(rig.Application().Engine().GetEnabledBills(), 0x00000Fu);
}

TEST(MainWindow, SetCassetteTypeEscrowShows24)
{
    WindowRig rig(CyclorSetup());
    FindControl<QRadioButton>(&rig.Window(), QStringLiteral("Escrow"))->click();
    rig.Control<QComboBox>(1133)->setCurrentIndex(1);
    ASSERT_TRUE(rig.Click(1044));
    EXPECT_EQ(rig.Control<QLineEdit>(1052)->text(), QStringLiteral("24"));
    EXPECT_EQ(rig.ResultLine(), QStringLiteral("Set Cassete Status: OK"));
    EXPECT_TRUE(rig.LogContains(QStringLiteral("to Escrow")));
    EXPECT_TRUE(FindControl<QRadioButton>(&rig.Window(), QStringLiteral("Escrow"))->isChecked());
}

TEST(MainWindow, GetLevelAddsOneLinePerCassette)
{
    WindowRig rig(CyclorSetup());
    ASSERT_TRUE(rig.Click(1180));
    EXPECT_EQ(rig.ResultLine(), QStringLiteral("Get Cassete Feeding Level: OK"));
    EXPECT_TRUE(rig.LogContains(QStringLiteral("<- Cassette 1 feeding level: ")));
}

TEST(MainWindow, DispensingSequenceDispensesTheFirstRow)
{
    WindowRig::Setup setup = CyclorSetup();
    setup.sim.takeTimeoutSeconds = 5; // times the pace: 0.1 s
    WindowRig rig(setup);
    ASSERT_TRUE(rig.Click(1026, 60s));
    EXPECT_EQ(rig.ResultLine(), QStringLiteral("Dispense: OK"));
    EXPECT_TRUE(rig.LogContains(QStringLiteral("-> 1 bills of Bill Type 0")));
    EXPECT_EQ(rig.Simulator().Snapshot().ledger.dispensed, 1);
}

TEST(MainWindow, PollWithCardReaderAddressSendsNothing)
{
    WindowRig rig(CyclorSetup());
    rig.Control<QComboBox>(1074)->setCurrentIndex(4);
    auto before = rig.Simulator().ExchangesAnswered();
    ASSERT_TRUE(rig.Click(1001));
    EXPECT_EQ(rig.ResultLine(), QString());
    EXPECT_EQ(rig.Simulator().ExchangesAnswered(), before);
}

// ---- The window stays alive -------------------------------------------------------

TEST(MainWindow, HandlesEventsDuringAFiveSecondSequence)
{
    WindowRig::Setup setup = CyclorSetup();
    setup.sim.takeTimeoutSeconds = 250; // times the pace 0.02: five seconds
    WindowRig rig(setup);
    rig.Control<QCheckBox>(1121)->click(); // raw frames: every poll is logged
    ASSERT_TRUE(WaitUntil([&] { return !rig.Window().IsBusy(); }));

    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&ticks] { ++ticks; });
    timer.start(50);
    rig.Control<QPushButton>(1026)->click();
    EXPECT_TRUE(rig.Window().IsBusy());
    EXPECT_FALSE(rig.Control<QPushButton>(1001)->isEnabled()) << "command buttons wait for the handler";
    EXPECT_FALSE(rig.Control<QPushButton>(1163)->isEnabled());
    EXPECT_FALSE(rig.Control<QCheckBox>(1022)->isEnabled());

    ASSERT_TRUE(WaitUntil([&] { return ticks >= 20; }, 10s));
    ASSERT_TRUE(rig.Window().IsBusy()) << "the sequence should still run";
    std::size_t linesMidway = rig.Window().LogModel().LineCount();
    ASSERT_TRUE(WaitUntil([&] { return rig.Window().LogModel().LineCount() > linesMidway + 10; }, 10s))
        << "the log grows while the sequence runs";
    EXPECT_TRUE(rig.Window().IsBusy());
    EXPECT_EQ(rig.ResultLine(), QStringLiteral("Dispensing...")) << "the result line shows during the handler";

    ASSERT_TRUE(WaitUntil([&] { return !rig.Window().IsBusy(); }, 60s));
    EXPECT_EQ(rig.ResultLine(), QStringLiteral("Dispense: OK"));
    EXPECT_TRUE(rig.Control<QPushButton>(1001)->isEnabled());
}

TEST(MainWindow, PollingModeOnAndOff)
{
    WindowRig rig(CyclorSetup());
    auto* polling = rig.Control<QCheckBox>(1022);
    polling->click();
    ASSERT_TRUE(WaitUntil([&] { return !rig.Window().IsBusy(); }));
    EXPECT_TRUE(rig.Application().Engine().IsRunning());
    EXPECT_TRUE(polling->isChecked());
    EXPECT_FALSE(rig.Control<QPushButton>(1001)->isEnabled()) << "Poll is off while polling";
    EXPECT_FALSE(rig.Control<QPushButton>(1180)->isEnabled());
    EXPECT_TRUE(rig.Control<QPushButton>(1163)->isEnabled()) << "Dgn Status stays usable";
    EXPECT_TRUE(rig.Control<QPushButton>(1145)->isEnabled());
    for (const CommandRow& row : CommandRows()) {
        EXPECT_EQ(rig.Control<QPushButton>(row.control)->isEnabled(), row.polling == PollingUse::Allowed)
            << row.caption;
    }

    std::size_t lines = rig.Window().LogModel().LineCount();
    EXPECT_TRUE(WaitUntil([&] { return rig.Window().LogModel().LineCount() > lines + 5; }, 15s));

    polling->click();
    ASSERT_TRUE(WaitUntil([&] { return !rig.Window().IsBusy(); }, 20s));
    EXPECT_FALSE(rig.Application().Engine().IsRunning());
    EXPECT_FALSE(polling->isChecked());
    EXPECT_TRUE(rig.Control<QPushButton>(1001)->isEnabled());
    EXPECT_TRUE(rig.Control<QPushButton>(1180)->isEnabled());
}

TEST(MainWindow, CloseDuringPollingStopsTheEngineFirst)
{
    WindowRig rig(CyclorSetup());
    rig.Control<QCheckBox>(1022)->click();
    ASSERT_TRUE(WaitUntil([&] { return rig.Application().Engine().IsRunning() && !rig.Window().IsBusy(); }));
    auto started = std::chrono::steady_clock::now();
    ASSERT_TRUE(rig.CloseWindow(20s));
    EXPECT_LT(std::chrono::steady_clock::now() - started, 15s);
    EXPECT_FALSE(rig.Application().Engine().IsRunning());
    EXPECT_FALSE(rig.Window().isVisible());
}

TEST(MainWindow, CloseDuringALongSequenceEndsItsWaits)
{
    WindowRig::Setup setup = CyclorSetup();
    setup.sim.takeTimeoutSeconds = 0; // the bills wait for a "take" that never comes
    WindowRig rig(setup);
    rig.Control<QPushButton>(1026)->click();
    ASSERT_TRUE(WaitUntil([&] { return rig.ResultLine() == QStringLiteral("Dispensing..."); }));
    std::this_thread::sleep_for(500ms);
    auto started = std::chrono::steady_clock::now();
    ASSERT_TRUE(rig.CloseWindow(30s));
    EXPECT_LT(std::chrono::steady_clock::now() - started, 10s) << "not the sequence's own 600 s";
}

// ---- Pull checks -------------------------------------------------------------------

TEST(MainWindow, PullStopsAtTheFirstFieldOutOfRange)
{
    WindowRig rig(CyclorSetup());
    rig.Control<QLineEdit>(1006)->setText(QStringLiteral("ABC"));   // before 1075: pulled
    rig.Control<QLineEdit>(1075)->setText(QStringLiteral("5"));     // 6..18
    rig.Control<QLineEdit>(1128)->setText(QStringLiteral("7"));     // after 1075: not pulled
    EXPECT_FALSE(rig.Window().Pull());
    EXPECT_EQ(rig.Messages().Texts(), QStringList { QStringLiteral("Please enter an integer between 6 and 18.") });
    PanelMembers members = rig.Window().Panel().GetMembers();
    EXPECT_EQ(members.enabledBills, "ABC");
    EXPECT_EQ(members.barcodeLength, 18);
    EXPECT_EQ(members.unloadNumber, 1);
}

TEST(MainWindow, PullGivesTheStandardMessageOfEachKind)
{
    WindowRig rig(CyclorSetup());
    struct Case {
        int id;
        const char* text;
        const char* message;
    };
    for (auto [id, text, message] : {
             Case { 1027, "-1", "Please enter a positive integer." },
             Case { 1052, "300", "Please enter an integer between 0 and 255." },
             Case { 1028, "one", "Please enter an integer." },
             Case { 1173, "17", "Please enter an integer between 1 and 16." },
             Case { 1129, "", "Please enter an integer." },
         }) {
        auto* edit = rig.Control<QLineEdit>(id);
        QString good = edit->text();
        edit->setText(QString::fromLatin1(text));
        rig.Messages().Clear();
        EXPECT_FALSE(rig.Window().Pull()) << id;
        EXPECT_EQ(rig.Messages().Texts(), QStringList { QString::fromLatin1(message) }) << id;
        edit->setText(good);
    }
    rig.Messages().Clear();
    EXPECT_TRUE(rig.Window().Pull());
    EXPECT_TRUE(rig.Messages().Texts().isEmpty());
}

TEST(MainWindow, AFailedPullStillRunsTheHandler)
{
    WindowRig rig(CyclorSetup());
    rig.Control<QLineEdit>(1129)->setText(QStringLiteral("x"));
    ASSERT_TRUE(rig.Click(1001));
    EXPECT_EQ(rig.Messages().Texts(), QStringList { QStringLiteral("Please enter an integer.") });
    EXPECT_EQ(rig.ResultLine(), QStringLiteral("Poll: OK"));
}

// ---- Log list buttons --------------------------------------------------------------

TEST(MainWindow, ClearAndSaveToFile)
{
    WindowRig rig(CyclorSetup());
    ASSERT_TRUE(rig.Click(1001));
    QTemporaryDir directory;
    QString path = directory.filePath(QStringLiteral("saved.txt"));
    rig.Window().SetSaveFileNameProvider([path] { return path; });
    FindControl<QPushButton>(&rig.Window(), QStringLiteral("Save to file"))->click();
    std::ifstream file(path.toStdString(), std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    QStringList lines = rig.LogLines();
    EXPECT_EQ(QString::fromStdString(text.str()), lines.join(QLatin1Char('\n')) + QLatin1Char('\n'));
    EXPECT_EQ(text.str().find('\r'), std::string::npos);

    // Into a directory that cannot be written: the message, nothing else.
    rig.Window().SetSaveFileNameProvider([path] { return path + QStringLiteral("/inside-a-file.txt"); });
    FindControl<QPushButton>(&rig.Window(), QStringLiteral("Save to file"))->click();
    EXPECT_EQ(rig.Messages().Texts(), QStringList { QStringLiteral("Unable to save file") });

    // Cancelled: nothing at all.
    rig.Messages().Clear();
    rig.Window().SetSaveFileNameProvider([] { return QString(); });
    FindControl<QPushButton>(&rig.Window(), QStringLiteral("Save to file"))->click();
    EXPECT_TRUE(rig.Messages().Texts().isEmpty());

    FindControl<QPushButton>(&rig.Window(), QStringLiteral("Clear"))->click();
    EXPECT_EQ(rig.Window().LogModel().rowCount(), 0);
}

// ---- Menus -------------------------------------------------------------------------

// Holds an advisory lock on a tty from a child process, as another program
// using the port would.
class PortHolder {
public:
    explicit PortHolder(const std::string& path)
    {
        int ready[2];
        if (pipe(ready) != 0 || pipe(m_release) != 0)
            return;
        m_child = fork();
        if (m_child == 0) {
            ::close(ready[0]);
            ::close(m_release[1]);
            int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
            char result = fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0 ? 'y' : 'n';
            (void)!write(ready[1], &result, 1);
            char ignored;
            (void)!read(m_release[0], &ignored, 1); // until the parent closes its end
            _exit(0);
        }
        ::close(ready[1]);
        ::close(m_release[0]);
        char result = 'n';
        pollfd wait { ready[0], POLLIN, 0 };
        if (poll(&wait, 1, 5000) == 1)
            (void)!read(ready[0], &result, 1);
        ::close(ready[0]);
        m_holding = result == 'y';
    }
    ~PortHolder()
    {
        ::close(m_release[1]);
        if (m_child > 0)
            waitpid(m_child, nullptr, 0);
    }
    bool Holding() const { return m_holding; }

private:
    pid_t m_child { -1 };
    int m_release[2] { -1, -1 };
    bool m_holding { false };
};

TEST(MainWindow, PortMenuRemovesMissingSlotsAndGreysHeldOnes)
{
    EnsureApplication();
    CSimulator held(FastValidator());
    std::string heldPath = held.StartPty();
    ASSERT_FALSE(heldPath.empty());
    PortHolder holder(heldPath);
    ASSERT_TRUE(holder.Holding());

    WindowRig::Setup setup = CyclorSetup();
    setup.morePorts = { "/dev/orvex-test-no-such-tty", heldPath };
    WindowRig rig(setup);
    QAction* com1 = FindAction(&rig.Window(), QStringLiteral("COM1"));
    ASSERT_NE(com1, nullptr);
    EXPECT_EQ(com1->text(), QStringLiteral("COM1  ") + QString::fromStdString(rig.SimPath()));
    EXPECT_TRUE(com1->isEnabled());
    EXPECT_TRUE(com1->isChecked()) << "the port found at start-up";
    EXPECT_EQ(FindAction(&rig.Window(), QStringLiteral("COM2")), nullptr) << "no such device: removed";
    QAction* com3 = FindAction(&rig.Window(), QStringLiteral("COM3"));
    ASSERT_NE(com3, nullptr);
    EXPECT_FALSE(com3->isEnabled()) << "held by another program: greyed";
    EXPECT_TRUE(FindAction(&rig.Window(), QStringLiteral("9600"))->isChecked());
    EXPECT_FALSE(FindAction(&rig.Window(), QStringLiteral("19200"))->isChecked());
    held.Stop();
}

TEST(MainWindow, SpeedChangeWithNoCurrentPortFails)
{
    WindowRig::Setup setup;
    setup.startSim = false;
    setup.morePorts = { "/dev/orvex-test-no-such-tty" };
    setup.foundPort = CApplication::kNoPort;
    WindowRig rig(setup);
    FindAction(&rig.Window(), QStringLiteral("19200"))->trigger();
    ASSERT_TRUE(WaitUntil([&] { return !rig.Window().IsBusy(); }));
    EXPECT_EQ(rig.Messages().Texts(),
        QStringList { QStringLiteral("Can't to initialize selected port!\nSelect another, pease.") });
    EXPECT_TRUE(FindAction(&rig.Window(), QStringLiteral("19200"))->isChecked());
}

TEST(MainWindow, ChoosingAPortOpensIt)
{
    WindowRig::Setup setup = CyclorSetup();
    setup.foundPort = CApplication::kNoPort;
    WindowRig rig(setup);
    QAction* com1 = FindAction(&rig.Window(), QStringLiteral("COM1"));
    EXPECT_FALSE(com1->isChecked());
    com1->trigger();
    ASSERT_TRUE(WaitUntil([&] { return !rig.Window().IsBusy(); }));
    EXPECT_TRUE(com1->isChecked());
    EXPECT_TRUE(rig.Messages().Texts().isEmpty());
    ASSERT_TRUE(rig.Click(1001));
    EXPECT_EQ(rig.ResultLine(), QStringLiteral("Poll: OK"));
}

TEST(MainWindow, TimingDialogOkAppliesAndCancelKeeps)
{
    WindowRig rig(CyclorSetup());
    QAction* settings = FindAction(&rig.Window(), QStringLiteral("Communication settings"));
    ASSERT_NE(settings, nullptr);

    bool sawNonNumber = false;
    WhenModalOpens([&](QWidget* modal) {
        auto* dialog = qobject_cast<CTimingDlg*>(modal);
        if (dialog == nullptr)
            return false;
        EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Timing settings"));
        EXPECT_EQ(FindControl<QLineEdit>(dialog, QStringLiteral("1142"))->text(), QStringLiteral("2000"));
        FindControl<QLineEdit>(dialog, QStringLiteral("1142"))->setText(QStringLiteral("abc"));
        dialog->accept(); // refused: the message, and the dialog stays open
        sawNonNumber = dialog->isVisible();
        FindControl<QLineEdit>(dialog, QStringLiteral("1142"))->setText(QStringLiteral("500"));
        FindControl<QLineEdit>(dialog, QStringLiteral("1071"))->setText(QStringLiteral("-40"));
        FindControl<QLineEdit>(dialog, QStringLiteral("1075"))->setText(QStringLiteral("5"));
        FindControl<QComboBox>(dialog, QStringLiteral("1157"))->setCurrentIndex(1);
        dialog->accept();
        return true;
    });
    settings->trigger();
    ASSERT_TRUE(WaitUntil([&] { return !rig.Window().IsBusy(); }));
    EXPECT_TRUE(sawNonNumber);
    EXPECT_EQ(rig.Messages().Texts(), QStringList { QStringLiteral("Please enter an integer.") });
    TimingSettings timing = rig.Window().Panel().GetTiming();
    EXPECT_EQ(timing.responseTimeout, 500);
    EXPECT_EQ(timing.pollingInterval, 0) << "a negative interval is taken as 0";
    EXPECT_EQ(timing.intercommandInterval, 5);
    EXPECT_EQ(timing.commandPrefix, 1);
    EXPECT_EQ(rig.Application().Device().GetPollInterval(), 0);
    EXPECT_EQ(rig.Application().Protocol().GetIntercommandInterval(), 5);

    WhenModalOpens([&](QWidget* modal) {
        auto* dialog = qobject_cast<CTimingDlg*>(modal);
        if (dialog == nullptr)
            return false;
        EXPECT_EQ(FindControl<QLineEdit>(dialog, QStringLiteral("1071"))->text(), QStringLiteral("0"));
        FindControl<QLineEdit>(dialog, QStringLiteral("1142"))->setText(QStringLiteral("9999"));
        dialog->reject();
        return true;
    });
    settings->trigger();
    ASSERT_TRUE(WaitUntil([&] { return !rig.Window().IsBusy(); }));
    EXPECT_EQ(rig.Window().Panel().GetTiming().responseTimeout, 500);
    ASSERT_TRUE(rig.Click(1001)) << "the port is still open";
    EXPECT_EQ(rig.ResultLine(), QStringLiteral("Poll: OK"));
}

TEST(MainWindow, AboutShowsTheVersion)
{
    WindowRig rig(CyclorSetup());
    QString version;
    QString title;
    WhenModalOpens([&](QWidget* modal) {
        auto* dialog = qobject_cast<CAboutDlg*>(modal);
        if (dialog == nullptr)
            return false;
        title = dialog->windowTitle();
        version = dialog->VersionLine();
        dialog->accept();
        return true;
    });
    QAction* about = FindAction(&rig.Window(), QStringLiteral("16"));
    ASSERT_NE(about, nullptr);
    EXPECT_EQ(about->text(), QStringLiteral("&About ORVEX VMC Simulator..."));
    about->trigger();
    EXPECT_EQ(title, QStringLiteral("About KRMSCYVMC"));
    EXPECT_EQ(version, QStringLiteral("Version ") + QString::fromStdString(CApplication::VersionText()));
    EXPECT_TRUE(version.contains(QStringLiteral(" build ")));
}

} // namespace
} // namespace orvex::test

#endif
