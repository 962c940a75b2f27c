#include "app/window/CSearchBCDlg.h"

#include "app/CApplication.h"
#include "app/window/GuiCall.h"
#include "app/window/ProgramIcon.h"

#include <QCloseEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace orvex {

CSearchBCDlg::CSearchBCDlg(QWidget* parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("SearchWindow"));
    setWindowTitle(QStringLiteral("ORVEX VMC Core v.") + ToQString(CApplication::VersionText()));
    setWindowIcon(ProgramIcon());
    setModal(false);
    // A caption only: no close box, no system menu.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);

    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("SearchText"));
    m_status->setAccessibleName(QStringLiteral("Search status"));
    m_status->setMinimumWidth(320);
    m_status->setAlignment(Qt::AlignCenter);

    // A busy bar (no range) stands for the clips; its name says which.
    m_busy = new QProgressBar(this);
    m_busy->setObjectName(QStringLiteral("Animation"));
    m_busy->setRange(0, 0);
    m_busy->setTextVisible(false);

    m_cancel = new QPushButton(QStringLiteral("Cancel"), this);
    m_cancel->setObjectName(QStringLiteral("Cancel"));
    m_cancel->setAccessibleName(QStringLiteral("Cancel"));
    m_cancel->setAutoDefault(false);
    connect(m_cancel, &QPushButton::clicked, this, [this] {
        m_cancel->setEnabled(false);
        m_status->setText(QStringLiteral("Cancelling..."));
        emit CancelRequested();
    });

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_busy);
    layout->addWidget(m_status);
    layout->addWidget(m_cancel, 0, Qt::AlignHCenter);
    ShowClip(kSearchAnimation);
}

CSearchBCDlg::~CSearchBCDlg() = default;

QString CSearchBCDlg::StatusText() const
{
    return m_status->text();
}

void CSearchBCDlg::ShowClip(int clip)
{
    m_clip = clip;
    m_busy->setProperty("clip", clip);
    m_busy->setAccessibleName(clip == kInitAnimation ? QStringLiteral("Initializing") : QStringLiteral("Searching"));
}

void CSearchBCDlg::OnSearchText(const std::string& text)
{
    QString shown = ToQString(text);
    // Queued, not waited for: the search goes on while the text shows, and
    // a later message box still comes after it.
    QMetaObject::invokeMethod(this, [this, shown] {
        m_status->setText(shown);
        emit TextShown(shown);
    }, Qt::QueuedConnection);
}

void CSearchBCDlg::OnMessage(const std::string& text)
{
    QString shown = ToQString(text);
    CallOnGuiThread(this, [this, &shown] {
        emit MessageShown(shown);
        ShowMessageBox(isVisible() ? this : nullptr, shown);
    });
}

void CSearchBCDlg::OnSearchWindow(bool shown)
{
    QMetaObject::invokeMethod(this, [this, shown] {
        if (shown) {
            show();
            raise();
            activateWindow();
        } else {
            hide();
        }
    }, Qt::QueuedConnection);
}

void CSearchBCDlg::OnAnimation(int clip)
{
    QMetaObject::invokeMethod(this, [this, clip] { ShowClip(clip); }, Qt::QueuedConnection);
}

void CSearchBCDlg::closeEvent(QCloseEvent* event)
{
    // Only the start-up ends this window; "Cancel" is the way to stop it.
    event->ignore();
}

void CSearchBCDlg::reject()
{
    // Escape: nothing.
}

} // namespace orvex
