#include "app/window/CUnitView.h"

#include "app/window/GuiCall.h"

#include <QContextMenuEvent>
#include <QInputDialog>
#include <QMenu>
#include <QPainter>

#include <algorithm>

namespace orvex {

namespace {

constexpr int kMargin = 6;
constexpr int kBarHeight = 40;
// Title, bar, three lines under the bar, the totals: their heights in
// lines of text, beside the bar.
constexpr int kTextLines = 5;

QString CountText(const CUnitPicture::Cassette& cassette)
{
    if (cassette.capacity > 0)
        return QStringLiteral("%1 of %2").arg(cassette.count).arg(cassette.capacity);
    return QStringLiteral("%1 bills").arg(cassette.count);
}

} // namespace

CUnitView::CUnitView(CUnitPicture& picture, QWidget* parent)
    : QWidget(parent)
    , m_picture(picture)
{
    setObjectName(QStringLiteral("Unit"));
    setAccessibleName(QStringLiteral("Unit: cassettes, drop box, dispenser and session totals"));
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    Refresh();
}

QSize CUnitView::sizeHint() const
{
    return { 300, minimumSizeHint().height() };
}

QSize CUnitView::minimumSizeHint() const
{
    return { 240, 2 * kMargin + kBarHeight + kTextLines * fontMetrics().height() + 6 };
}

QString CUnitView::CassetteText(int index, const CUnitPicture::Cassette& cassette)
{
    QString name = QStringLiteral("Cassette %1").arg(index + 1);
    if (!cassette.known)
        return name + QStringLiteral(": not read yet");
    return QStringLiteral("%1: %2, %3, %4")
        .arg(name, ToQString(cassette.billText), CountText(cassette), ToQString(cassette.status));
}

QString CUnitView::Summary() const
{
    return m_summary;
}

void CUnitView::Refresh()
{
    CUnitPicture::Snapshot snapshot = m_picture.Take();
    QStringList parts;
    for (int i = 0; i < CUnitPicture::kShownCassettes; ++i)
        parts << CassetteText(i, snapshot.cassettes[static_cast<std::size_t>(i)]);
    parts << QStringLiteral("Drop box: %1 bills this session").arg(snapshot.dropBox);
    parts << (snapshot.dispenser > 0 ? QStringLiteral("Dispenser: %1 bills waiting").arg(snapshot.dispenser)
                                     : QStringLiteral("Dispenser: empty"));
    parts << QStringLiteral("In: %1 bills, %2").arg(snapshot.billsIn).arg(ToQString(CUnitPicture::MoneyText(snapshot.moneyIn, snapshot.currency)));
    parts << QStringLiteral("Out: %1 bills, %2").arg(snapshot.billsOut).arg(ToQString(CUnitPicture::MoneyText(snapshot.moneyOut, snapshot.currency)));
    QString summary = parts.join(QStringLiteral("; "));
    if (summary == m_summary)
        return;
    m_snapshot = snapshot;
    m_summary = summary;
    setAccessibleDescription(summary);
    setToolTip(parts.join(QLatin1Char('\n')));
    update();
}

void CUnitView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, false);
    const QPalette& colours = palette();
    painter.fillRect(rect(), colours.color(QPalette::Base));
    painter.setPen(colours.color(QPalette::Mid));
    painter.drawRect(rect().adjusted(0, 0, -1, -1));

    const QFontMetrics metrics(font());
    const int line = metrics.height();
    const int columns = CUnitPicture::kShownCassettes + 1;
    const int columnWidth = (width() - kMargin * (columns + 1)) / columns;
    const int barTop = kMargin + line + 2;
    // The height beyond the minimum goes to the bars.
    const int barHeight = std::max(kBarHeight, height() - minimumSizeHint().height() + kBarHeight);
    const QColor text = colours.color(QPalette::Text);

    for (int i = 0; i < CUnitPicture::kShownCassettes; ++i) {
        const CUnitPicture::Cassette& cassette = m_snapshot.cassettes[static_cast<std::size_t>(i)];
        const int left = kMargin + i * (columnWidth + kMargin);
        painter.setPen(text);
        painter.drawText(QRect(left, kMargin, columnWidth, line), Qt::AlignLeft | Qt::AlignVCenter,
            QStringLiteral("Cassette %1").arg(i + 1));
        QRect bar(left, barTop, columnWidth, barHeight);
        painter.setPen(colours.color(QPalette::Mid));
        painter.setBrush(colours.color(QPalette::AlternateBase));
        painter.drawRect(bar.adjusted(0, 0, -1, -1));
        if (cassette.known && cassette.present) {
            // Against the capacity where known; otherwise a count of bills
            // is drawn against a nominal hundred, so that the bars compare.
            int capacity = cassette.capacity > 0 ? cassette.capacity : std::max(100, cassette.count);
            int filled = bar.height() * std::min(cassette.count, capacity) / std::max(1, capacity);
            QColor fill = cassette.full ? QColor(200, 120, 0) : cassette.escrow ? QColor(120, 90, 200) : QColor(60, 150, 80);
            painter.fillRect(QRect(bar.left() + 1, bar.bottom() - filled + 1, bar.width() - 2, filled), fill);
        } else if (cassette.known) {
            painter.setPen(QColor(190, 0, 0));
            painter.drawLine(bar.topLeft(), bar.bottomRight());
            painter.drawLine(bar.bottomLeft(), bar.topRight());
        }
        painter.setPen(text);
        int y = bar.bottom() + 2;
        auto textLine = [&](const QString& shown) {
            painter.drawText(QRect(left, y, columnWidth, line), Qt::AlignLeft | Qt::AlignVCenter,
                metrics.elidedText(shown, Qt::ElideRight, columnWidth));
            y += line;
        };
        if (cassette.known) {
            textLine(ToQString(cassette.billText));
            textLine(CountText(cassette));
            painter.setPen(cassette.status == "OK" ? text : QColor(190, 0, 0));
            textLine(ToQString(cassette.status));
        } else {
            textLine(QStringLiteral("not read yet"));
        }
    }

    // Drop box and dispenser in the fourth column, the totals underneath all.
    const int left = kMargin + CUnitPicture::kShownCassettes * (columnWidth + kMargin);
    painter.setPen(text);
    int y = kMargin;
    auto rightLine = [&](const QString& shown, const QColor& colour) {
        painter.setPen(colour);
        painter.drawText(QRect(left, y, columnWidth, line), Qt::AlignLeft | Qt::AlignVCenter,
            metrics.elidedText(shown, Qt::ElideRight, columnWidth));
        y += line;
    };
    rightLine(QStringLiteral("Drop box"), text);
    rightLine(QStringLiteral("+%1 bills").arg(m_snapshot.dropBox), text);
    y += line / 2;
    rightLine(QStringLiteral("Dispenser"), text);
    rightLine(m_snapshot.dispenser > 0 ? QStringLiteral("%1 waiting").arg(m_snapshot.dispenser) : QStringLiteral("empty"),
        m_snapshot.dispenser > 0 ? QColor(200, 120, 0) : text);

    painter.setPen(text);
    const QString totals = QStringLiteral("In: %1 bills, %2    Out: %3 bills, %4")
                               .arg(m_snapshot.billsIn)
                               .arg(ToQString(CUnitPicture::MoneyText(m_snapshot.moneyIn, m_snapshot.currency)))
                               .arg(m_snapshot.billsOut)
                               .arg(ToQString(CUnitPicture::MoneyText(m_snapshot.moneyOut, m_snapshot.currency)));
    painter.drawText(QRect(kMargin, barTop + barHeight + 3 * line + 4, width() - 2 * kMargin, line), Qt::AlignLeft | Qt::AlignVCenter,
        metrics.elidedText(totals, Qt::ElideRight, width() - 2 * kMargin));
}

void CUnitView::contextMenuEvent(QContextMenuEvent* event)
{
    QMenu menu(this);
    for (int i = 0; i < CUnitPicture::kShownCassettes; ++i) {
        QAction* action = menu.addAction(QStringLiteral("Capacity of Cassette %1...").arg(i + 1));
        connect(action, &QAction::triggered, this, [this, i] {
            bool ok = false;
            int current = m_snapshot.cassettes[static_cast<std::size_t>(i)].capacity;
            int capacity = QInputDialog::getInt(this, QStringLiteral("Cassette capacity"),
                QStringLiteral("Bills Cassette %1 holds when full (0: not known):").arg(i + 1), current, 0, 10000, 1, &ok);
            if (ok) {
                m_picture.SetCapacity(i, capacity);
                Refresh();
            }
        });
    }
    QAction* reset = menu.addAction(QStringLiteral("Start the session totals again"));
    connect(reset, &QAction::triggered, this, [this] {
        m_picture.ResetTotals();
        Refresh();
    });
    menu.exec(event->globalPos());
}

} // namespace orvex
