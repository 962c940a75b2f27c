#pragma once

#include "capture/CWireWatch.h"

#include <QDialog>

#include <string>
#include <utility>
#include <vector>

class QComboBox;

namespace orvex {

// "Monitor the bus" (one port, or a tap cable's two) and "Relay the bus"
// (the controller's port and the unit's): the ports chosen from the port
// table or typed as paths. OK checks the fields (the dialog stays open,
// the message naming the field, on a missing or repeated port).
class CBusWatchDlg : public QDialog {
    Q_OBJECT

public:
    // `ports`: the port table's names and paths ("COM1", "/dev/ttyUSB0").
    CBusWatchDlg(WireWatchKind kind, const std::vector<std::pair<std::string, std::string>>& ports,
        QWidget* parent = nullptr);

    // The settings as accepted.
    const WireWatchSettings& Settings() const { return m_settings; }

public slots:
    void accept() override;

private:
    QComboBox* MakePortBox(const char* name, const std::vector<std::pair<std::string, std::string>>& ports,
        bool optional);
    // The path a box holds: an item's path, or the text typed.
    static QString PathOf(const QComboBox* box);

    QComboBox* m_first;
    QComboBox* m_second;
    WireWatchSettings m_settings;
};

} // namespace orvex
