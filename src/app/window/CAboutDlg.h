#pragma once

#include <QDialog>

class QLabel;

namespace orvex {

// "About KRMSCYVMC": the icon, the program's name, its version and what it
// is for.
class CAboutDlg : public QDialog {
    Q_OBJECT

public:
    explicit CAboutDlg(QWidget* parent = nullptr);

    QString VersionLine() const;

private:
    QLabel* m_version;
};

} // namespace orvex
