#include "app/window/CStartupRunner.h"

#include "app/window/CSearchBCDlg.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QMetaObject>

#include <thread>

namespace orvex {

CApplication::StartupResult CStartupRunner::Run(CApplication& application, const std::vector<std::string>& words,
    CSearchBCDlg& searchWindow)
{
    QEventLoop loop;
    const QMetaObject::Connection cancel = QObject::connect(&searchWindow, &CSearchBCDlg::CancelRequested,
        &loop, [&application] { application.CancelStartup(); });
    CApplication::StartupResult result = CApplication::StartupResult::End;
    std::thread search([&] {
        result = application.Startup(words, searchWindow);
        // Queued behind the search window's last texts, so they are all
        // shown before the loop ends.
        QMetaObject::invokeMethod(&loop, [&loop] { loop.quit(); }, Qt::QueuedConnection);
    });
    loop.exec();
    search.join();
    QObject::disconnect(cancel);
    // The texts and show/hide calls still queued for the search window.
    QCoreApplication::sendPostedEvents(&searchWindow);
    searchWindow.hide();
    return result;
}

} // namespace orvex
