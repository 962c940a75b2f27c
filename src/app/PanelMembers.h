#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace orvex {

// The "Status" radio buttons of "Cassette settings".
enum class CassetteStatusChoice {
    Assigned,    // "Cassette assigned": the "Bill Type" field as it is
    NotAssigned, // "Not assigned"
    Escrow,      // "Escrow": the "Bill Type" field becomes 24
};

// The main window's members, named after their controls, with their
// initial values. The window pulls its controls into these before a
// handler runs and pushes them back afterwards; orvexctl fills them from
// its arguments. Combo box indexes are -1 when nothing is selected.
struct PanelMembers {
    std::string resultLine;                 // 1004
    std::string enabledBills { "FFFFFF" };  // 1006, hexadecimal
    std::string escrowMask { "000000" };    // 1007, hexadecimal
    std::string security { "000000" };      // 1016, hexadecimal
    int pollingMode { 0 };                  // 1022 (1 in the window's constructor, 0 before it is shown)
    unsigned dispenseType1 { 0 };           // 1027
    int dispenseNumber1 { 1 };              // 1028
    unsigned dispenseType2 { 1 };           // 1029
    int dispenseNumber2 { -1 };             // 1031
    std::uint8_t dispenseType3 { 2 };       // 1030
    int dispenseNumber3 { -1 };             // 1032
    std::uint8_t cassetteBillType { 0 };    // 1052
    int rts { 1 };                          // 1070
    int deviceAddress { 3 };                // 1074, index = bus address 0..4
    int communicationData { 0 };            // 1121 "Display communication data"
    std::uint8_t barcodeLength { 18 };      // 1075, 6..18
    int unloadCassette { 0 };               // 1132 "Uload from"
    int unloadNumber { 1 };                 // 1128 "Number "
    int settingsCassette { 0 };             // 1133
    CassetteStatusChoice cassetteStatus { CassetteStatusChoice::Assigned };
    int displayExchange { 1 };              // 1134
    std::string options { "60000000" };     // 1140, hexadecimal
    int extendedStatusCassette { 0 };       // 1135
    int reset { 0 };                        // 1146 "Reset" in "Sequences"
    int resetOnError { 0 };                 // 1155
    int returnBills { 0 };                  // 1156 "Return"
    std::uint8_t diagnosticCassette { 1 };  // 1173, 1..16
    std::string diagnosticCode { "0" };     // 1174, hexadecimal
    std::vector<std::string> diagnosticCodeList { "0", "1", "2" }; // the list of 1174
    std::string diagnosticData { "0" };     // 1176, up to 16 hexadecimal digits
    std::uint8_t diagnosticByte { 0 };      // 1177
    int feedingCassette { 0 };              // 1136
    int feedingDisable { 0 };               // 1178
    int feedingLevel { 1 };                 // 1129 "Level:"

    bool operator==(const PanelMembers&) const = default;
};

// The four values of the timing settings dialog.
struct TimingSettings {
    // The longest time-out or interval taken (ten minutes), as orvexctl's
    // options take it: a slip of the keyboard must not make stopping
    // polling or closing the window wait for hours.
    static constexpr int kMaxMilliseconds = 600000;

    int responseTimeout { 2000 };     // ms
    int pollingInterval { 150 };      // ms
    int intercommandInterval { 20 };  // ms
    int commandPrefix { 0 };          // 0 "NONE", 1 "Telequip"
};

} // namespace orvex
