#pragma once

#include "app/window/FieldCheck.h"

#include <optional>
#include <span>
#include <string>

namespace orvex {

// The fields read by the commands that move bills or change cassettes
// (dispense, unload, cassette type, feeding level), with the values each
// can carry to the unit as it stands. For these commands a field that
// does not hold such a value refuses the command, where the other
// commands go on with the values pulled so far: an input error must not
// pay out.
struct GuardedField {
    int id;          // the edit's control number
    FieldKind kind;
    int minimum;
    int maximum;
    const char* name; // what the message calls the field
};

// The fields of command button `buttonId`; empty for a command that is not
// guarded.
std::span<const GuardedField> GuardedFields(int buttonId);

// Why `text` is refused for `field` ("is not a whole number", "is above
// 255"), or nothing when it is accepted.
std::optional<std::string> RefusalReason(const GuardedField& field, std::string_view text);

} // namespace orvex
