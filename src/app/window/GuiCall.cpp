#include "app/window/GuiCall.h"

#include <QMessageBox>
#include <QMetaObject>
#include <QObject>
#include <QThread>
#include <QWidget>

namespace orvex {

void CallOnGuiThread(QObject* context, const std::function<void()>& call)
{
    if (QThread::currentThread() == context->thread()) {
        call();
        return;
    }
    QMetaObject::invokeMethod(context, [&call] { call(); }, Qt::BlockingQueuedConnection);
}

void ShowMessageBox(QWidget* parent, const QString& text)
{
    ShowMessageBox(parent, text, QString());
}

void ShowMessageBox(QWidget* parent, const QString& text, const QString& detail)
{
    QMessageBox box(QMessageBox::Warning, QString::fromLatin1(kMessageBoxTitle), text, QMessageBox::Ok, parent);
    box.setObjectName(QStringLiteral("MessageBox"));
    box.setAccessibleName(text);
    if (!detail.isEmpty()) {
        box.setInformativeText(detail);
        box.setAccessibleDescription(detail);
    }
    box.exec();
}

QString ToQString(const std::string& text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

std::string ToStdString(const QString& text)
{
    return text.toStdString();
}

} // namespace orvex
