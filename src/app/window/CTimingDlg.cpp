#include "app/window/CTimingDlg.h"

#include "app/window/FieldCheck.h"
#include "app/window/GuiCall.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include <algorithm>

namespace orvex {

namespace {

QLineEdit* MakeEdit(QWidget* parent, int id, const char* label, int value)
{
    auto* edit = new QLineEdit(QString::number(value), parent);
    edit->setObjectName(QString::number(id));
    edit->setAccessibleName(QString::fromLatin1(label));
    return edit;
}

} // namespace

CTimingDlg::CTimingDlg(const TimingSettings& values, QWidget* parent)
    : QDialog(parent)
    , m_values(values)
{
    setObjectName(QStringLiteral("153"));
    setWindowTitle(QStringLiteral("Timing settings"));

    m_responseTimeout = MakeEdit(this, 1142, "Response timeout", values.responseTimeout);
    m_pollingInterval = MakeEdit(this, 1071, "Polling interval", values.pollingInterval);
    m_intercommandInterval = MakeEdit(this, 1075, "Intercommand Interval", values.intercommandInterval);
    m_commandPrefix = new QComboBox(this);
    m_commandPrefix->setObjectName(QStringLiteral("1157"));
    m_commandPrefix->setAccessibleName(QStringLiteral("Command Prefix"));
    m_commandPrefix->addItems({ QStringLiteral("NONE"), QStringLiteral("Telequip") });
    m_commandPrefix->setCurrentIndex(std::clamp(values.commandPrefix, 0, 1));

    // The captions stay; the unit follows each field.
    auto* form = new QFormLayout;
    auto withUnit = [this](QLineEdit* edit) {
        auto* row = new QHBoxLayout;
        row->addWidget(edit, 1);
        auto* unit = new QLabel(QStringLiteral("ms"), this);
        unit->setBuddy(edit);
        row->addWidget(unit);
        edit->setAccessibleDescription(QStringLiteral("milliseconds"));
        return row;
    };
    form->addRow(QStringLiteral("Response timeout"), withUnit(m_responseTimeout));
    form->addRow(QStringLiteral("Polling interval"), withUnit(m_pollingInterval));
    form->addRow(QStringLiteral("Intercommand Interval"), withUnit(m_intercommandInterval));
    form->addRow(QStringLiteral("Command Prefix"), m_commandPrefix);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->setObjectName(QStringLiteral("Buttons"));
    connect(buttons, &QDialogButtonBox::accepted, this, &CTimingDlg::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &CTimingDlg::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
}

void CTimingDlg::accept()
{
    TimingSettings values = m_values;
    for (auto [edit, member] : { std::pair { m_responseTimeout, &values.responseTimeout },
             std::pair { m_pollingInterval, &values.pollingInterval },
             std::pair { m_intercommandInterval, &values.intercommandInterval } }) {
        auto number = ParseField(ToStdString(edit->text()), FieldKind::Integer);
        if (!number) {
            ShowMessageBox(this, ToQString(FieldMessage(FieldKind::Integer)),
                QStringLiteral("%1 (ms): \"%2\" is not a whole number of milliseconds.").arg(edit->accessibleName(), edit->text()));
            edit->setFocus();
            edit->selectAll();
            return;
        }
        // Bounded as orvexctl bounds its options; negative values are 0.
        *member = static_cast<int>(std::clamp<std::int64_t>(*number, 0, TimingSettings::kMaxMilliseconds));
    }
    int prefix = m_commandPrefix->currentIndex();
    values.commandPrefix = prefix == 1 ? 1 : 0;
    m_values = values;
    QDialog::accept();
}

} // namespace orvex
