#ifdef ORVEX_HAVE_WINDOW

// The window as an operator meets it: stopping what runs, keys that do no
// harm, fields that refuse to pay out, a log that keeps its place, and the
// status bar and unit picture following the unit.

#include "WindowTestSupport.h"

#include "app/CLinkStatus.h"
#include "app/CUnitPicture.h"
#include "app/window/CLinkStatusBar.h"
#include "app/window/CLogListModel.h"
#include "app/window/CLogListView.h"
#include "app/window/CUnitView.h"
#include "vmc/CVMC.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QMenu>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>

namespace orvex::test {
namespace {

// A menu action of the window by its object name; null when there is none.
QAction* ActionNamed(CKRMSCYVMCDlg& window, const char* name)
{
    for (QAction* item : window.findChildren<QAction*>())
        if (item->objectName() == QLatin1String(name))
            return item;
    return nullptr;
}

using namespace std::chrono_literals;

WindowRig::Setup CyclorSetup(int takeTimeoutSeconds = 5)
{
    WindowRig::Setup setup;
    setup.sim = FastCyclor();
    setup.sim.takeTimeoutSeconds = takeTimeoutSeconds;
    return setup;
}

void MakeActive(CKRMSCYVMCDlg& window)
{
    QApplication::setActiveWindow(&window);
    WaitUntil([&] { return QApplication::activeWindow() == &window; }, 2s);
}

int CountLines(WindowRig& rig, const QString& part)
{
    int count = 0;
    for (const QString& line : rig.LogLines())
        count += line.contains(part) ? 1 : 0;
    return count;
}

TEST(Operator, EscapeStopsADispenseWaitingForTheCustomerAndNeverCloses)
{
    WindowRig rig(CyclorSetup(0)); // the bills wait for a "take" that never comes
    CKRMSCYVMCDlg& window = rig.Window();
    MakeActive(window);
    auto* stop = FindControl<QPushButton>(&window, QStringLiteral("Stop"));
    ASSERT_NE(stop, nullptr);
    EXPECT_FALSE(stop->isEnabled()) << "nothing runs yet";

    // Nothing runs: Escape does nothing at all.
    QTest::keyClick(&window, Qt::Key_Escape);
    QTest::qWait(200);
    EXPECT_TRUE(window.isVisible());
    EXPECT_FALSE(window.IsCloseRequested());

    rig.Control<QPushButton>(1026)->click();
    ASSERT_TRUE(WaitUntil([&] { return window.UnitPicture().Take().dispenser > 0; }, 20s)) << "the picture shows the bills waiting";
    EXPECT_GT(rig.Simulator().Snapshot().ledger.inDispenser, 0);
    ASSERT_TRUE(WaitUntil([&] { return stop->isEnabled(); }, 2s));
    EXPECT_EQ(rig.ResultLine(), QStringLiteral("Dispensing..."));

    QTest::keyClick(&window, Qt::Key_Escape);
    ASSERT_TRUE(WaitUntil([&] { return !window.IsBusy(); }, 30s)) << "the sequence ends at its next turn";
    EXPECT_TRUE(rig.ResultLine().startsWith(QStringLiteral("Dispense:")));
    EXPECT_NE(rig.ResultLine(), QStringLiteral("Dispense: OK"));
    EXPECT_TRUE(rig.LogContains(QStringLiteral("Stopped by the operator: Dispensing sequence")));
    EXPECT_TRUE(FindControl<QLineEdit>(&window, QStringLiteral("Result time"))->text().contains(QStringLiteral("stopped by the operator")));
    EXPECT_TRUE(window.isVisible());
    EXPECT_FALSE(window.IsCloseRequested());
    EXPECT_FALSE(stop->isEnabled());
    EXPECT_GT(window.UnitPicture().Take().dispenser, 0) << "the bills still wait in the dispenser";
}

TEST(Operator, StopSwitchesPollingModeOff)
{
    WindowRig rig(CyclorSetup());
    auto* polling = rig.Control<QCheckBox>(1022);
    polling->click();
    ASSERT_TRUE(WaitUntil([&] { return rig.Application().Engine().IsRunning() && !rig.Window().IsBusy(); }));
    auto* stop = FindControl<QPushButton>(&rig.Window(), QStringLiteral("Stop"));
    ASSERT_TRUE(WaitUntil([&] { return stop->isEnabled(); }, 2s));
    stop->click();
    ASSERT_TRUE(WaitUntil([&] { return !rig.Application().Engine().IsRunning() && !rig.Window().IsBusy(); }, 20s));
    EXPECT_FALSE(polling->isChecked());
    EXPECT_TRUE(rig.Control<QPushButton>(1001)->isEnabled());
    EXPECT_TRUE(rig.LogContains(QStringLiteral("Stopped by the operator: Polling mode")));
}

TEST(Operator, FocusStaysOnTheButtonAndTypedKeysGoWhereTheOperatorLeftThem)
{
    WindowRig rig(CyclorSetup());
    CKRMSCYVMCDlg& window = rig.Window();
    MakeActive(window);
    auto* poll = rig.Control<QPushButton>(1001);
    poll->setFocus();
    ASSERT_TRUE(WaitUntil([&] { return QApplication::focusWidget() == poll; }, 2s));

    const int polls = CountLines(rig, QStringLiteral("->POLL ("));
    for (int press = 1; press <= 2; ++press) {
        bool done = false;
        auto connection = QObject::connect(&window, &CKRMSCYVMCDlg::TaskDone, [&done] { done = true; });
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
        ASSERT_TRUE(WaitUntil([&] { return done; }, 20s)) << "press " << press << " sent nothing";
        QObject::disconnect(connection);
        EXPECT_EQ(QApplication::focusWidget(), poll) << "press " << press;
    }
    EXPECT_EQ(CountLines(rig, QStringLiteral("->POLL (")), polls + 2);

    // Keys typed next go to the button, not into "Enabled bills".
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backspace);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_0);
    EXPECT_EQ(rig.Control<QLineEdit>(1006)->text(), QStringLiteral("FFFFFF"));
}

TEST(Operator, AFieldThatDoesNotParseRefusesEveryCommandThatMovesBills)
{
    WindowRig rig(CyclorSetup());
    struct Case {
        int field;
        const char* text;
        int button;
        const char* message;
    };
    for (auto [field, text, button, message] : {
             Case { 1028, "abc", 1072, "Dispense Command: nothing was sent. The Number of dispense row 1 (\"abc\") is not a whole number." },
             Case { 1031, "300", 1026, "Dispensing sequence: nothing was sent. The Number of dispense row 2 (\"300\") is above 255." },
             Case { 1128, "x", 1014, "Unloading sequence: nothing was sent. The Number of Unload (\"x\") is not a whole number." },
             Case { 1052, "-3", 1044, "Set Cassette Type: nothing was sent. The Bill Type of Cassette settings (\"-3\") is not a whole number from 0 up." },
         }) {
        auto* edit = rig.Control<QLineEdit>(field);
        const QString good = edit->text();
        edit->setText(QString::fromLatin1(text));
        rig.Messages().Clear();
        const auto answered = rig.Simulator().ExchangesAnswered();
        rig.Control<QPushButton>(button)->click();
        QTest::qWait(300);
        EXPECT_FALSE(rig.Window().IsBusy()) << button;
        EXPECT_EQ(rig.Messages().Texts(), QStringList { QString::fromLatin1(message) }) << button;
        EXPECT_EQ(rig.Simulator().ExchangesAnswered(), answered) << button << ": nothing reaches the unit";
        EXPECT_FALSE(edit->styleSheet().isEmpty()) << field << " is marked";
        edit->setText(good);
    }
    EXPECT_EQ(rig.Simulator().Snapshot().ledger.dispensed, 0);

    // With the fields mended, the same command pays out.
    ASSERT_TRUE(rig.Click(1072, 60s));
    EXPECT_EQ(rig.ResultLine(), QStringLiteral("Dispense: OK"));
}

TEST(Operator, TheLogHoldsItsPlaceWhilePollingAndFollowsFromItsEnd)
{
    WindowRig rig(CyclorSetup());
    CKRMSCYVMCDlg& window = rig.Window();
    CLogListModel& model = window.LogModel();
    CLogListView* view = window.LogView();
    rig.Control<QCheckBox>(1121)->click(); // raw frames: every poll adds lines
    ASSERT_TRUE(WaitUntil([&] { return !window.IsBusy(); }));
    rig.Control<QCheckBox>(1022)->click();
    ASSERT_TRUE(WaitUntil([&] { return model.rowCount() > 3 * view->VisibleRows(); }, 30s));

    view->scrollToTop();
    EXPECT_FALSE(view->IsFollowing());
    const int rows = model.rowCount();
    ASSERT_TRUE(WaitUntil([&] { return model.rowCount() > rows + 40; }, 30s));
    QTest::qWait(100);
    EXPECT_EQ(view->TopRow(), 0) << "the view stays where the operator put it";

    view->scrollToBottom();
    EXPECT_TRUE(view->IsFollowing());
    const int later = model.rowCount();
    ASSERT_TRUE(WaitUntil([&] { return model.rowCount() > later + 40; }, 30s));
    QTest::qWait(100);
    EXPECT_EQ(view->verticalScrollBar()->value(), view->verticalScrollBar()->maximum()) << "from the end, new lines are followed";
}

TEST(Operator, TheStatusBarTellsASilentUnit)
{
    WindowRig rig(CyclorSetup());
    CKRMSCYVMCDlg& window = rig.Window();
    rig.Control<QCheckBox>(1022)->click();
    auto* lastPoll = FindControl<QLabel>(&window, QStringLiteral("Status last poll"));
    auto* silence = FindControl<QLabel>(&window, QStringLiteral("Status silence"));
    auto* polling = FindControl<QLabel>(&window, QStringLiteral("Status polling"));
    ASSERT_NE(lastPoll, nullptr);
    ASSERT_NE(silence, nullptr);
    ASSERT_TRUE(WaitUntil([&] {
        return polling->text() == QStringLiteral("Polling") && lastPoll->text().startsWith(QStringLiteral("Last poll "));
    }, 20s));
    EXPECT_TRUE(FindControl<QLabel>(&window, QStringLiteral("Status port"))->text().startsWith(QStringLiteral("COM1 /dev/")));
    EXPECT_TRUE(silence->isHidden());

    rig.Simulator().Control("silent on");
    // One response time-out after the unit fell silent.
    ASSERT_TRUE(WaitUntil([&] { return !silence->isHidden() && silence->text().startsWith(QStringLiteral("No answer for ")); }, 15s));
    EXPECT_GT(window.LinkStatus().Errors(), 0u);

    rig.Simulator().Control("silent off");
    ASSERT_TRUE(WaitUntil([&] { return silence->isHidden(); }, 20s)) << "an answer ends the silence";
}

TEST(Operator, TheUnitPictureFollowsADispenseAndAnUnload)
{
    WindowRig rig(CyclorSetup());
    CKRMSCYVMCDlg& window = rig.Window();
    ASSERT_TRUE(rig.Click(1020));
    window.RefreshStatus();
    CUnitPicture::Snapshot unit = window.UnitPicture().Take();
    ASSERT_TRUE(unit.cassettes[0].known);
    const int before = unit.cassettes[0].count;
    ASSERT_GE(before, 4);
    EXPECT_TRUE(window.UnitView()->Summary().startsWith(QStringLiteral("Cassette 1: ")));

    ASSERT_TRUE(rig.Click(1026, 60s));
    ASSERT_EQ(rig.ResultLine(), QStringLiteral("Dispense: OK"));
    window.RefreshStatus();
    unit = window.UnitPicture().Take();
    EXPECT_EQ(unit.cassettes[0].count, before - 1);
    EXPECT_EQ(unit.billsOut, 1);
    EXPECT_EQ(unit.dispenser, 0);

    rig.Control<QLineEdit>(1128)->setText(QStringLiteral("3"));
    ASSERT_TRUE(rig.Click(1014, 60s));
    EXPECT_EQ(rig.ResultLine(), QStringLiteral("Unload: OK")) << "UNLOADED tells the 3 bills asked";
    window.RefreshStatus();
    unit = window.UnitPicture().Take();
    EXPECT_EQ(unit.cassettes[0].count, before - 4);
    EXPECT_EQ(unit.dropBox, 3);
    EXPECT_EQ(unit.cassettes[0].count, rig.Simulator().Snapshot().ledger.cassettes[0].count) << "the picture is the unit's";
    EXPECT_TRUE(window.UnitView()->Summary().contains(QStringLiteral("Drop box: 3 bills this session")));
}

TEST(Operator, ACaptureRecordedInTheWindowReadsBackAsItsLog)
{
    WindowRig rig(CyclorSetup());
    CKRMSCYVMCDlg& window = rig.Window();
    QTemporaryDir directory;
    const QString path = directory.filePath(QStringLiteral("bench.pcapng"));
    window.SetSaveFileNameProvider([path] { return path; });
    auto action = [&](const char* name) { return ActionNamed(window, name); };
    action("Record capture")->trigger();
    EXPECT_TRUE(FindControl<QLabel>(&window, QStringLiteral("Status recording"))->text().contains(path));
    ASSERT_TRUE(rig.Click(1001));
    ASSERT_TRUE(rig.Click(1020));
    action("Stop recording")->trigger();
    EXPECT_TRUE(rig.Messages().Texts().isEmpty());

    window.LogModel().Clear();
    action("Open capture")->trigger();
    const QStringList read = rig.LogLines();
    ASSERT_FALSE(read.isEmpty());
    EXPECT_EQ(read.first(), QStringLiteral("== Capture %1 ==").arg(path));
    EXPECT_EQ(read.filter(QStringLiteral("->POLL (")).size(), 1) << read.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(read.contains(QStringLiteral("<- Cassette:  1,  Bill Type:  0,  Number:  10,  Status:OK")));
}

TEST(Operator, ARecordingStartedAndStoppedWhilePollingHoldsWholeExchanges)
{
    WindowRig rig(CyclorSetup());
    CKRMSCYVMCDlg& window = rig.Window();
    QTemporaryDir directory;
    const QString path = directory.filePath(QStringLiteral("polling.pcapng"));
    window.SetSaveFileNameProvider([path] { return path; });
    auto action = [&](const char* name) { return ActionNamed(window, name); };
    auto* polling = rig.Control<QCheckBox>(1022);
    polling->click();
    ASSERT_TRUE(WaitUntil([&] { return !window.IsBusy() && rig.Application().Engine().IsRunning(); }));
    // Let the start-up's exchanges and the enabling of the bills pass, so
    // that the recording starts in the steady polls of an idling unit.
    ASSERT_TRUE(WaitUntil([&] { return rig.LogLines().contains(QStringLiteral("<- IDLING")); }, 20s));
    ASSERT_TRUE(window.findChild<QMenu*>(QStringLiteral("Capture"))->menuAction()->isEnabled())
        << "a recording may start while polling";
    EXPECT_FALSE(action("Open capture")->isEnabled()) << "its lines would mix with the polling's";
    action("Record capture")->trigger();
    EXPECT_TRUE(FindControl<QLabel>(&window, QStringLiteral("Status recording"))->text().contains(path));
    const auto answered = rig.Simulator().Snapshot().exchangesAnswered;
    ASSERT_TRUE(WaitUntil([&] { return rig.Simulator().Snapshot().exchangesAnswered >= answered + 4; }, 20s));
    action("Stop recording")->trigger();
    EXPECT_TRUE(rig.Messages().Texts().isEmpty()) << rig.Messages().Texts().join(QLatin1Char('\n')).toStdString();
    polling->click();
    ASSERT_TRUE(WaitUntil([&] { return !window.IsBusy() && !rig.Application().Engine().IsRunning(); }, 20s));

    window.LogModel().Clear();
    action("Open capture")->trigger();
    const QStringList read = rig.LogLines();
    const std::string all = read.join(QLatin1Char('\n')).toStdString();
    EXPECT_GE(read.filter(QStringLiteral("->POLL (")).size(), 3) << all;
    // Begun and ended between exchanges: no frame cut in two, no reply without its command.
    EXPECT_TRUE(read.filter(QStringLiteral("Truncated frame")).isEmpty()) << all;
    EXPECT_TRUE(read.filter(QStringLiteral("Noise")).isEmpty()) << all;
    for (int index = 0; index < read.size(); ++index) {
        if (read[index].startsWith(QStringLiteral("->POLL ("))) {
            EXPECT_TRUE(index + 1 < read.size() && read[index + 1].startsWith(QStringLiteral("<- "))) << all;
        }
    }
}

} // namespace
} // namespace orvex::test

#endif
