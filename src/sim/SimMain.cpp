// orvex-sim: a virtual ORVEX peripheral on a pseudo-terminal or a serial line.

#include "Version.h"
#include "sim/CReplayScript.h"
#include "sim/CSimCapture.h"
#include "sim/CSimulator.h"
#include "sim/SimArguments.h"
#include "sim/SimControl.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using namespace orvex;

int g_signalPipe[2] = { -1, -1 };

void OnSignal(int)
{
    std::uint8_t byte = 1;
    [[maybe_unused]] ssize_t put = ::write(g_signalPipe[1], &byte, 1);
}

void PrintHelp()
{
    std::printf(
        "usage: orvex-sim [options]\n"
        "A virtual ORVEX peripheral: a Cyclor unit (address 1) or a bill validator (3),\n"
        "optionally with a card reader (4), on a pseudo-terminal or a serial line.\n"
        "\n"
        "Where it listens:\n"
        "  --pty                     create a pseudo-terminal (default); its slave path is\n"
        "                            the first line of standard output\n"
        "  --link PATH               also make a symlink PATH to the slave (removed on exit;\n"
        "                            only where no file exists)\n"
        "  --port DEVICE             serve a real serial line instead, e.g. /dev/ttyUSB1\n"
        "  --baud 9600|19200         line speed of --port (default 9600)\n"
        "  --control PATH            also take control lines on a Unix socket (mode 0600)\n"
        "  --capture FILE            keep every frame of the line in a pcapng capture\n"
        "  --replay FILE             answer each command with the reply recorded after the\n"
        "                            same command in a capture; say where the host departs\n"
        "\n"
        "What it plays:\n"
        "  --device cy|bv            Cyclor unit (default) or bill validator\n"
        "  --card-reader             also a card reader at address 4\n"
        "  --bills CUR:V1,V2,...     bill table, types 0.. in order (default USD:1,2,5,10,20,50,100);\n"
        "                            an empty item leaves a type unused; type 23 is the coupon\n"
        "  --cassette N:TYPE:COUNT[:CAPACITY]\n"
        "                            cassette N (1..3): bill type (24 escrow, 31 none), bills,\n"
        "                            capacity up to 249 (default 1:0:10:100 2:1:10:100 3:2:10:100)\n"
        "  --clock-offset HOURS      unit clock = host time + HOURS (default 0)\n"
        "\n"
        "Timing:\n"
        "  --pace F                  scales every transition (default 1.0; tests use 0.02)\n"
        "  --escrow-timeout SECONDS  a bill in escrow is returned after this (default 10,\n"
        "                            not scaled; 0 = never)\n"
        "  --take-timeout SECONDS    dispensed bills are taken by themselves after this times\n"
        "                            the pace (default 5; 0 = wait for take)\n"
        "  --seed N                  seed of the random bills and noise (default 1)\n"
        "\n"
        "  --help                    this text     --version   the version\n"
        "\n"
        "Control commands (standard input or --control), one a line, one line answered:\n");
    std::fputs(SimControlHelp(), stdout);
}

} // namespace

int main(int argc, char** argv)
{
    SimArgumentsResult parsed = ParseSimArguments(std::vector<std::string>(argv + 1, argv + argc));
    if (!parsed.valid) {
        std::fprintf(stderr, "%s\n", parsed.Message().c_str());
        return 2;
    }
    const SimArguments& arguments = parsed.arguments;
    if (arguments.action == SimRunAction::Help) {
        PrintHelp();
        return 0;
    }
    if (arguments.action == SimRunAction::Version) {
        std::printf("orvex-sim " ORVEX_VERSION "\n");
        return 0;
    }
    const bool portGiven = !arguments.portPath.empty();

    if (pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        std::perror("orvex-sim: pipe");
        return 1;
    }
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);

    CSimulator simulator(arguments.options);
    CReplayScript replay;
    if (!arguments.replayPath.empty()) {
        std::string error;
        if (!replay.Load(arguments.replayPath, error)) {
            std::fprintf(stderr, "orvex-sim: %s\n", error.c_str());
            return 1;
        }
        simulator.SetResponder([&replay](const SimBytes& frame) {
            std::string note;
            SimBytes reply = replay.Answer(frame, note);
            if (!note.empty())
                std::fprintf(stderr, "orvex-sim: replay: %s\n", note.c_str());
            return reply;
        });
    }
    CSimCapture capture;
    if (!arguments.capturePath.empty()) {
        std::string error;
        const std::string portName = portGiven ? arguments.portPath : (arguments.linkPath.empty() ? "orvex-sim" : arguments.linkPath);
        if (!capture.Open(arguments.capturePath, portName, error)) {
            std::fprintf(stderr, "orvex-sim: %s\n", error.c_str());
            return 1;
        }
        simulator.SetTap(&capture.Tap());
    }
    if (portGiven) {
        if (simulator.StartPort(arguments.portPath, arguments.baud) != 0) {
            std::fprintf(stderr, "orvex-sim: %s\n", simulator.LastError().c_str());
            return 1;
        }
        std::printf("%s\n", arguments.portPath.c_str());
    } else {
        std::string slave = simulator.StartPty(arguments.linkPath);
        if (slave.empty()) {
            std::fprintf(stderr, "orvex-sim: %s\n", simulator.LastError().c_str());
            return 1;
        }
        std::printf("%s\n", slave.c_str());
    }
    std::fflush(stdout);
    if (!arguments.controlPath.empty() && simulator.StartControl(arguments.controlPath) != 0) {
        std::fprintf(stderr, "orvex-sim: %s\n", simulator.LastError().c_str());
        simulator.Stop();
        return 1;
    }

    // Standard input is optional: at its end the unit goes on serving
    // until a signal or "quit" on the control socket.
    bool inputOpen = true;
    std::string pending;
    while (!simulator.QuitRequested()) {
        pollfd entries[2] = { { g_signalPipe[0], POLLIN, 0 }, { inputOpen ? STDIN_FILENO : -1, POLLIN, 0 } };
        int ready = ::poll(entries, 2, 100);
        if (ready < 0 && errno != EINTR)
            break;
        if (ready <= 0)
            continue;
        if (entries[0].revents & POLLIN)
            break;
        if (entries[1].revents & (POLLIN | POLLHUP | POLLERR)) {
            char buffer[512];
            ssize_t got = ::read(STDIN_FILENO, buffer, sizeof buffer);
            if (got <= 0) {
                if (got < 0 && (errno == EINTR || errno == EAGAIN))
                    continue;
                inputOpen = false;
                if (!pending.empty()) {
                    std::string answer = simulator.Control(pending);
                    if (!answer.empty())
                        std::printf("%s\n", answer.c_str());
                    pending.clear();
                }
                std::fflush(stdout);
                continue;
            }
            pending.append(buffer, static_cast<std::size_t>(got));
            std::size_t end;
            while ((end = pending.find('\n')) != std::string::npos) {
                std::string answer = simulator.Control(pending.substr(0, end));
                pending.erase(0, end + 1);
                if (!answer.empty())
                    std::printf("%s\n", answer.c_str());
            }
            if (pending.size() > kSimMaxControlLine) {
                std::printf("%s\n", simulator.Control(pending).c_str());
                pending.clear();
            }
            std::fflush(stdout);
        }
    }
    simulator.Stop();
    if (!arguments.capturePath.empty()) {
        const std::string failure = capture.Close();
        if (!failure.empty()) {
            std::fprintf(stderr, "orvex-sim: %s\n", failure.c_str());
            return 1;
        }
    }
    return 0;
}
