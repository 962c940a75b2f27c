#include "app/window/CLinkStatusBar.h"

#include "app/window/GuiCall.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>

namespace orvex {

CLinkStatusBar::CLinkStatusBar(QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("Status bar"));
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(4, 0, 4, 0);
    layout->setSpacing(12);
    m_port = AddField("Port");
    m_speed = AddField("Speed");
    m_address = AddField("Address");
    m_polling = AddField("Polling");
    m_lastPoll = AddField("Last poll", 1);
    m_counts = AddField("Exchanges");
    m_silence = AddField("Silence");
    m_extra = AddField("Recording");
    m_silence->setStyleSheet(QStringLiteral("color: #c00000; font-weight: bold;"));
    m_silence->hide();
    m_extra->hide();
}

QLabel* CLinkStatusBar::AddField(const char* name, int stretch)
{
    auto* label = new QLabel;
    label->setObjectName(QStringLiteral("Status ") + QString::fromLatin1(name).toLower());
    label->setAccessibleName(QString::fromLatin1(name));
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    static_cast<QHBoxLayout*>(layout())->addWidget(label, stretch);
    return label;
}

void CLinkStatusBar::Show(const CLinkStatus::Fields& fields)
{
    auto set = [](QLabel* label, const std::string& text) {
        QString shown = ToQString(text);
        if (label->text() != shown)
            label->setText(shown);
    };
    set(m_port, fields.port);
    set(m_speed, fields.speed);
    set(m_address, fields.address);
    set(m_polling, fields.polling);
    set(m_lastPoll, fields.lastPoll);
    set(m_counts, fields.counts);
    set(m_silence, fields.silence);
    m_silence->setVisible(fields.silent);
}

void CLinkStatusBar::SetExtra(const QString& text)
{
    m_extra->setText(text);
    m_extra->setVisible(!text.isEmpty());
}

} // namespace orvex
