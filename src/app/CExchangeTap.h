#pragma once

#include "app/CExchangeWatcher.h"
#include "protocol/COutputInterface.h"

#include <mutex>
#include <vector>

namespace orvex {

class CKRMSProtocol;

// Stands between the protocol engine and its observer (the exchange log)
// and also tells watchers of every exchange, so that the status bar and
// the picture of the unit follow the same exchanges the log shows without
// the log knowing of them.
class CExchangeTap : public COutputInterface {
public:
    CExchangeTap(CKRMSProtocol& protocol, COutputInterface& inner);

    // Watchers are not owned and must outlive the tap's use.
    void AddWatcher(CExchangeWatcher* watcher);
    void RemoveWatcher(CExchangeWatcher* watcher);

    void OutputLine(std::string line) override;
    void OnCommandDone(std::string name) override;

private:
    CKRMSProtocol& m_protocol;
    COutputInterface& m_inner;
    // Guards m_watchers: changed on the window's thread, read on whichever
    // thread finished an exchange.
    std::mutex m_mutex;
    std::vector<CExchangeWatcher*> m_watchers;
};

} // namespace orvex
