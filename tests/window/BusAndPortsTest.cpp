#ifdef ORVEX_HAVE_WINDOW

// The window's Bus menu (monitor and relay) and its Port menu's network
// ports and rescan, against ptys, the simulator and a loopback listener.

#include "WindowTestSupport.h"

#include "app/CCaptureRecorder.h"
#include "app/window/CLogListModel.h"
#include "decode/CExchangeLog.h"
#include "decode/CLogSink.h"
#include "link/CPtyPair.h"
#include "link/Frame.h"
#include "link/WireVocabulary.h"
#include "support/Ser2NetServer.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <poll.h>
#include <unistd.h>

#include <memory>

namespace orvex::test {
namespace {

using namespace std::chrono_literals;

QAction* FindAction(QWidget* window, const QString& name)
{
    for (QAction* action : window->findChildren<QAction*>()) {
        if (action->objectName() == name)
            return action;
    }
    return nullptr;
}

void WriteAll(int fd, const std::vector<std::uint8_t>& bytes)
{
    ASSERT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
}

// Reads what comes within `timeout`, until `count` bytes are there.
std::vector<std::uint8_t> ReadSome(int fd, std::size_t count, std::chrono::milliseconds timeout)
{
    std::vector<std::uint8_t> bytes;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (bytes.size() < count && std::chrono::steady_clock::now() < deadline) {
        pollfd entry { fd, POLLIN, 0 };
        if (::poll(&entry, 1, 20) <= 0)
            continue;
        std::uint8_t buffer[256];
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got <= 0)
            break;
        bytes.insert(bytes.end(), buffer, buffer + got);
    }
    return bytes;
}

// Plays the operator in the Bus menu's dialog: the two port boxes.
void AnswerBusDialog(const QString& first, const QString& second)
{
    WhenModalOpens([first, second](QWidget* modal) {
        auto boxes = modal->findChildren<QComboBox*>();
        if (boxes.size() != 2)
            return false;
        if (!first.isEmpty())
            boxes[0]->setEditText(first);
        if (!second.isEmpty())
            boxes[1]->setEditText(second);
        QMetaObject::invokeMethod(modal, "accept", Qt::QueuedConnection);
        return true;
    });
}

class CLineCollector : public CLogSink {
public:
    void AddLine(std::string_view line) override { lines << QString::fromStdString(std::string(line)); }
    void SelectLastLine() override { }
    void SetStatusText(std::string_view) override { }
    QStringList lines;
};

WindowRig::Setup CyclorSetup()
{
    WindowRig::Setup setup;
    setup.sim = FastCyclor();
    return setup;
}

TEST(Bus, AMonitorShowsTheDecodedExchangesRecordsThemAndStops)
{
    WindowRig rig(CyclorSetup());
    CKRMSCYVMCDlg& window = rig.Window();
    CPtyPair controller;
    CPtyPair unit;
    ASSERT_EQ(controller.Open(), 0) << controller.Error();
    ASSERT_EQ(unit.Open(), 0) << unit.Error();
    const QString controllerPath = QString::fromStdString(controller.SlavePath());
    const QString unitPath = QString::fromStdString(unit.SlavePath());

    QTemporaryDir directory;
    const QString capture = directory.filePath(QStringLiteral("field.pcapng"));
    window.SetSaveFileNameProvider([capture] { return capture; });

    window.LogModel().Clear();
    AnswerBusDialog(controllerPath, unitPath);
    FindAction(&window, QStringLiteral("Monitor"))->trigger();
    ASSERT_TRUE(window.IsWatchingBus());
    ASSERT_TRUE(WaitUntil([&] { return rig.LogContains(unitPath + QStringLiteral(": opened at 9600,n,8,1")); }));

    // Nothing may send on the watched bus; recording and Stop stay.
    EXPECT_FALSE(rig.Control<QPushButton>(1001)->isEnabled());
    EXPECT_FALSE(rig.Control<QCheckBox>(1022)->isEnabled());
    EXPECT_FALSE(window.findChild<QMenu*>(QStringLiteral("Bus"))->menuAction()->isEnabled());
    EXPECT_FALSE(window.findChild<QMenu*>(QStringLiteral("Port"))->menuAction()->isEnabled());
    FindAction(&window, QStringLiteral("Record capture"))->trigger();
    window.RefreshStatus();
    EXPECT_EQ(FindControl<QLabel>(&window, QStringLiteral("Status polling"))->text(),
        QStringLiteral("Monitoring %1 and %2").arg(controllerPath, unitPath));
    EXPECT_TRUE(FindControl<QLabel>(&window, QStringLiteral("Status recording"))->text().contains(capture));

    WriteAll(controller.Master(), BuildCommandFrame(1, wire::kPoll));
    WriteAll(unit.Master(), BuildFrame(1, std::vector<std::uint8_t> { wire::kIdling }));
    WriteAll(controller.Master(), BuildAck(1));
    // A command nobody answers: what the assembler holds comes out at Stop.
    ASSERT_TRUE(WaitUntil([&] { return rig.LogContains(QStringLiteral("<- IDLING")); }));
    WriteAll(controller.Master(), BuildCommandFrame(1, wire::kPoll));
    QTest::qWait(200);

    auto* stop = FindControl<QPushButton>(&window, QStringLiteral("Stop"));
    ASSERT_NE(stop, nullptr);
    ASSERT_TRUE(stop->isEnabled());
    stop->click();
    ASSERT_TRUE(WaitUntil([&] { return !window.IsBusy(); }));
    EXPECT_FALSE(window.IsWatchingBus());
    // orvexctl monitor's lines, header times aside.
    QStringList log = rig.LogLines();
    log.replaceInStrings(QRegularExpression(QStringLiteral(" \\(\\d\\d:\\d\\d:\\d\\d\\)$")), QStringLiteral(" (T)"));
    const QString separator = QString::fromLatin1(CExchangeLog::kSeparator);
    const QStringList expected { controllerPath + QStringLiteral(": opened at 9600,n,8,1"), separator,
        unitPath + QStringLiteral(": opened at 9600,n,8,1"), separator, QStringLiteral("->POLL (T)"),
        QStringLiteral("<- IDLING"), separator, QStringLiteral("->POLL (T)"),
        QStringLiteral("<- Timeout"), separator, // the unanswered command, flushed at Stop
        QStringLiteral("== Stopped by the operator: Monitoring %1 and %2 ==").arg(controllerPath, unitPath), separator };
    EXPECT_EQ(log, expected);
    EXPECT_TRUE(rig.Control<QPushButton>(1001)->isEnabled());
    window.RefreshStatus();
    EXPECT_EQ(FindControl<QLabel>(&window, QStringLiteral("Status polling"))->text(), QStringLiteral("Not polling"));

    // The recording holds the watched frames, decoded as the log showed them.
    FindAction(&window, QStringLiteral("Stop recording"))->trigger();
    CLineCollector read;
    std::string error;
    ASSERT_TRUE(DecodeCaptureFile(capture.toStdString(), read, error)) << error;
    EXPECT_TRUE(read.lines.contains(QStringLiteral("<- IDLING"))) << read.lines.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(rig.Messages().Texts().isEmpty()) << rig.Messages().Texts().join(QLatin1Char('\n')).toStdString();

    ASSERT_TRUE(rig.Click(1001)) << "the window's own port is untouched";
    EXPECT_EQ(rig.ResultLine(), QStringLiteral("Poll: OK"));
}

TEST(Bus, ARelayForwardsBothWaysTakesTheWindowsPortAndGivesItBack)
{
    WindowRig rig(CyclorSetup());
    CKRMSCYVMCDlg& window = rig.Window();

    // A port that is not there: named, with the reason, and nothing runs.
    AnswerBusDialog(QStringLiteral("/dev/orvex-test-no-such-tty"), QString());
    FindAction(&window, QStringLiteral("Monitor"))->trigger();
    ASSERT_TRUE(WaitUntil([&] { return !window.IsBusy() && !rig.Messages().Texts().isEmpty(); }));
    EXPECT_EQ(rig.Messages().Texts().first(), QStringLiteral("Monitor: /dev/orvex-test-no-such-tty: No such file or directory"))
        << rig.Messages().Texts().join(QLatin1Char('\n')).toStdString();
    rig.Messages().Clear();

    // The controller on a pty; the unit is the simulator the window had open.
    CPtyPair controller;
    ASSERT_EQ(controller.Open(), 0) << controller.Error();
    AnswerBusDialog(QString::fromStdString(controller.SlavePath()), QString::fromStdString(rig.SimPath()));
    FindAction(&window, QStringLiteral("Relay"))->trigger();
    ASSERT_TRUE(WaitUntil([&] { return rig.LogContains(QString::fromStdString(rig.SimPath()) + QStringLiteral(": opened at")); }));
    WriteAll(controller.Master(), BuildCommandFrame(1, wire::kPoll));
    const std::vector<std::uint8_t> reply = ReadSome(controller.Master(), 6, 5s);
    ASSERT_GE(reply.size(), 6u) << "the unit's reply, forwarded";
    int length = 0;
    EXPECT_EQ(JudgeFrame(reply, length), FrameVerdict::Whole);
    WriteAll(controller.Master(), BuildAck(1));
    ASSERT_TRUE(WaitUntil([&] { return rig.LogContains(QStringLiteral("->POLL (")); }));

    QApplication::setActiveWindow(&window);
    QTest::keyClick(&window, Qt::Key_Escape);
    ASSERT_TRUE(WaitUntil([&] { return !window.IsBusy() && !window.IsWatchingBus(); }));
    EXPECT_TRUE(window.isVisible()) << "Escape stops, never closes";
    ASSERT_TRUE(WaitUntil([&] { return rig.Application().Protocol().GetPort()->IsOpen() && !window.IsBusy(); }))
        << "the window's port, opened again";
    ASSERT_TRUE(rig.Click(1001));
    EXPECT_EQ(rig.ResultLine(), QStringLiteral("Poll: OK"));
    EXPECT_TRUE(rig.Messages().Texts().isEmpty()) << rig.Messages().Texts().join(QLatin1Char('\n')).toStdString();
}

void EnterNetworkPort(QWidget* window, const QString& name)
{
    WhenModalOpens([name](QWidget* modal) {
        auto* dialog = qobject_cast<QInputDialog*>(modal);
        if (dialog == nullptr)
            return false;
        dialog->setTextValue(name);
        QMetaObject::invokeMethod(dialog, "accept", Qt::QueuedConnection);
        return true;
    });
    FindAction(window, QStringLiteral("Network port"))->trigger();
}

TEST(PortMenu, ANetworkPortIsRefusedWhenMalformedOpenedOnLoopbackAndARescanFindsANewPort)
{
    QTemporaryDir directory;
    const std::string later = directory.filePath(QStringLiteral("orvex-later")).toStdString();
    WindowRig::Setup setup = CyclorSetup();
    setup.morePorts = { later };
    WindowRig rig(setup);
    CKRMSCYVMCDlg& window = rig.Window();
    EXPECT_EQ(FindAction(&window, QStringLiteral("COM2")), nullptr) << "not there yet";

    EnterNetworkPort(&window, QStringLiteral("tcp://127.0.0.1"));
    ASSERT_TRUE(WaitUntil([&] { return !window.IsBusy() && !rig.Messages().Texts().isEmpty(); }));
    EXPECT_EQ(rig.Messages().Texts(),
        QStringList { QStringLiteral("Network port tcp://127.0.0.1: a port number 1..65535 is missing after the host") });
    EXPECT_EQ(window.Panel().GetCurrentPort(), 0) << "the port in use stays";
    rig.Messages().Clear();

    // A unit served by ser2net on loopback, as on a machine's controller.
    if (!Ser2NetServer::Available())
        GTEST_SKIP() << "ser2net is not installed (scripts/setup installs it)";
    CSimulator remote(FastCyclor());
    const std::string remotePath = remote.StartPty();
    ASSERT_FALSE(remotePath.empty()) << remote.LastError();
    Ser2NetServer server;
    ASSERT_TRUE(server.Start(remotePath)) << server.Error();
    const QString name = QString::fromStdString(server.RawName());
    const CCOMPort& port = *rig.Application().Protocol().GetPort();
    EnterNetworkPort(&window, name);
    ASSERT_TRUE(WaitUntil([&] { return !window.IsBusy() && FindAction(&window, QStringLiteral("COM5")) != nullptr; }));
    EXPECT_TRUE(rig.Messages().Texts().isEmpty()) << rig.Messages().Texts().join(QLatin1Char('\n')).toStdString();
    QAction* com5 = FindAction(&window, QStringLiteral("COM5"));
    EXPECT_EQ(com5->text(), QStringLiteral("COM5  %1: raw TCP to 127.0.0.1 port %2").arg(name).arg(server.RawPort()));
    EXPECT_TRUE(com5->isChecked());
    EXPECT_FALSE(FindAction(&window, QStringLiteral("COM1"))->isChecked());
    EXPECT_EQ(port.GetOpenIndex(), 4);
    ASSERT_TRUE(rig.Click(1001));
    EXPECT_EQ(rig.ResultLine(), QStringLiteral("Poll: OK"));
    window.RefreshStatus();
    EXPECT_EQ(FindControl<QLabel>(&window, QStringLiteral("Status port"))->text(), QStringLiteral("COM5 ") + name);

    // The adapter plugged in later is found; the open network line stays.
    CPtyPair plugged;
    ASSERT_EQ(plugged.Open(), 0) << plugged.Error();
    ASSERT_EQ(plugged.Link(later), 0) << plugged.Error();
    FindAction(&window, QStringLiteral("Rescan ports"))->trigger();
    ASSERT_TRUE(WaitUntil([&] { return !window.IsBusy(); }));
    QAction* com2 = FindAction(&window, QStringLiteral("COM2"));
    ASSERT_NE(com2, nullptr);
    EXPECT_TRUE(com2->isEnabled());
    EXPECT_TRUE(com2->text().startsWith(QStringLiteral("COM2  ") + QString::fromStdString(later))) << com2->text().toStdString();
    ASSERT_NE(FindAction(&window, QStringLiteral("COM5")), nullptr);
    EXPECT_TRUE(FindAction(&window, QStringLiteral("COM5"))->isChecked());
    EXPECT_EQ(port.GetOpenIndex(), 4);
    ASSERT_TRUE(rig.Click(1001));
    EXPECT_EQ(rig.ResultLine(), QStringLiteral("Poll: OK"));
    server.Stop();
    remote.Stop();
}

TEST(PortMenu, TheStatusBarShowsPollingWaitingForAPulledAdapter)
{
    QTemporaryDir directory;
    const std::string link = directory.filePath(QStringLiteral("ttyORVEX0")).toStdString();
    auto first = std::make_unique<CSimulator>(FastCyclor());
    ASSERT_FALSE(first->StartPty(link).empty()) << first->LastError();
    WindowRig::Setup setup;
    setup.startSim = false;
    setup.morePorts = { link };
    WindowRig rig(setup);
    CKRMSCYVMCDlg& window = rig.Window();
    auto* polling = FindControl<QLabel>(&window, QStringLiteral("Status polling"));
    rig.Control<QCheckBox>(1022)->click();
    ASSERT_TRUE(WaitUntil([&] { return polling->text() == QStringLiteral("Polling"); }, 20s));

    first->Stop(); // the adapter pulled: its link goes
    first.reset();
    ASSERT_TRUE(WaitUntil([&] { return polling->text() == QStringLiteral("Polling: waiting for the adapter to come back"); }, 20s))
        << polling->text().toStdString();
    CSimulator second(FastCyclor());
    ASSERT_FALSE(second.StartPty(link).empty()) << second.LastError();
    ASSERT_TRUE(WaitUntil([&] { return polling->text() == QStringLiteral("Polling"); }, 20s)) << polling->text().toStdString();
    EXPECT_TRUE(rig.LogContains(QString::fromStdString(link) + QStringLiteral(": connected again")));
    ASSERT_TRUE(rig.CloseWindow());
    second.Stop();
}

} // namespace
} // namespace orvex::test

#endif
