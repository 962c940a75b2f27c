#ifdef ORVEX_HAVE_WINDOW

#include "WindowTestSupport.h"

#include "app/window/CLogLineStore.h"
#include "app/window/CLogListModel.h"
#include "app/window/CLogListView.h"
#include "support/Technician.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QBrush>
#include <QColor>
#include <QScrollBar>
#include <QTemporaryDir>

#include <csignal>
#include <fstream>
#include <sstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <thread>

namespace orvex::test {
namespace {

std::string ReadFile(const QString& path)
{
    std::ifstream file(path.toStdString(), std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

// ---- The line store ------------------------------------------------------------

TEST(LogLineStore, GivesBackEveryLineAsWritten)
{
    CLogLineStore store;
    store.Append("->POLL (10:15:00)");
    store.Append("");
    store.Append("<- IDLING\r");
    ASSERT_EQ(store.Count(), 3u);
    EXPECT_EQ(store.Line(0), "->POLL (10:15:00)");
    EXPECT_EQ(store.Line(1), "");
    EXPECT_EQ(store.Line(2), "<- IDLING\r");
    EXPECT_EQ(store.Line(3), "");
    EXPECT_EQ(store.LongestLine(), 17u);
}

TEST(LogLineStore, LinesAcrossBlockEndsAndOversizedLinesStayWhole)
{
    CLogLineStore store;
    // Enough 1000-byte lines to fill several blocks, with a line larger
    // than a block among them.
    const std::size_t count = 3 * CLogLineStore::kBlockSize / 1000;
    for (std::size_t i = 0; i < count; ++i) {
        std::string line(1000, static_cast<char>('a' + i % 26));
        line.replace(0, std::to_string(i).size(), std::to_string(i));
        store.Append(line);
        if (i == count / 2)
            store.Append(std::string(CLogLineStore::kBlockSize + 5, 'Z'));
    }
    ASSERT_EQ(store.Count(), count + 1);
    for (std::size_t i = 0, line = 0; i < count; ++i, ++line) {
        std::string_view text = store.Line(line);
        ASSERT_EQ(text.size(), 1000u) << "line " << line;
        ASSERT_EQ(text.substr(0, std::to_string(i).size()), std::to_string(i));
        if (i == count / 2) {
            ++line;
            ASSERT_EQ(store.Line(line).size(), CLogLineStore::kBlockSize + 5);
            ASSERT_EQ(store.Line(line).back(), 'Z');
        }
    }
    EXPECT_EQ(store.LongestLine(), CLogLineStore::kBlockSize + 5);
}

TEST(LogLineStore, MemoryStaysWithinTextPlus32BytesALine)
{
    CLogLineStore store;
    const std::size_t count = 1'000'000;
    const std::string line(40, 'x');
    for (std::size_t i = 0; i < count; ++i)
        store.Append(line);
    EXPECT_EQ(store.TextBytes(), 40 * count);
    // Rounded up to the last partly filled blocks of text and starts.
    EXPECT_LE(store.MemoryUsage(), store.TextBytes() + 32 * count + 2 * CLogLineStore::kBlockSize);
    store.Clear();
    EXPECT_EQ(store.Count(), 0u);
    EXPECT_EQ(store.MemoryUsage(), 0u);
}

// ---- The model -----------------------------------------------------------------

class LogListModel : public ::testing::Test {
protected:
    void SetUp() override { EnsureApplication(); }
};

TEST_F(LogListModel, LinesFromAnotherThreadArriveInOneBatchPerFrame)
{
    CLogListModel model;
    int inserted = 0;
    QObject::connect(&model, &QAbstractItemModel::rowsInserted, [&inserted] { ++inserted; });
    std::thread writer([&] {
        for (int i = 0; i < 20000; ++i)
            model.AddLine("<- line " + std::to_string(i));
        model.SelectLastLine();
    });
    writer.join();
    EXPECT_EQ(model.rowCount(), 0) << "rows are announced on the GUI thread";
    ASSERT_TRUE(WaitUntil([&] { return model.rowCount() == 20000; }, std::chrono::seconds(5)));
    EXPECT_LE(inserted, 2) << "one hand-over, not one signal per line";
    EXPECT_EQ(model.index(19999, 0).data().toString(), QStringLiteral("<- line 19999"));
}

TEST_F(LogListModel, SelectsTheLastLineAndSetsTheStatusText)
{
    CLogListModel model;
    std::vector<int> selected;
    QStringList status;
    QObject::connect(&model, &CLogListModel::SelectionRequested, [&selected](int row) { selected.push_back(row); });
    QObject::connect(&model, &CLogListModel::StatusTextChanged, [&status](const QString& text) { status << text; });
    model.AddLine("first");
    model.AddLine("second");
    model.SelectLastLine();
    model.AddLine("third, not selected");
    model.SetStatusText("Bill 5 USD stacked");
    model.FlushPending();
    EXPECT_EQ(selected, std::vector<int> { 1 });
    EXPECT_EQ(status, QStringList { QStringLiteral("Bill 5 USD stacked") });
}

TEST_F(LogListModel, ClearEmptiesTheListAndLinesNotYetShown)
{
    CLogListModel model;
    model.AddLine("shown");
    model.FlushPending();
    model.AddLine("not yet shown");
    model.Clear();
    model.FlushPending();
    EXPECT_EQ(model.rowCount(), 0);
    EXPECT_EQ(model.LineCount(), 0u);
    model.AddLine("after");
    model.FlushPending();
    EXPECT_EQ(model.rowCount(), 1);
}

// ---- Saving --------------------------------------------------------------------

TEST_F(LogListModel, SavesLineFeedsOnlyAndKeepsALinesOwnCarriageReturn)
{
    QTemporaryDir directory;
    CLogListModel model;
    model.AddLine("->POLL (10:15:00)");
    model.AddLine("<- IDLING\r");
    model.AddLine("");
    QString path = directory.filePath(QStringLiteral("log.txt"));
    ASSERT_TRUE(model.SaveToFile(path));
    EXPECT_EQ(ReadFile(path), "->POLL (10:15:00)\n<- IDLING\r\n\n");
}

TEST_F(LogListModel, SaveIntoAPathThatCannotBeWrittenFails)
{
    QTemporaryDir directory;
    QString file = directory.filePath(QStringLiteral("plain-file"));
    std::ofstream(file.toStdString()) << "x";
    CLogListModel model;
    model.AddLine("line");
    // A regular file where a directory should be: not writable, even for root.
    EXPECT_FALSE(model.SaveToFile(file + QStringLiteral("/log.txt")));
    EXPECT_FALSE(model.LastSaveError().isEmpty()) << "the reason is told";
    EXPECT_FALSE(model.SaveToFile(directory.filePath(QStringLiteral("missing/log.txt"))));
}

// Filters group lines into exchanges: a failure or bill event comes with
// its exchange's header, a command name with its whole exchanges; lines
// written later are filtered as they arrive; search wraps round.
TEST_F(LogListModel, FiltersKeepExchangesTogetherAndSearchFindsAnyCase)
{
    const std::string separator(132, '-');
    CLogListModel model;
    auto write = [&](std::initializer_list<const char*> lines) {
        for (const char* line : lines)
            model.AddLine(line);
        model.AddLine(separator);
    };
    write({ "->POLL (12:00:00)", "<- IDLING" });
    write({ "->POLL (12:00:01.250)", "-> 02 03 06 33 DA 81", "<- Timeout" });
    write({ "->GET CASSETTE STATUS (12:00:02)", "<- Cassette:  1,  Bill Type:  0,  Number:  10,  Status:OK" });
    write({ "->POLL (12:00:03)", "<- **************    10 RUS packed into cassette 1     **************" });
    model.FlushPending();
    auto shown = [&] {
        QStringList rows;
        for (int row = 0; row < model.rowCount(); ++row)
            rows << model.data(model.index(row, 0)).toString();
        return rows;
    };

    model.SetFilter(CLogFilter(CLogFilter::Kind::Errors));
    EXPECT_EQ(shown(), (QStringList { QStringLiteral("->POLL (12:00:01.250)"), QStringLiteral("<- Timeout") }));
    EXPECT_EQ(model.data(model.index(1, 0), Qt::ForegroundRole).value<QBrush>().color(), QColor(190, 0, 0));
    write({ "->RESET (12:00:04)", "<- NAK" });
    model.FlushPending();
    EXPECT_EQ(shown().size(), 4) << "a later failure arrives with its header";

    model.SetFilter(CLogFilter(CLogFilter::Kind::BillEvents));
    ASSERT_EQ(shown().size(), 2);
    EXPECT_EQ(shown()[0], QStringLiteral("->POLL (12:00:03)"));

    model.SetFilter(CLogFilter(CLogFilter::Kind::LogName, "GET CASSETTE STATUS"));
    EXPECT_EQ(shown().size(), 3) << "header, reply, separator";
    EXPECT_EQ(model.LineOfRow(0), 7);

    model.SetFilter(CLogFilter());
    EXPECT_EQ(model.rowCount(), static_cast<int>(model.LineCount()));
    int found = model.FindRow(QStringLiteral("rus PACKED"), -1, CLogListModel::Direction::Forward);
    EXPECT_EQ(found, 11);
    EXPECT_EQ(model.FindRow(QStringLiteral("rus PACKED"), found, CLogListModel::Direction::Forward), found) << "wraps round";
    EXPECT_EQ(model.FindRow(QStringLiteral("timeout"), found, CLogListModel::Direction::Backward), 5);
    EXPECT_EQ(model.FindRow(QStringLiteral("no such text"), 0, CLogListModel::Direction::Forward), -1);
}

TEST_F(LogListModel, AFailedSaveLeavesTheExistingFileAsItWas)
{
    QTemporaryDir directory;
    QString path = directory.filePath(QStringLiteral("log.txt"));
    std::ofstream(path.toStdString()) << "the old log\n";
    CLogListModel model;
    for (int i = 0; i < 100000; ++i)
        model.AddLine("<- a line long enough to pass the file size limit soon");

    // The disk "fills up" in the middle of the save: writes past 64 KiB fail.
    rlimit saved {};
    getrlimit(RLIMIT_FSIZE, &saved);
    auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = saved;
    limited.rlim_cur = 64 * 1024;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    bool saved_ok = model.SaveToFile(path);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);

    EXPECT_FALSE(saved_ok);
    EXPECT_EQ(ReadFile(path), "the old log\n");
}

// Runs inside the child, as the technician; skipped in an ordinary run.
TEST_F(LogListModel, ChildSavesOverItsFileInAFolderItCannotWrite)
{
    const char* path = std::getenv("ORVEX_TEST_SAVE_PATH");
    if (!path)
        GTEST_SKIP() << "runs only inside LogListModel.TechnicianSavesOverAWritableFileInAFolderItCannotWrite";
    ASSERT_NE(getuid(), 0u);
    CLogListModel model;
    model.AddLine("->POLL (10:15:00)");
    ASSERT_TRUE(model.SaveToFile(QString::fromLocal8Bit(path)));
}

TEST_F(LogListModel, TechnicianSavesOverAWritableFileInAFolderItCannotWrite)
{
    TechnicianAccount account {};
    std::string reason;
    if (!EnsureTechnician(account, reason))
        GTEST_SKIP() << reason;
    QTemporaryDir directory;
    ASSERT_EQ(chmod(directory.path().toLocal8Bit().constData(), 0755), 0);
    const QString path = directory.filePath(QStringLiteral("log.txt"));
    std::ofstream(path.toStdString()) << "the old log\n";
    ASSERT_EQ(chown(path.toLocal8Bit().constData(), account.uid, account.gid), 0);
    const int code = RunSelfAsTechnician(account, "LogListModel.ChildSavesOverItsFileInAFolderItCannotWrite",
        { "ORVEX_TEST_SAVE_PATH=" + path.toStdString(), "QT_QPA_PLATFORM=offscreen" }, std::chrono::seconds(30));
    if (code == kCouldNotStart)
        GTEST_SKIP() << "the test program cannot be run as " << kTechnician;
    EXPECT_EQ(code, 0);
    EXPECT_EQ(ReadFile(path), "->POLL (10:15:00)\n");
}

// ---- The view ------------------------------------------------------------------

TEST_F(LogListModel, ViewFollowsTheLastLineAndScrollsToLongLines)
{
    CLogListModel model;
    CLogListView view;
    view.setModel(&model);
    QObject::connect(&model, &CLogListModel::LongestLineChanged, &view, &CLogListView::SetLongestLine);
    QObject::connect(&model, &CLogListModel::SelectionRequested, &view, [&](int row) {
        QModelIndex index = model.index(row, 0);
        view.selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
        view.scrollTo(index);
    });
    view.resize(400, 300);
    view.show();
    for (int i = 0; i < 100000; ++i)
        model.AddLine("<- line " + std::to_string(i));
    model.AddLine(std::string(500, 'W'));
    model.SelectLastLine();
    model.FlushPending();
    QApplication::processEvents();

    EXPECT_EQ(view.currentIndex().row(), 100000);
    EXPECT_EQ(view.verticalScrollBar()->value(), view.verticalScrollBar()->maximum());
    EXPECT_TRUE(view.viewport()->rect().intersects(view.visualRect(view.currentIndex())));
    EXPECT_GE(view.horizontalScrollBar()->maximum(), 500 * 4) << "the long line can be scrolled to";
    EXPECT_EQ(view.indexAt(view.visualRect(view.currentIndex()).center()).row(), 100000);

    view.repaint();
    EXPECT_GT(view.LastPaintedRows(), 0);
    EXPECT_LE(view.LastPaintedRows(), view.VisibleRows() + 1) << "only the rows in view are painted";
}

} // namespace
} // namespace orvex::test

#endif
