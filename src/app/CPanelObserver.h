#pragma once

#include <string>

namespace orvex {

// What the operator panel shows beside its members: message boxes, the
// interim result line ("Wait...", "Dispensing...") and the command
// buttons' enabled state. Called on the thread that runs the handler.
class CPanelObserver {
public:
    virtual ~CPanelObserver() = default;

    // A plain message box with an OK button; returns when acknowledged.
    virtual void OnMessage(const std::string&) { }
    // The result line changed while a handler runs (the window shows it).
    virtual void OnResultLine(const std::string&) { }
    // The command buttons of polling mode are enabled (true) or disabled.
    virtual void OnCommandButtonsEnabled(bool) { }
};

} // namespace orvex
