#include "app/window/CKRMSCYVMCDlg.h"

#include "app/window/CLogListModel.h"
#include "app/window/CLogListView.h"
#include "app/window/GuiCall.h"

#include <QFileDialog>
#include <QItemSelectionModel>
#include <QMessageBox>
#include <QPushButton>
#include <QStatusBar>

namespace orvex {

// ---- Log list --------------------------------------------------------------------

void CKRMSCYVMCDlg::OnLogSelection(int row)
{
    QModelIndex index = m_model->index(row, 0);
    // A technician reading back up the log keeps the place; the newest
    // lines are followed only from the end of the log.
    if (!index.isValid() || !m_logView->IsFollowing())
        return;
    m_logView->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
    m_logView->scrollTo(index);
}

void CKRMSCYVMCDlg::OnClear()
{
    const std::size_t lines = m_model->LineCount();
    if (lines > 0) {
        // Nothing brings the lines back, so the operator confirms.
        QMessageBox box(QMessageBox::Question, QString::fromLatin1(kCaption),
            QStringLiteral("Clear the %1 lines of the log? They cannot be brought back unless saved first.").arg(lines),
            QMessageBox::Ok | QMessageBox::Cancel, this);
        box.setObjectName(QStringLiteral("Clear question"));
        box.button(QMessageBox::Ok)->setText(QStringLiteral("Clear"));
        box.setDefaultButton(QMessageBox::Cancel);
        if (box.exec() != QMessageBox::Ok)
            return;
    }
    m_model->Clear();
}

void CKRMSCYVMCDlg::OnSaveToFile()
{
    SaveLog();
}

bool CKRMSCYVMCDlg::SaveLog()
{
    QString name = m_askFileName ? m_askFileName()
                                 : QFileDialog::getSaveFileName(this, QStringLiteral("Save to file"), QString(),
                                       QStringLiteral("Text files (*.txt);;All files (*)"));
    if (name.isEmpty())
        return false;
    if (!m_model->SaveToFile(name)) {
        ShowMessageBox(this, QStringLiteral("Unable to save file"), QStringLiteral("%1: %2").arg(name, m_model->LastSaveError()));
        return false;
    }
    statusBar()->showMessage(QStringLiteral("Log saved to %1").arg(name), 5000);
    return true;
}

} // namespace orvex
