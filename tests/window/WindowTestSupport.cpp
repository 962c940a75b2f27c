#include "WindowTestSupport.h"

#ifdef ORVEX_HAVE_WINDOW

#include "app/window/CLogListModel.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>

#include <cstdlib>
#include <thread>

// Read by LeakSanitizer at start-up in sanitized builds. Fontconfig keeps
// caches for the life of the process that it never frees; only its own
// allocations are excused.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libfontconfig.so\n";
}

namespace orvex::test {

void EnsureApplication()
{
    static int argc = 1;
    static char name[] = "test_window";
    static char* argv[] = { name, nullptr };
    if (QApplication::instance() != nullptr)
        return;
    if (std::getenv("QT_QPA_PLATFORM") == nullptr)
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // Never destroyed: its destructor would run among the static
    // destructors of Qt's own globals, some of which are gone by then.
    static QApplication* application = new QApplication(argc, argv);
    (void)application;
}

bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout)
{
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

MessageBoxCloser::MessageBoxCloser()
{
    connect(&m_timer, &QTimer::timeout, this, &MessageBoxCloser::Sweep);
    m_timer.start(20);
}

void MessageBoxCloser::Sweep()
{
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        auto* box = qobject_cast<QMessageBox*>(widget);
        if (box == nullptr || !box->isVisible() || box->property("closedByTest").toBool())
            continue;
        box->setProperty("closedByTest", true);
        m_texts << box->text();
        if (QAbstractButton* ok = box->button(QMessageBox::Ok))
            ok->click();
        else
            box->accept();
    }
}

void WhenModalOpens(const std::function<bool(QWidget*)>& act)
{
    auto* timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, timer, [timer, act] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal != nullptr && act(modal))
            timer->deleteLater();
    });
    timer->start(20);
}

SimOptions FastCyclor()
{
    SimOptions options;
    options.device = SimDeviceKind::Cyclor;
    options.pace = 0.02;
    options.escrowTimeoutSeconds = 0;
    options.takeTimeoutSeconds = 5;
    return options;
}

SimOptions FastValidator()
{
    SimOptions options = FastCyclor();
    options.device = SimDeviceKind::Validator;
    return options;
}

WindowRig::WindowRig(Setup setup)
    : m_simulator(setup.sim)
{
    EnsureApplication();

    std::vector<std::string> paths;
    if (setup.startSim) {
        m_simPath = m_simulator.StartPty();
        if (m_simPath.empty())
            throw std::runtime_error("simulator: " + m_simulator.LastError());
        paths.push_back(m_simPath);
    }
    paths.insert(paths.end(), setup.morePorts.begin(), setup.morePorts.end());
    m_application = std::make_unique<CApplication>(CPortTable(paths));
    m_application->Engine().SetDeviceAddress(setup.deviceAddress);
    m_messages = std::make_unique<MessageBoxCloser>();
    m_window = std::make_unique<CKRMSCYVMCDlg>(*m_application);
    m_window->Open(setup.foundPort);
    if (setup.initialise && setup.startSim && setup.foundPort == 0)
        m_application->Device().InitValidator(setup.deviceAddress);
    m_window->LogModel().FlushPending();
}

WindowRig::~WindowRig()
{
    if (!m_closed)
        CloseWindow();
    m_window.reset();
    m_application.reset();
    m_messages.reset();
    m_simulator.Stop();
}

bool WindowRig::Click(int id, std::chrono::milliseconds timeout)
{
    auto* button = Control<QPushButton>(id);
    if (button == nullptr || !button->isEnabled())
        return false;
    bool done = false;
    auto connection = QObject::connect(m_window.get(), &CKRMSCYVMCDlg::TaskDone, [&done] { done = true; });
    button->click();
    bool finished = WaitUntil([&] { return done || !m_window->IsBusy(); }, timeout);
    QObject::disconnect(connection);
    // The lines written by the handler reach the list at the next frame.
    m_window->LogModel().FlushPending();
    return finished;
}

QString WindowRig::ResultLine()
{
    return Control<QLineEdit>(1004)->text();
}

QStringList WindowRig::LogLines()
{
    CLogListModel& model = m_window->LogModel();
    model.FlushPending();
    QStringList lines;
    for (std::size_t i = 0; i < model.LineCount(); ++i)
        lines << QString::fromStdString(model.Line(i));
    return lines;
}

bool WindowRig::LogContains(const QString& part)
{
    for (const QString& line : LogLines()) {
        if (line.contains(part))
            return true;
    }
    return false;
}

bool WindowRig::CloseWindow(std::chrono::milliseconds timeout)
{
    bool closed = false;
    auto connection = QObject::connect(m_window.get(), &CKRMSCYVMCDlg::Closed, [&closed] { closed = true; });
    m_window->close();
    bool ended = WaitUntil([&] { return closed; }, timeout);
    QObject::disconnect(connection);
    m_closed = ended;
    return ended;
}

} // namespace orvex::test

#endif
