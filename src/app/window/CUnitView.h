#pragma once

#include "app/CUnitPicture.h"

#include <QWidget>

namespace orvex {

// A picture of the Cyclor unit: the three cassettes as bars filled to
// their count (of the capacity, where known) with bill type and status,
// the drop box and the dispenser, and the session's money in and out.
// Paints what CUnitPicture holds; its accessible description says the same
// in words. The context menu sets a cassette's capacity.
class CUnitView : public QWidget {
    Q_OBJECT

public:
    explicit CUnitView(CUnitPicture& picture, QWidget* parent = nullptr);

    // Takes a new snapshot and repaints when it changed.
    void Refresh();
    // The picture in words: one sentence per cassette, then the drop box,
    // the dispenser and the totals.
    QString Summary() const;
    static QString CassetteText(int index, const CUnitPicture::Cassette& cassette);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    CUnitPicture& m_picture;
    CUnitPicture::Snapshot m_snapshot;
    QString m_summary;
};

} // namespace orvex
