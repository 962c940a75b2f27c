// The virtual peripheral's state machine: any sequence of well-formed
// command frames, control commands and time steps. Beside the sanitizers:
// the ledger always balances (no bill lost or counted twice), every reply
// is one well-formed frame from the address asked (unless garbage was
// asked for), and no command but the host's ACK and NAK goes unanswered
// while the unit is not silent.
//
// Input: options byte (bit 0 a bill validator instead of a Cyclor unit,
// bit 1 a card reader), then steps (up to 24), each a kind byte: 0 a frame
// (address, code, parameter count 0..12, parameters), 1 a control line
// (text to NUL), 2 a time step (milliseconds, 16 bits), 3 Advance only.
#include "sim/CSimDevice.h"
#include "support/CFuzzInput.h"
#include "support/FuzzCheck.h"
#include "support/FuzzFrames.h"

#include <string>

using namespace orvex;
using namespace orvex::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size)
{
    CFuzzInput input(bytes, size);
    std::uint8_t optionBits = input.Byte();
    SimOptions options;
    options.device = (optionBits & 1) ? SimDeviceKind::Validator : SimDeviceKind::Cyclor;
    options.cardReader = (optionBits & 2) != 0;
    options.pace = 0.01;
    auto now = CSimDevice::Clock::time_point {} + std::chrono::hours(1);
    CSimDevice device(options, now);
    Check(device.SetupError().empty(), "default options refused", device.SetupError());

    bool garbage = false;
    bool nakPending = false;
    for (int step = 0; step < 24 && !input.Empty(); ++step) {
        switch (input.Byte() % 4) {
        case 0: {
            std::uint8_t address = input.Byte() % 6;
            std::uint8_t code = input.Byte();
            Bytes frame { wire::kSync, address, 0, code };
            Bytes parameters = input.Bytes(input.Below(12));
            frame.insert(frame.end(), parameters.begin(), parameters.end());
            frame.push_back(0);
            frame.push_back(0);
            FinishReply(frame);
            bool silent = device.Snapshot(now).silent;
            SimBytes reply = device.HandleFrame(frame, now);
            bool acknowledgement = frame.size() == 6 && (code == 0x00 || code == 0xFF);
            if (!garbage && !reply.empty()) {
                // The message is built only for a finding: it costs more than the step.
                if (reply.size() < 6 || reply[0] != wire::kSync || DeclaredLength(reply) != reply.size())
                    Fail("a reply that is no frame", ReferenceHex(frame) + "-> " + ReferenceHex(reply));
                Check(reply[1] == address, "a reply from another address");
                std::uint16_t check = ReferenceCheckCode(reply.data(), reply.size() - 2);
                bool good = reply[reply.size() - 2] == (check & 0xFF) && reply[reply.size() - 1] == (check >> 8);
                (void)good; // "corrupt next" damages the check code on purpose
            }
            if (device.PlaysAddress(address) && !acknowledgement && !silent)
                Check(!reply.empty(), "a command to a played address went unanswered");
            if (acknowledgement)
                Check(reply.empty(), "the host's ACK or NAK was answered");
            // Only a reply uses up "garbage next"; a frame for another
            // address leaves it for the next one, and the NAK of "nak next"
            // comes first and leaves it too.
            if (!reply.empty()) {
                if (nakPending)
                    nakPending = false;
                else
                    garbage = false;
            }
            break;
        }
        case 1: {
            std::string line = input.Text();
            SimControlParse parse = ParseControlLine(line);
            if (parse.ok && !parse.empty) {
                std::string answer = device.Control(parse.command, now);
                Check(!answer.empty() && answer.find('\n') == std::string::npos, "a control answer empty or on two lines", answer);
                garbage = parse.command.verb == SimControlVerb::Garbage || garbage;
                nakPending = parse.command.verb == SimControlVerb::Nak || nakPending;
            }
            break;
        }
        case 2:
            now += std::chrono::milliseconds(input.Word());
            device.Advance(now);
            break;
        default:
            device.Advance(now);
            break;
        }
        SimSnapshot snapshot = device.Snapshot(now);
        if (!snapshot.ledger.Balanced())
            Fail("the ledger does not balance", device.StateLine(now));
    }
    return 0;
}
