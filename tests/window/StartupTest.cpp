#ifdef ORVEX_HAVE_WINDOW

#include "WindowTestSupport.h"

#include "app/CApplication.h"
#include "app/window/CSearchBCDlg.h"
#include "app/window/CStartupRunner.h"
#include "support/PtyPeer.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QKeyEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include <climits>
#include <thread>
#include <csignal>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

namespace orvex::test {
namespace {

using namespace std::chrono_literals;

// The start-up as the window runs it, with the search window's texts and
// the message boxes recorded in order.
struct StartupRun {
    CApplication::StartupResult result { CApplication::StartupResult::End };
    QStringList texts;
    QStringList messages;
    QList<int> clips;
    int foundPort { -1 };
    QString caption;
};

StartupRun RunStartup(const std::vector<std::string>& ports, std::vector<std::string> words = {})
{
    EnsureApplication();
    StartupRun run;
    MessageBoxCloser closer;
    CApplication application { CPortTable(ports) };
    CSearchBCDlg search;
    QObject::connect(&search, &CSearchBCDlg::TextShown, [&](const QString& text) {
        run.texts << text;
        run.clips << search.Clip();
    });
    run.result = CStartupRunner::Run(application, words, search);
    run.messages = closer.Texts();
    run.foundPort = application.GetFoundPort();
    run.caption = search.windowTitle();
    EXPECT_FALSE(search.isVisible()) << "the search window ends before the main window opens";
    return run;
}

TEST(Startup, FindsABillValidator)
{
    CSimulator simulator(FastValidator());
    std::string path = simulator.StartPty();
    ASSERT_FALSE(path.empty());
    StartupRun run = RunStartup({ path });
    EXPECT_EQ(run.result, CApplication::StartupResult::OpenMainWindow);
    EXPECT_EQ(run.foundPort, 0);
    EXPECT_EQ(run.caption, QStringLiteral("ORVEX VMC Core v.") + QString::fromStdString(CApplication::VersionText()));
    EXPECT_TRUE(run.messages.isEmpty()) << run.messages.join(QStringLiteral(" | ")).toStdString();
    QStringList expected { QStringLiteral("Searching for Devices..."), QStringLiteral("Bill Validator found on COM1"),
        QStringLiteral("Initializing Bill Changer..."), QStringLiteral("Starting server program ...") };
    EXPECT_EQ(run.texts, expected);
    ASSERT_EQ(run.clips.size(), 4);
    EXPECT_EQ(run.clips.first(), CSearchBCDlg::kSearchAnimation);
    EXPECT_EQ(run.clips.last(), CSearchBCDlg::kInitAnimation);
    simulator.Stop();
}

TEST(Startup, FindsACyclorUnit)
{
    CSimulator simulator(FastCyclor());
    std::string path = simulator.StartPty();
    ASSERT_FALSE(path.empty());
    StartupRun run = RunStartup({ path });
    EXPECT_EQ(run.result, CApplication::StartupResult::OpenMainWindow);
    EXPECT_TRUE(run.texts.contains(QStringLiteral("Cyclor Unit found on COM1")));
    EXPECT_EQ(run.texts.last(), QStringLiteral("Starting server program ..."));
    EXPECT_TRUE(run.messages.isEmpty()) << run.messages.join(QStringLiteral(" | ")).toStdString();
    simulator.Stop();
}

TEST(Startup, NoDeviceShowsItsMessageAndOpensTheWindowAllTheSame)
{
    StartupRun run = RunStartup({ "/dev/orvex-test-no-such-tty" });
    EXPECT_EQ(run.result, CApplication::StartupResult::OpenMainWindow);
    EXPECT_EQ(run.foundPort, CApplication::kNoPort);
    EXPECT_EQ(run.messages, QStringList { QStringLiteral("No device found. You have to set COM port manualy.") });
    EXPECT_TRUE(run.texts.contains(QStringLiteral("Searching for Card Reader...")));
    EXPECT_EQ(run.texts.last(), QStringLiteral("Card Reader not found..."));
}

TEST(Startup, TheSearchWaitsWhileItsMessageBoxIsOpen)
{
    EnsureApplication();
    CApplication application { CPortTable(std::vector<std::string> { "/dev/orvex-test-no-such-tty" }) };
    CSearchBCDlg search;
    QStringList texts;
    QObject::connect(&search, &CSearchBCDlg::TextShown, [&](const QString& text) { texts << text; });
    bool checked = false;
    // The operator waits a while before closing the box: nothing moves meanwhile.
    WhenModalOpens([&](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        if (box == nullptr)
            return false;
        EXPECT_TRUE(search.isVisible()) << "shown over the search window";
        int textsBefore = static_cast<int>(texts.size());
        WaitUntil([] { return false; }, 300ms);
        EXPECT_EQ(texts.size(), textsBefore);
        checked = true;
        box->accept();
        return true;
    });
    auto result = CStartupRunner::Run(application, {}, search);
    EXPECT_TRUE(checked);
    EXPECT_EQ(result, CApplication::StartupResult::OpenMainWindow);
}

// A stray Escape or a window manager's close does not end the search, and
// the window offers neither a close box nor a system menu.
TEST(Startup, TheSearchWindowIgnoresEscapeAndClose)
{
    EnsureApplication();
    CSearchBCDlg search;
    search.show();
    EXPECT_FALSE(search.windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(search.windowFlags() & Qt::WindowSystemMenuHint);
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(&search, &escape);
    search.close();
    QApplication::processEvents();
    EXPECT_TRUE(search.isVisible());
    ASSERT_NE(search.CancelButton(), nullptr);
    EXPECT_TRUE(search.CancelButton()->isVisible());
}

// "Cancel" stops the search where it is; the main window opens on no
// device, without the card-reader search or its message.
TEST(Startup, CancelStopsTheSearchAndOpensTheMainWindowOnNoDevice)
{
    EnsureApplication();
    std::vector<std::unique_ptr<PtyPeer>> silent;
    std::vector<std::string> ports;
    for (int i = 0; i < 4; ++i) {
        silent.push_back(std::make_unique<PtyPeer>());
        silent.back()->SetResponder([](const Bytes&) { return PeerReply {}; });
        ports.push_back(silent.back()->SlavePath());
    }
    MessageBoxCloser closer;
    CApplication application { CPortTable(ports) };
    CSearchBCDlg search;
    QStringList texts;
    QObject::connect(&search, &CSearchBCDlg::TextShown, [&](const QString& text) {
        texts << text;
        if (text == QStringLiteral("Searching for Devices..."))
            QTimer::singleShot(0, search.CancelButton(), &QPushButton::click);
    });
    const auto result = CStartupRunner::Run(application, {}, search);
    EXPECT_EQ(result, CApplication::StartupResult::OpenMainWindow);
    EXPECT_EQ(application.GetFoundPort(), CApplication::kNoPort);
    EXPECT_TRUE(closer.Texts().isEmpty()) << closer.Texts().join(QStringLiteral(" | ")).toStdString();
    EXPECT_FALSE(texts.contains(QStringLiteral("Searching for Card Reader...")));
    EXPECT_LT(silent.back()->Commands().size(), 1u) << "the search went on to the last port";
    EXPECT_FALSE(search.isVisible());
}

// ---- Without a display -------------------------------------------------------------

std::string ProgramBeside(const char* name)
{
    char self[PATH_MAX] {};
    ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0)
        return {};
    std::string path(self, static_cast<std::size_t>(length));
    return path.substr(0, path.rfind('/') + 1) + name;
}

TEST(Startup, WithoutADisplayEndsWithOneAndNamesTheCause)
{
    std::string program = ProgramBeside("orvex-vmc");
    if (access(program.c_str(), X_OK) != 0)
        GTEST_SKIP() << program << " is not built";
    int output[2];
    ASSERT_EQ(pipe(output), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, output[1], STDERR_FILENO);
    posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, output[0]);
    char* argv[] = { program.data(), nullptr };
    char pathVariable[] = "PATH=/usr/bin:/bin";
    char portsVariable[] = "ORVEX_PORTS=/dev/orvex-test-no-such-tty";
    char* environment[] = { pathVariable, portsVariable, nullptr };
    pid_t child = -1;
    ASSERT_EQ(posix_spawn(&child, program.c_str(), &actions, nullptr, argv, environment), 0);
    posix_spawn_file_actions_destroy(&actions);
    ::close(output[1]);

    std::string text;
    auto deadline = std::chrono::steady_clock::now() + 10s;
    for (;;) {
        pollfd wait { output[0], POLLIN, 0 };
        if (poll(&wait, 1, 100) == 1) {
            char buffer[512];
            ssize_t count = read(output[0], buffer, sizeof buffer);
            if (count <= 0)
                break;
            text.append(buffer, static_cast<std::size_t>(count));
        }
        if (std::chrono::steady_clock::now() >= deadline)
            break;
    }
    ::close(output[0]);
    int status = 0;
    pid_t ended = 0;
    while ((ended = waitpid(child, &status, WNOHANG)) == 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(20ms);
    if (ended != child) {
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
        FAIL() << "orvex-vmc did not end without a display";
    }
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_NE(text.find("no display"), std::string::npos) << text;
    EXPECT_NE(text.find("DISPLAY"), std::string::npos) << text;
    EXPECT_NE(text.find("orvexctl"), std::string::npos) << text;
}

} // namespace
} // namespace orvex::test

#endif
