#include "PanelFixture.h"

#include "app/CommandRegistry.h"

#include <fstream>
#include <iterator>

using namespace orvex;
using namespace orvex::test;

// Each row's handler sends the command its log name names: a row wired to
// the wrong command, or with a mistyped name, shows here.
TEST_F(PanelTest, EveryRowSendsTheCommandItsLogNameNames)
{
    for (const CommandRow& row : CommandRows()) {
        if (row.logName.empty())
            continue; // a sequence of several commands
        m_sink.Clear();
        m_panel.SetMembers(PanelMembers {});
        m_panel.Run(row.id);
        const std::vector<std::string> lines = m_sink.Lines();
        ASSERT_FALSE(lines.empty()) << row.word;
        EXPECT_EQ(lines[0].rfind("->" + std::string(row.logName) + " (", 0), 0u) << row.word << ": " << lines[0];
    }
}

TEST(CommandRegistry, RowsAreInIdOrderAndWordsFindThem)
{
    const auto rows = CommandRows();
    ASSERT_EQ(rows.size(), kCommandCount);
    EXPECT_TRUE(CommandHandlersWired());
    for (std::size_t index = 0; index < rows.size(); ++index) {
        EXPECT_EQ(static_cast<std::size_t>(rows[index].id), index);
        EXPECT_EQ(&Command(rows[index].id), &rows[index]);
        EXPECT_EQ(FindCommandWord(rows[index].word), &rows[index]);
    }
    EXPECT_EQ(FindCommandWord("polling"), nullptr);
    EXPECT_EQ(CommandSynopsis(Command(CommandId::BillType)), "bill-type [ENABLED [ESCROW]]");
    EXPECT_EQ(CommandSynopsis(Command(CommandId::DispensingSequence)), "dispense [T1 N1 T2 N2 T3 N3]");
    EXPECT_EQ(CommandSynopsis(Command(CommandId::SetCassetteType)),
        "set-cassette-type CASSETTE assigned|not-assigned|escrow [BILLTYPE]");
}

// The command table of docs/orvexctl.md is the registry's, word for word.
TEST(CommandRegistry, TheDocumentedCommandTableIsTheRegistrys)
{
    std::ifstream file(std::string(ORVEX_SOURCE_DIR) + "/docs/orvexctl.md");
    ASSERT_TRUE(file) << "docs/orvexctl.md";
    const std::string document((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    const std::string table = CommandTableMarkdown();
    EXPECT_NE(document.find(table), std::string::npos)
        << "docs/orvexctl.md does not hold the registry's table; it should read:\n"
        << table;
}
