#include "app/window/MoneyFieldGuard.h"

namespace orvex {

namespace {

// A dispense row's number: -1 leaves the row out, 0 to 255 bills fit the
// byte the command carries. A bill type goes out as one byte too.
constexpr GuardedField kDispenseRows[] {
    { 1027, FieldKind::Unsigned, 0, 255, "Bill Type of dispense row 1" },
    { 1028, FieldKind::Integer, -1, 255, "Number of dispense row 1" },
    { 1029, FieldKind::Unsigned, 0, 255, "Bill Type of dispense row 2" },
    { 1031, FieldKind::Integer, -1, 255, "Number of dispense row 2" },
    { 1030, FieldKind::Byte, 0, 255, "Bill Type of dispense row 3" },
    { 1032, FieldKind::Integer, -1, 255, "Number of dispense row 3" },
};
constexpr GuardedField kUnloadNumber[] { { 1128, FieldKind::Integer, 0, 255, "Number of Unload" } };
constexpr GuardedField kCassetteBillType[] { { 1052, FieldKind::Byte, 0, 255, "Bill Type of Cassette settings" } };
constexpr GuardedField kFeedingLevel[] { { 1129, FieldKind::Integer, 0, 255, "Level of Feeding level" } };

} // namespace

std::span<const GuardedField> GuardedFields(int buttonId)
{
    switch (buttonId) {
    case 1072: // Dispense Command
    case 1026: // Dispensing sequence
        return kDispenseRows;
    case 1073: // Unload Command
    case 1014: // Unloading sequence
        return kUnloadNumber;
    case 1044: // Set Cassette Type
        return kCassetteBillType;
    case 1179: // Set level
        return kFeedingLevel;
    default:
        return {};
    }
}

std::optional<std::string> RefusalReason(const GuardedField& field, std::string_view text)
{
    auto value = ParseField(text, field.kind);
    if (!value)
        return field.kind == FieldKind::Integer ? std::string("is not a whole number") : std::string("is not a whole number from 0 up");
    if (*value < field.minimum)
        return "is below " + std::to_string(field.minimum);
    if (*value > field.maximum)
        return "is above " + std::to_string(field.maximum);
    return std::nullopt;
}

} // namespace orvex
