#include "app/window/CAboutDlg.h"

#include "app/CApplication.h"
#include "app/window/GuiCall.h"
#include "app/window/ProgramIcon.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>

namespace orvex {

CAboutDlg::CAboutDlg(QWidget* parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("100"));
    setWindowTitle(QStringLiteral("About KRMSCYVMC"));

    auto* icon = new QLabel(this);
    icon->setObjectName(QStringLiteral("128"));
    icon->setPixmap(ProgramIcon().pixmap(32, 32));
    auto* name = new QLabel(QStringLiteral("ORVEX VMC Core"), this);
    name->setObjectName(QStringLiteral("Name"));
    m_version = new QLabel(QStringLiteral("Version ") + ToQString(CApplication::VersionText()), this);
    m_version->setObjectName(QStringLiteral("1145"));
    m_version->setAccessibleName(QStringLiteral("Version"));
    auto* description = new QLabel(
        QStringLiteral("Bus master and service tool for ORVEX bill validators and Cyclor recyclers"), this);
    description->setObjectName(QStringLiteral("Description"));

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &CAboutDlg::accept);

    auto* layout = new QGridLayout(this);
    layout->addWidget(icon, 0, 0, 3, 1, Qt::AlignTop);
    layout->addWidget(name, 0, 1);
    layout->addWidget(m_version, 1, 1);
    layout->addWidget(description, 2, 1);
    layout->addWidget(buttons, 3, 0, 1, 2);
}

QString CAboutDlg::VersionLine() const
{
    return m_version->text();
}

} // namespace orvex
