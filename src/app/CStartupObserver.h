#pragma once

#include <string>

namespace orvex {

// Told, in order, what the start-up shows: the search window's texts and
// the message boxes. The window shows them; orvexctl prints them. Calls
// come from the thread that runs the start-up; OnMessage returns when the
// message has been acknowledged.
class CStartupObserver {
public:
    virtual ~CStartupObserver() = default;

    // The search window's status text changed.
    virtual void OnSearchText(const std::string&) { }
    // A plain message box with an OK button.
    virtual void OnMessage(const std::string&) { }
    // The search window is shown (true) or hidden and ended (false).
    virtual void OnSearchWindow(bool) { }
    // The search window's animation clip (133 searching, 136 initialising).
    virtual void OnAnimation(int) { }
};

} // namespace orvex
