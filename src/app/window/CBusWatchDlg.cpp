#include "app/window/CBusWatchDlg.h"

#include "app/window/GuiCall.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

namespace orvex {

namespace {

const QString kNone = QStringLiteral("(none)");

} // namespace

CBusWatchDlg::CBusWatchDlg(WireWatchKind kind, const std::vector<std::pair<std::string, std::string>>& ports,
    QWidget* parent)
    : QDialog(parent)
{
    m_settings.kind = kind;
    const bool relay = kind == WireWatchKind::Relay;
    setObjectName(relay ? QStringLiteral("Relay") : QStringLiteral("Monitor"));
    setWindowTitle(relay ? QStringLiteral("Relay the bus") : QStringLiteral("Monitor the bus"));
    m_first = MakePortBox(relay ? "Controller port" : "Controller side", ports, false);
    m_second = MakePortBox(relay ? "Device port" : "Unit side", ports, !relay);
    if (relay && m_second->count() > 1)
        m_second->setCurrentIndex(1);

    auto* note = new QLabel(relay
            ? QStringLiteral("The tool sits between the two and forwards every byte both ways.")
            : QStringLiteral("Listens only. One port that hears both sides, or a tap cable's two."),
        this);
    note->setWordWrap(true);
    auto* form = new QFormLayout;
    form->addRow(m_first->accessibleName(), m_first);
    form->addRow(m_second->accessibleName() + (relay ? QString() : QStringLiteral(" (optional)")), m_second);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->setObjectName(QStringLiteral("Buttons"));
    connect(buttons, &QDialogButtonBox::accepted, this, &CBusWatchDlg::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &CBusWatchDlg::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(note);
    layout->addLayout(form);
    layout->addWidget(buttons);
}

QComboBox* CBusWatchDlg::MakePortBox(const char* name, const std::vector<std::pair<std::string, std::string>>& ports,
    bool optional)
{
    auto* box = new QComboBox(this);
    box->setObjectName(QString::fromLatin1(name));
    box->setAccessibleName(QString::fromLatin1(name));
    box->setEditable(true);
    box->setInsertPolicy(QComboBox::NoInsert);
    if (optional)
        box->addItem(kNone, QString());
    for (const auto& [slot, path] : ports)
        box->addItem(ToQString(slot + "  " + path), ToQString(path));
    box->setToolTip(QStringLiteral("A port of the list, or a device path or network port typed in"));
    return box;
}

QString CBusWatchDlg::PathOf(const QComboBox* box)
{
    const QString text = box->currentText().trimmed();
    const int index = box->findText(text);
    if (index >= 0)
        return box->itemData(index).toString();
    return text;
}

void CBusWatchDlg::accept()
{
    const QString first = PathOf(m_first);
    const QString second = PathOf(m_second);
    auto refuse = [this](QComboBox* box, const QString& why) {
        ShowMessageBox(this, QStringLiteral("%1: %2").arg(box->accessibleName(), why),
            QStringLiteral("Choose a port of the list or type its path."));
        box->setFocus();
    };
    if (first.isEmpty())
        return refuse(m_first, QStringLiteral("no port chosen"));
    if (second.isEmpty() && m_settings.kind == WireWatchKind::Relay)
        return refuse(m_second, QStringLiteral("no port chosen"));
    if (second == first)
        return refuse(m_second, QStringLiteral("\"%1\" is already the %2").arg(second, m_first->accessibleName().toLower()));
    m_settings.paths = { ToStdString(first) };
    if (!second.isEmpty())
        m_settings.paths.push_back(ToStdString(second));
    QDialog::accept();
}

} // namespace orvex
