#pragma once

#include "link/CCommand.h"
#include "link/WireVocabulary.h"
#include "protocol/CKRMSProtocol.h"
#include "support/CScriptedUnit.h"

namespace orvex::fuzz {

// Ends a run with the engine as every run leaves it: one exchange of the
// same ACK frame (so the same record and last frames are kept) and no
// script left. A run then frees all it allocated; one that keeps more
// than it frees makes libFuzzer run the input again and scan the heap for
// leaks, which costs many times the run.
inline void SettleEngine(CKRMSProtocol& protocol, CScriptedUnit& unit)
{
    static const std::uint8_t ack[6] { wire::kSync, 1, 6, wire::kAck, 0, 0 };
    unit.ClearReplies();
    protocol.Exchange(CCommand(ack, 0, 6), 1);
    protocol.CommandDone("POLL");
    unit.ClearReplies();
}

} // namespace orvex::fuzz
