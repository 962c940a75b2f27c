// orvex-vmc: the window of the ORVEX bus master and service tool.

#include "app/CApplication.h"
#include "app/window/CKRMSCYVMCDlg.h"
#include "app/window/CSearchBCDlg.h"
#include "app/window/CStartupRunner.h"
#include "app/window/CTerminationSignal.h"

#include "Version.h"

#include <QApplication>
#include <QDialog>
#include <QPushButton>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

const char* const kNoDisplayAdvice =
    "Run orvexctl instead: it offers the same commands, polling and search in a terminal.\n";

bool IsSet(const char* name)
{
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0';
}

// Qt ends the program with an abort when the display it was told to use
// cannot be reached; say why instead, and end with 1.
void ReportPlatformFailure(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
    if (type == QtFatalMsg) {
        std::fprintf(stderr, "orvex-vmc: the window cannot open: no usable display (%s%s).\n%s",
            IsSet("DISPLAY") ? "DISPLAY=" : "QT_QPA_PLATFORM=",
            IsSet("DISPLAY") ? std::getenv("DISPLAY") : (IsSet("QT_QPA_PLATFORM") ? std::getenv("QT_QPA_PLATFORM") : ""),
            kNoDisplayAdvice);
        std::fflush(stderr);
        _exit(1);
    }
}

// Answers the open message boxes and dialogs, so that what waits on them
// goes on and the program can end.
void CloseModalWindows()
{
    for (int i = 0; i < 8; ++i) {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (dialog == nullptr)
            return;
        dialog->reject();
    }
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("orvex-vmc " ORVEX_VERSION "\n");
        return 0;
    }
    if (!IsSet("DISPLAY") && !IsSet("WAYLAND_DISPLAY") && !IsSet("QT_QPA_PLATFORM")) {
        std::fprintf(stderr,
            "orvex-vmc: no display available: neither DISPLAY nor WAYLAND_DISPLAY is set, and QT_QPA_PLATFORM "
            "names no platform.\n%s",
            kNoDisplayAdvice);
        return 1;
    }
    QtMessageHandler previous = qInstallMessageHandler(ReportPlatformFailure);
    QApplication qtApplication(argc, argv);
    qInstallMessageHandler(previous);
    QApplication::setApplicationName(QStringLiteral("orvex-vmc"));
    QApplication::setApplicationDisplayName(QStringLiteral("ORVEX VMC Core"));
    QApplication::setQuitOnLastWindowClosed(false);
    // The installed desktop entry, so a desktop shows its name and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.orvex.VmcCore"));

    // The words after the program name, Qt's own options taken out.
    std::vector<std::string> words;
    for (int i = 1; i < argc; ++i)
        words.emplace_back(argv[i]);

    orvex::CApplication application;
    orvex::CSearchBCDlg searchWindow;

    // A signal during the search presses its Cancel and answers any message
    // box the search waits on, now and until the search is over; the
    // program then ends instead of opening the main window.
    orvex::CTerminationSignal termination;
    QTimer answerBoxes;
    answerBoxes.setInterval(100);
    QObject::connect(&answerBoxes, &QTimer::timeout, &CloseModalWindows);
    QObject::connect(&termination, &orvex::CTerminationSignal::Requested, &answerBoxes, [&answerBoxes, &searchWindow] {
        if (searchWindow.CancelButton()->isEnabled())
            searchWindow.CancelButton()->click();
        CloseModalWindows();
        answerBoxes.start();
    });

    auto result = orvex::CStartupRunner::Run(application, words, searchWindow);
    answerBoxes.stop();
    QObject::disconnect(&termination, nullptr, &answerBoxes, nullptr);
    if (result == orvex::CApplication::StartupResult::End || termination.Received())
        return 0;

    orvex::CKRMSCYVMCDlg window(application);
    QObject::connect(&termination, &orvex::CTerminationSignal::Requested, &window, [&window] {
        CloseModalWindows();
        // No operator to answer the close question.
        window.CloseWithoutAsking();
    });
    QObject::connect(&window, &orvex::CKRMSCYVMCDlg::Closed, &qtApplication, &QApplication::quit, Qt::QueuedConnection);
    window.Open(application.GetFoundPort());
    return QApplication::exec();
}
