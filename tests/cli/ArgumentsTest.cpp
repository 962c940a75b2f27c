#include "app/CommandRegistry.h"
#include "cli/CliArguments.h"

#include <gtest/gtest.h>

using namespace orvex;

namespace {

CliParseResult Parse(std::vector<std::string> words) { return ParseArguments(words); }

// The parse fails and its message names `word`.
void ExpectRefused(std::vector<std::string> words, const std::string& word)
{
    const CliParseResult result = Parse(words);
    EXPECT_FALSE(result.ok);
    EXPECT_NE(result.error.find("\"" + word + "\""), std::string::npos) << result.error;
}

} // namespace

TEST(Options, DefaultsAreThoseOfTheWindow)
{
    const CliParseResult result = Parse({ "poll" });
    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_EQ(result.options.portIndex, 0);
    EXPECT_EQ(result.options.baud, 9600);
    EXPECT_EQ(result.options.address, 3);
    EXPECT_EQ(result.options.timeout, 200);
    EXPECT_EQ(result.options.intercommand, 20);
    EXPECT_EQ(result.options.pollInterval, 150);
    EXPECT_EQ(result.options.button.members.enabledBills, "FFFFFF");
    EXPECT_EQ(result.options.button.members.displayExchange, 1);
}

TEST(Options, PortIsComNOrADevicePath)
{
    EXPECT_EQ(Parse({ "--port", "COM16", "poll" }).options.portIndex, 15);
    const CliParseResult path = Parse({ "--port", "/dev/pts/7", "poll" });
    ASSERT_TRUE(path.ok);
    EXPECT_EQ(path.options.portPath, "/dev/pts/7");
    EXPECT_EQ(path.options.portIndex, 0);
    ExpectRefused({ "--port", "COM17", "poll" }, "COM17");
    ExpectRefused({ "--port", "COM0", "poll" }, "COM0");
    ExpectRefused({ "--port", "ttyUSB0", "poll" }, "ttyUSB0");
}

TEST(Options, ValuesOutsideTheirRangeNameTheWord)
{
    ExpectRefused({ "--baud", "4800", "poll" }, "4800");
    ExpectRefused({ "--address", "5", "poll" }, "5");
    ExpectRefused({ "--timeout", "-1", "poll" }, "-1");
    ExpectRefused({ "--poll-interval", "ten", "poll" }, "ten");
    ExpectRefused({ "--verbose", "poll" }, "--verbose");
    ExpectRefused({ "--timeout" }, "--timeout");
    EXPECT_FALSE(Parse({}).ok);
}

TEST(Options, RawAndNoDecodeReachTheMembers)
{
    const CliParseResult result = Parse({ "--raw", "--no-decode", "--address", "1", "status" });
    ASSERT_TRUE(result.ok);
    EXPECT_EQ(result.options.button.members.communicationData, 1);
    EXPECT_EQ(result.options.button.members.displayExchange, 0);
    EXPECT_EQ(result.options.button.members.deviceAddress, 1);
}

TEST(ButtonArguments, HexadecimalFieldsAreCheckedAndUpperCased)
{
    const CliParseResult result = Parse({ "bill-type", "00ff0f", "1" });
    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_EQ(result.options.button.members.enabledBills, "00FF0F");
    EXPECT_EQ(result.options.button.members.escrowMask, "1");
    ExpectRefused({ "bill-type", "1234567" }, "1234567");
    ExpectRefused({ "set-security", "XYZ" }, "XYZ");
    ExpectRefused({ "set-options", "" }, "");
    EXPECT_TRUE(Parse({ "diagnostic", "2A", "FFFFFFFFFFFFFFFF", "10" }).ok);
    ExpectRefused({ "diagnostic", "2A", "1FFFFFFFFFFFFFFFF", "10" }, "1FFFFFFFFFFFFFFFF");
    ExpectRefused({ "diagnostic", "2A", "0", "256" }, "256");
}

TEST(ButtonArguments, CassettesAreOneToThreeAndModesAreWords)
{
    const CliParseResult result = Parse({ "set-cassette-type", "3", "escrow" });
    ASSERT_TRUE(result.ok);
    EXPECT_EQ(result.options.button.members.settingsCassette, 2);
    EXPECT_EQ(result.options.button.members.cassetteStatus, CassetteStatusChoice::Escrow);
    ExpectRefused({ "set-cassette-type", "4", "assigned" }, "4");
    ExpectRefused({ "set-cassette-type", "1", "Escrow" }, "Escrow");
    ExpectRefused({ "unload", "0", "5" }, "0");
    ExpectRefused({ "ext-cassette-status", "x" }, "x");
    ExpectRefused({ "set-level", "1", "5", "enable" }, "enable");
    EXPECT_EQ(Parse({ "set-level", "2", "5", "disable" }).options.button.members.feedingDisable, 1);
}

TEST(ButtonArguments, DispenseRowsDefaultAndAcceptMinusOne)
{
    const CliParseResult defaults = Parse({ "dispense" });
    ASSERT_TRUE(defaults.ok);
    EXPECT_EQ(defaults.options.button.members.dispenseNumber2, -1);
    const CliParseResult rows = Parse({ "dispense-cmd", "3", "2", "4", "-1", "5", "1" });
    ASSERT_TRUE(rows.ok) << rows.error;
    EXPECT_EQ(rows.options.button.members.dispenseType1, 3u);
    EXPECT_EQ(rows.options.button.members.dispenseNumber1, 2);
    EXPECT_EQ(rows.options.button.members.dispenseType3, 5);
    ExpectRefused({ "dispense", "3", "-2" }, "-2");
}

TEST(ButtonArguments, WrongArgumentCountNamesTheCommand)
{
    ExpectRefused({ "poll", "now" }, "poll");
    ExpectRefused({ "unload", "1" }, "unload");
    ExpectRefused({ "frobnicate" }, "frobnicate");
    // Options come before the command.
    ExpectRefused({ "poll", "--raw" }, "poll");
}

TEST(SessionCommands, PollingOptions)
{
    const CliParseResult result
        = Parse({ "polling", "--seconds", "2.5", "--enabled", "ff", "--escrow", "0", "--return", "--reset-on-error" });
    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_DOUBLE_EQ(result.options.seconds, 2.5);
    EXPECT_EQ(result.options.button.members.enabledBills, "FF");
    EXPECT_EQ(result.options.button.members.returnBills, 1);
    EXPECT_EQ(result.options.button.members.resetOnError, 1);
    EXPECT_LT(Parse({ "polling" }).options.seconds, 0);
    ExpectRefused({ "polling", "--seconds", "-3" }, "-3");
    ExpectRefused({ "polling", "--seconds" }, "--seconds");
    ExpectRefused({ "polling", "--barcode-length", "19" }, "19");
    ExpectRefused({ "polling", "--fast" }, "--fast");
}

TEST(SessionCommands, SearchKeepsItsWordsAndScriptNeedsOneFile)
{
    const CliParseResult search = Parse({ "search", "SET", "ED" });
    ASSERT_TRUE(search.ok);
    EXPECT_EQ(search.options.searchWords, (std::vector<std::string> { "SET", "ED" }));
    EXPECT_FALSE(Parse({ "script" }).ok);
    EXPECT_FALSE(Parse({ "ports", "all" }).ok);
}

TEST(Script, LinesAreButtonCommandsAndAMistakeNamesItsLine)
{
    std::vector<CliCommand> commands;
    std::string error;
    const PanelMembers base;
    ASSERT_TRUE(ParseScript("# set up\nbill-table\n\n  bill-type 0F 01\r\npoll", base, commands, error)) << error;
    ASSERT_EQ(commands.size(), 3u);
    EXPECT_EQ(commands[1].name, "bill-type");
    EXPECT_EQ(commands[1].members.enabledBills, "0F");
    EXPECT_EQ(commands[2].name, "poll");
    EXPECT_FALSE(ParseScript("poll\nunload 9 1\n", base, commands, error));
    EXPECT_NE(error.find("line 2"), std::string::npos) << error;
    EXPECT_NE(error.find("\"9\""), std::string::npos) << error;
    EXPECT_FALSE(ParseScript("polling\n", base, commands, error));
}

// The defaults the registry documents are the window's initial values:
// typing them changes nothing.
TEST(Registry, TypedDefaultsLeaveTheInitialMembers)
{
    const PanelMembers initial = Parse({ "poll" }).options.button.members;
    for (const CommandRow& row : CommandRows()) {
        std::vector<std::string> words { std::string(row.word) };
        for (const CommandArgument& argument : row.arguments) {
            if (argument.defaultText.empty())
                break;
            words.emplace_back(argument.defaultText);
        }
        if (words.size() == 1 && !row.arguments.empty())
            continue;
        const CliParseResult result = Parse(words);
        ASSERT_TRUE(result.ok) << row.word << ": " << result.error;
        EXPECT_TRUE(result.options.button.members == initial) << row.word;
        EXPECT_EQ(result.options.button.id, row.id);
    }
}

TEST(Registry, DiagnosticByteCountStopsWhereAFrameIsFull)
{
    EXPECT_TRUE(Parse({ "diagnostic", "2A", "0", "248" }).ok);
    ExpectRefused({ "diagnostic", "2A", "0", "249" }, "249");
    ExpectRefused({ "diagnostic", "2A", "0", "255" }, "255");
}

TEST(Options, RtsIsOnOrOffAndReachesTheMembers)
{
    const CliParseResult off = Parse({ "--rts", "off", "poll" });
    ASSERT_TRUE(off.ok) << off.error;
    EXPECT_EQ(off.options.rts, RtsChoice::Dropped);
    EXPECT_EQ(off.options.button.members.rts, 0);
    EXPECT_EQ(Parse({ "--rts", "on", "poll" }).options.rts, RtsChoice::Raised);
    EXPECT_EQ(Parse({ "poll" }).options.rts, RtsChoice::Untouched);
    ExpectRefused({ "--rts", "up", "poll" }, "up");
    ExpectRefused({ "--rts" }, "--rts");
}
