// orvex-sim: a virtual ORVEX peripheral on a pseudo-terminal or a serial line.

#include "Version.h"
#include "sim/CSimulator.h"
#include "sim/SimControl.h"

#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <unistd.h>

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

// A word or value in a message, always on one line and of a readable
// length: control characters as \xNN, and past 60 characters cut with
// its length given.
std::string Shown(const std::string& text)
{
    constexpr std::size_t kShown = 60;
    std::string shown;
    for (std::size_t i = 0; i < text.size() && i < kShown; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 || c == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
            shown += escaped;
        } else {
            shown += static_cast<char>(c);
        }
    }
    if (text.size() > kShown)
        shown += "... (" + std::to_string(text.size()) + " characters)";
    return shown;
}

[[noreturn]] void Usage(const std::string& word, const std::string& reason)
{
    // The reasons quote the value between single quotes; each quoted piece
    // is shown as above.
    std::string text;
    std::size_t at = 0;
    while (at < reason.size()) {
        std::size_t open = reason.find('\'', at);
        std::size_t close = open == std::string::npos ? std::string::npos : reason.find('\'', open + 1);
        if (close == std::string::npos) {
            text += reason.substr(at);
            break;
        }
        text += reason.substr(at, open - at) + "'" + Shown(reason.substr(open + 1, close - open - 1)) + "'";
        at = close + 1;
    }
    std::fprintf(stderr, "orvex-sim: %s: %s (see --help)\n", Shown(word).c_str(), text.c_str());
    std::exit(2);
}

double ParseNumber(const std::string& option, const std::string& value, double low, double high)
{
    char* end = nullptr;
    errno = 0;
    double number = std::strtod(value.c_str(), &end);
    if (value.empty() || end == nullptr || *end != '\0' || errno != 0 || !std::isfinite(number))
        Usage(option, "'" + value + "' is not a number");
    if (number < low || number > high)
        Usage(option, "'" + value + "' is outside " + std::to_string(low).substr(0, std::to_string(low).find('.') + 2) + " .. "
                + std::to_string(high).substr(0, std::to_string(high).find('.') + 2));
    return number;
}

int ParseWhole(const std::string& option, const std::string& value, int low, int high)
{
    if (value.empty() || value.size() > 9 || value.find_first_not_of("0123456789") != std::string::npos)
        Usage(option, "'" + value + "' is not a whole number");
    int number = std::atoi(value.c_str());
    if (number < low || number > high)
        Usage(option, "'" + value + "' is outside " + std::to_string(low) + " .. " + std::to_string(high));
    return number;
}

void ParseCassette(const std::string& value, SimOptions& options)
{
    std::string parts[4];
    int count = 0;
    std::size_t start = 0;
    while (count < 4) {
        std::size_t colon = value.find(':', start);
        parts[count++] = value.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
        if (colon == std::string::npos)
            break;
        start = colon + 1;
        if (count == 4)
            Usage("--cassette", "'" + value + "': expected N:TYPE:COUNT[:CAPACITY]");
    }
    if (count < 3)
        Usage("--cassette", "'" + value + "': expected N:TYPE:COUNT[:CAPACITY]");
    int number = ParseWhole("--cassette", parts[0], 1, 3);
    SimCassetteSetup& cassette = options.cassettes[static_cast<std::size_t>(number - 1)];
    cassette.type = ParseWhole("--cassette", parts[1], 0, 31);
    if (cassette.type > 24 && cassette.type != 31)
        Usage("--cassette", "'" + parts[1] + "': a cassette type is 0..23, 24 (escrow) or 31 (none)");
    if (count == 4)
        cassette.capacity = ParseWhole("--cassette", parts[3], 1, kSimMaxCapacity);
    cassette.count = ParseWhole("--cassette", parts[2], 0, cassette.capacity);
}

} // namespace

int main(int argc, char** argv)
{
    SimOptions options;
    std::string link;
    std::string port;
    std::string control;
    int baud = 9600;
    bool portGiven = false;
    bool ptyGiven = false;
    bool baudGiven = false;

    for (int index = 1; index < argc; ++index) {
        std::string word = argv[index];
        std::string value;
        bool inlineValue = false;
        std::size_t equals = word.find('=');
        if (word.rfind("--", 0) == 0 && equals != std::string::npos) {
            value = word.substr(equals + 1);
            word = word.substr(0, equals);
            inlineValue = true;
        }
        auto takeValue = [&]() -> std::string {
            if (inlineValue)
                return value;
            if (index + 1 >= argc)
                Usage(word, "missing value");
            return argv[++index];
        };
        auto noValue = [&] {
            if (inlineValue)
                Usage(word, "takes no value");
        };
        if (word == "--help" || word == "-h") {
            PrintHelp();
            return 0;
        } else if (word == "--version") {
            std::printf("orvex-sim %d.%d.%d.%d\n", ORVEX_VERSION_MAJOR, ORVEX_VERSION_MINOR, ORVEX_VERSION_PATCH, ORVEX_VERSION_BUILD);
            return 0;
        } else if (word == "--pty") {
            noValue();
            ptyGiven = true;
        } else if (word == "--link") {
            link = takeValue();
            if (link.empty())
                Usage(word, "empty path");
        } else if (word == "--port") {
            port = takeValue();
            if (port.empty())
                Usage(word, "empty path");
            portGiven = true;
        } else if (word == "--baud") {
            std::string text = takeValue();
            if (text != "9600" && text != "19200")
                Usage(word, "'" + text + "': the bus runs at 9600 or 19200");
            baud = std::atoi(text.c_str());
            baudGiven = true;
        } else if (word == "--control") {
            control = takeValue();
            if (control.empty())
                Usage(word, "empty path");
        } else if (word == "--device") {
            std::string text = takeValue();
            if (text == "cy")
                options.device = SimDeviceKind::Cyclor;
            else if (text == "bv")
                options.device = SimDeviceKind::Validator;
            else
                Usage(word, "'" + text + "': expected cy or bv");
        } else if (word == "--card-reader") {
            noValue();
            options.cardReader = true;
        } else if (word == "--bills") {
            options.bills = takeValue();
            std::string error;
            ParseBillTable(options.bills, error);
            if (!error.empty())
                Usage(word, error);
        } else if (word == "--cassette") {
            ParseCassette(takeValue(), options);
        } else if (word == "--pace") {
            options.pace = ParseNumber(word, takeValue(), 0.0001, 100);
        } else if (word == "--clock-offset") {
            options.clockOffsetHours = ParseNumber(word, takeValue(), -8760, 8760);
        } else if (word == "--escrow-timeout") {
            options.escrowTimeoutSeconds = ParseNumber(word, takeValue(), 0, 3600);
        } else if (word == "--take-timeout") {
            options.takeTimeoutSeconds = ParseNumber(word, takeValue(), 0, 3600);
        } else if (word == "--seed") {
            options.seed = static_cast<unsigned>(ParseWhole(word, takeValue(), 0, 999999999));
        } else {
            Usage(word, word.rfind("-", 0) == 0 ? "unknown option" : "unexpected word");
        }
    }
    if (portGiven && (ptyGiven || !link.empty()))
        Usage(ptyGiven ? "--pty" : "--link", "cannot be used with --port");
    if (baudGiven && !portGiven)
        Usage("--baud", "only applies to --port");

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

    CSimulator simulator(options);
    if (portGiven) {
        if (simulator.StartPort(port, baud) != 0) {
            std::fprintf(stderr, "orvex-sim: %s\n", simulator.LastError().c_str());
            return 1;
        }
        std::printf("%s\n", port.c_str());
    } else {
        std::string slave = simulator.StartPty(link);
        if (slave.empty()) {
            std::fprintf(stderr, "orvex-sim: %s\n", simulator.LastError().c_str());
            return 1;
        }
        std::printf("%s\n", slave.c_str());
    }
    std::fflush(stdout);
    if (!control.empty() && simulator.StartControl(control) != 0) {
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
    return 0;
}
