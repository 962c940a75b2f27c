#pragma once

#include <QIcon>

namespace orvex {

// The program's icon, drawn at start: a bill over a cash box.
QIcon ProgramIcon();

} // namespace orvex
