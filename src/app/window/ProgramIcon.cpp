#include "app/window/ProgramIcon.h"

#include <QPainter>
#include <QPixmap>

namespace orvex {

namespace {

QPixmap DrawIcon(int size)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal unit = size / 32.0;
    // The cash box.
    painter.setPen(QPen(QColor(40, 40, 60), unit));
    painter.setBrush(QColor(90, 100, 130));
    painter.drawRoundedRect(QRectF(3 * unit, 16 * unit, 26 * unit, 13 * unit), 2 * unit, 2 * unit);
    painter.setBrush(QColor(20, 20, 30));
    painter.drawRect(QRectF(8 * unit, 18 * unit, 16 * unit, 2 * unit));
    // The bill going in.
    painter.setPen(QPen(QColor(20, 80, 30), unit));
    painter.setBrush(QColor(120, 190, 110));
    painter.drawRect(QRectF(9 * unit, 3 * unit, 14 * unit, 16 * unit));
    painter.setBrush(Qt::NoBrush);
    painter.drawEllipse(QPointF(16 * unit, 10 * unit), 3.5 * unit, 3.5 * unit);
    return pixmap;
}

} // namespace

QIcon ProgramIcon()
{
    QIcon icon;
    for (int size : { 16, 32, 48, 64 })
        icon.addPixmap(DrawIcon(size));
    return icon;
}

} // namespace orvex
