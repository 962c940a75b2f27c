#pragma once

#include "app/CApplication.h"

#include <string>
#include <vector>

namespace orvex {

class CSearchBCDlg;

// Runs the application's start-up (the device search and initialisation)
// on a worker thread while the GUI thread goes on handling events, so the
// search window paints its texts and the message boxes open on the GUI
// thread while the search waits for them. Returns when the start-up is
// over.
class CStartupRunner {
public:
    static CApplication::StartupResult Run(CApplication& application, const std::vector<std::string>& words,
        CSearchBCDlg& searchWindow);
};

} // namespace orvex
