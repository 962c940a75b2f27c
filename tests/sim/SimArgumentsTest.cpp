// orvex-sim's command line, parsed without a process: what each option
// sets, and the one message a bad word gets.

#include "sim/SimArguments.h"

#include <gtest/gtest.h>

namespace orvex {
namespace {

TEST(SimArguments, EveryOptionLandsWhereTheSimulatorReadsIt)
{
    SimArgumentsResult parsed = ParseSimArguments({ "--port", "/dev/ttyUSB1", "--baud=19200", "--control", "/tmp/c",
        "--device", "bv", "--card-reader", "--bills", "EUR:5,10", "--cassette", "2:24:3:40", "--pace", "0.02",
        "--clock-offset=-1.5", "--escrow-timeout", "0", "--take-timeout", "7", "--seed", "42" });
    ASSERT_TRUE(parsed.valid) << parsed.Message();
    const SimArguments& arguments = parsed.arguments;
    EXPECT_EQ(arguments.action, SimRunAction::Serve);
    EXPECT_EQ(arguments.portPath, "/dev/ttyUSB1");
    EXPECT_EQ(arguments.baud, 19200);
    EXPECT_EQ(arguments.controlPath, "/tmp/c");
    EXPECT_EQ(arguments.options.device, SimDeviceKind::Validator);
    EXPECT_TRUE(arguments.options.cardReader);
    EXPECT_EQ(arguments.options.bills, "EUR:5,10");
    EXPECT_EQ(arguments.options.cassettes[1].type, 24);
    EXPECT_EQ(arguments.options.cassettes[1].count, 3);
    EXPECT_EQ(arguments.options.cassettes[1].capacity, 40);
    EXPECT_EQ(arguments.options.cassettes[0].type, SimOptions {}.cassettes[0].type);
    EXPECT_DOUBLE_EQ(arguments.options.pace, 0.02);
    EXPECT_DOUBLE_EQ(arguments.options.clockOffsetHours, -1.5);
    EXPECT_DOUBLE_EQ(arguments.options.escrowTimeoutSeconds, 0);
    EXPECT_DOUBLE_EQ(arguments.options.takeTimeoutSeconds, 7);
    EXPECT_EQ(arguments.options.seed, 42u);

    EXPECT_EQ(ParseSimArguments({ "--pty", "--link", "/tmp/l" }).arguments.linkPath, "/tmp/l");
    // --help answers at once, even before a word that would be refused.
    EXPECT_EQ(ParseSimArguments({ "--pace", "1", "--help", "--wobble" }).arguments.action, SimRunAction::Help);
    EXPECT_EQ(ParseSimArguments({ "--version" }).arguments.action, SimRunAction::Version);
}

TEST(SimArguments, ABadWordGetsOneMessageNamingItAndTheReason)
{
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases {
        { { "--pace", "abc" }, "orvex-sim: --pace: 'abc' is not a number (see --help)" },
        { { "--pace", "1e9" }, "orvex-sim: --pace: '1e9' is outside 0.0 .. 100.0 (see --help)" },
        { { "--clock-offset", "nan" }, "orvex-sim: --clock-offset: 'nan' is not a number (see --help)" },
        { { "--seed", "-1" }, "orvex-sim: --seed: '-1' is not a whole number (see --help)" },
        { { "--cassette", "1:0:5:2" }, "orvex-sim: --cassette: '5' is outside 0 .. 2 (see --help)" },
        { { "--cassette", "1:25:1" }, "orvex-sim: --cassette: '25': a cassette type is 0..23, 24 (escrow) or 31 (none) (see --help)" },
        { { "--cassette", "1:0:1:2:3" }, "orvex-sim: --cassette: '1:0:1:2:3': expected N:TYPE:COUNT[:CAPACITY] (see --help)" },
        { { "--device", "xx" }, "orvex-sim: --device: 'xx': expected cy or bv (see --help)" },
        { { "--baud", "4800" }, "orvex-sim: --baud: '4800': the bus runs at 9600 or 19200 (see --help)" },
        { { "--baud", "9600" }, "orvex-sim: --baud: only applies to --port (see --help)" },
        { { "--port", "/dev/x", "--pty" }, "orvex-sim: --pty: cannot be used with --port (see --help)" },
        { { "--port", "/dev/x", "--link", "/tmp/l" }, "orvex-sim: --link: cannot be used with --port (see --help)" },
        { { "--link", "" }, "orvex-sim: --link: empty path (see --help)" },
        { { "--pty=1" }, "orvex-sim: --pty: takes no value (see --help)" },
        { { "--pace" }, "orvex-sim: --pace: missing value (see --help)" },
        { { "--wobble=3" }, "orvex-sim: --wobble: unknown option (see --help)" },
        { { "stray" }, "orvex-sim: stray: unexpected word (see --help)" },
        { { "--device", "a\nb" }, "orvex-sim: --device: 'a\\x0Ab': expected cy or bv (see --help)" },
        { { std::string(70, 'w') }, "orvex-sim: " + std::string(60, 'w') + "... (70 characters): unexpected word (see --help)" },
    };
    for (const auto& [words, message] : cases) {
        SCOPED_TRACE(words[0]);
        SimArgumentsResult parsed = ParseSimArguments(words);
        EXPECT_FALSE(parsed.valid);
        EXPECT_EQ(parsed.Message(), message);
    }
}

} // namespace
} // namespace orvex
