// The archive views over real archives made by `zip` (and, for the large one, by our builder).
#include <QAbstractItemModelTester>
#include <QHeaderView>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QTest>
#include <QTreeWidget>
#include <algorithm>
#include <map>
#include <memory>

#include <gtest/gtest.h>

#include "app/views/archive_list.h"
#include "app/views/status_line.h"
#include "app/views/view_content.h"
#include "app/views/view_explorer.h"
#include "app/views/view_stat.h"
#include "core/messages.h"
#include "core/text_format.h"
#include "formats/format_table.h"
#include "platform/registry_access.h"
#include "support/test_support.h"
#include "support/zip_builder.h"

namespace quorbel {
namespace {

constexpr int64_t kStamp = 1614834368;  // 2021-03-04 05:06:08 UTC, an even second for DOS

// Records what a fill or sort tells the user.
class RecordingSink : public ProgressSink {
public:
    void SetText(const std::string& text, bool redraw) override {
        texts.push_back(text);
        ProgressSink::SetText(text, redraw);
    }
    std::vector<std::string> texts;
};

class ViewsTest : public ::testing::Test {
protected:
    void SetUp() override { SetLanguage(Language::English); }

    // Writes `files` below a staging folder with a fixed time and zips them there with `args`.
    std::string MakeZip(const std::string& name, const std::map<std::string, std::string>& files,
                        std::vector<std::string> args = {}) {
        const std::string staging = env_ / ("src-" + name);
        std::vector<std::string> argv = {"zip", "-X", "-q"};
        argv.insert(argv.end(), args.begin(), args.end());
        const std::string archive = env_ / name;
        argv.push_back(archive);
        for (const auto& [member, data] : files) {
            test::WriteFile(staging + "/" + member, data);
            test::SetMtime(staging + "/" + member, kStamp);
            argv.push_back(member);
        }
        test::CommandResult r = test::Run(argv, staging);
        EXPECT_EQ(r.exit_code, 0) << r.err;
        return archive;
    }

    std::unique_ptr<ArchiveHandler> Open(const std::string& path) {
        int status = 0;
        auto handler = OpenArchiveFile(path, status);
        EXPECT_TRUE(handler) << "status " << status;
        return handler;
    }

    static int RowOf(const CArchiveList& list, const QString& name) {
        for (int row = 0; row < list.RowCount(); ++row)
            if (list.TextOf(row, kColName) == name) return row;
        return -1;
    }

    static std::vector<QString> Column(const CArchiveList& list, int column) {
        std::vector<QString> texts;
        for (int row = 0; row < list.RowCount(); ++row) texts.push_back(list.TextOf(row, column));
        return texts;
    }

    test::IsolatedEnvironment env_;
};

TEST_F(ViewsTest, ListShowsTheEntryTextsOfAKnownArchive) {
    QUORBEL_REQUIRE_TOOL("zip");
    const std::string guide(1000, 'a');
    const std::string blob = "0123456789";
    // .bin members are stored (-n), so their ratio is exactly 0%.
    std::string path = MakeZip("known.zip", {{"docs/guide.md", guide}, {"docs/data.bin", blob},
                                             {"SETUP.EXE", "MZ"}, {"tools/install.exe", "MZ"}},
                               {"-n", ".bin"});
    // A folder entry of its own, which the list leaves to the explorer's tree.
    ASSERT_EQ(test::Run({"zip", "-X", "-q", path, "docs"}, env_ / "src-known.zip").exit_code, 0);
    auto handler = Open(path);
    ASSERT_TRUE(handler);
    ASSERT_EQ(handler->EntryCount(), 5u);

    CArchiveList list;
    list.InsertColumns();
    list.Fill(*handler, nullptr);
    ASSERT_EQ(list.RowCount(), 4);
    EXPECT_EQ(list.SetupCount(), 2);
    EXPECT_EQ(list.FirstSetupIndex(),
              std::min(handler->FindEntry("SETUP.EXE"), handler->FindEntry("tools\\install.exe")));

    ASSERT_EQ(list.model()->columnCount(), 11);
    const char* titles[] = {"C", "Name", "Size", "Type", "Modified", "Ratio", "Packed", "CRC",
                            "Attrib", "Path", "Note"};
    for (int c = 0; c < 11; ++c)
        EXPECT_EQ(list.model()->headerData(c, Qt::Horizontal).toString(), titles[c]);

    const int g = RowOf(list, "guide.md");
    const int d = RowOf(list, "data.bin");
    ASSERT_GE(g, 0);
    ASSERT_GE(d, 0);
    EXPECT_EQ(list.TextOf(g, kColEncrypted), "");
    EXPECT_EQ(list.TextOf(g, kColSize), "1,000");
    EXPECT_EQ(list.TextOf(g, kColCrc), QString::number(test::Crc32Of(guide), 16).toUpper());
    EXPECT_EQ(list.TextOf(g, kColPath), "docs");
    EXPECT_EQ(list.TextOf(g, kColModified), QString::fromStdString(ShortDateText(kStamp)));
    EXPECT_FALSE(list.TextOf(g, kColType).isEmpty());
    const int64_t packed = handler->Entry(size_t(handler->FindEntry("docs\\guide.md"))).packed;
    ASSERT_GT(packed, 0);
    ASSERT_LT(packed, 100);  // a thousand equal bytes deflate to almost nothing
    EXPECT_EQ(list.TextOf(g, kColPacked), QString::number(packed));
    EXPECT_EQ(list.TextOf(g, kColRatio), QString("%1%").arg((1000 - packed) * 100 / 1000));
    EXPECT_EQ(list.TextOf(d, kColRatio), "0%");
    EXPECT_EQ(list.TextOf(d, kColPacked), "10");
    EXPECT_EQ(list.TextOf(d, kColSize), "10");

    // Alignment per column, the item data (index × 2) and an icon on the name only.
    QAbstractItemModel* m = list.model();
    EXPECT_EQ(m->data(m->index(g, kColSize), Qt::TextAlignmentRole).toInt() & Qt::AlignRight, Qt::AlignRight);
    EXPECT_EQ(m->data(m->index(g, kColEncrypted), Qt::TextAlignmentRole).toInt() & Qt::AlignHCenter, Qt::AlignHCenter);
    EXPECT_EQ(m->data(m->index(g, kColName), Qt::TextAlignmentRole).toInt() & Qt::AlignLeft, Qt::AlignLeft);
    EXPECT_EQ(m->data(m->index(g, kColName), ArchiveListModel::kItemDataRole).toInt(),
              2 * handler->FindEntry("docs\\guide.md"));
    EXPECT_FALSE(m->data(m->index(g, kColName), Qt::DecorationRole).value<QIcon>().isNull());
    EXPECT_FALSE(m->data(m->index(g, kColSize), Qt::DecorationRole).isValid());

    // Auto-sizing: column 0 is 2w + 16 plus the final w; Name has room for text and icon.
    list.AutoSizeColumns();
    const QFontMetrics fm = list.fontMetrics();
    const int w = fm.averageCharWidth();
    EXPECT_EQ(list.columnWidth(kColEncrypted), 3 * w + 16);
    EXPECT_EQ(list.columnWidth(kColCrc), fm.horizontalAdvance("99999999") + 4 * w);
    EXPECT_EQ(list.columnWidth(kColRatio), fm.horizontalAdvance("Ratio") + 4 * w);
    EXPECT_EQ(list.columnWidth(kColName),
              std::max(fm.horizontalAdvance("install.exe"), fm.horizontalAdvance("Name")) + 5 * w + 16);
}

TEST_F(ViewsTest, ModelPassesTheItemModelTesterThroughFillAndSort) {
    QUORBEL_REQUIRE_TOOL("zip");
    auto handler = Open(MakeZip("m.zip", {{"a.txt", "aaa"}, {"B.txt", "b"}, {"c/d.txt", "dddd"}}));
    ASSERT_TRUE(handler);
    ArchiveListModel model(*handler);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    model.Fill(nullptr, SilentSink());
    for (int column = 0; column < kColumnCount; ++column) {
        model.Sort(column, Qt::AscendingOrder, SilentSink());
        model.Sort(column, Qt::DescendingOrder, SilentSink());
    }
    EXPECT_EQ(model.rowCount(), 3);
    model.Clear();
    EXPECT_EQ(model.rowCount(), 0);
}

TEST_F(ViewsTest, SizeSortsAscendingDescendingAscendingAndKeepsTheSelection) {
    QUORBEL_REQUIRE_TOOL("zip");
    auto handler = Open(MakeZip("s.zip", {{"b.txt", std::string(300, 'x')},
                                          {"a.txt", std::string(10, 'y')},
                                          {"C.txt", std::string(2000, 'z')}}));
    ASSERT_TRUE(handler);
    CArchiveList list;
    RecordingSink sink;
    list.SetSink(&sink);
    list.Fill(*handler, nullptr);
    const int big = handler->FindEntry("C.txt");
    list.selectionModel()->select(list.model()->index(RowOf(list, "C.txt"), 0),
                                  QItemSelectionModel::Select | QItemSelectionModel::Rows);

    const std::vector<QString> ascending = {"10", "300", "2,000"};
    const std::vector<QString> descending = {"2,000", "300", "10"};
    emit list.header()->sectionClicked(kColSize);  // a header click sorts like a call does
    EXPECT_EQ(Column(list, kColSize), ascending);
    EXPECT_EQ(sink.texts.back(), "Sorting Files...");
    list.SortByColumn(kColSize);
    EXPECT_EQ(Column(list, kColSize), descending);
    EXPECT_EQ(list.SelectedIndices(), std::vector<int>{big});
    list.SortByColumn(kColSize);
    EXPECT_EQ(Column(list, kColSize), ascending);
    EXPECT_EQ(list.SelectedIndices(), std::vector<int>{big});

    // Another column starts ascending; names compare without regard to case.
    list.SortByColumn(kColName);
    EXPECT_EQ(Column(list, kColName), (std::vector<QString>{"a.txt", "b.txt", "C.txt"}));
    list.SortByColumn(kColName);
    EXPECT_EQ(Column(list, kColName), (std::vector<QString>{"C.txt", "b.txt", "a.txt"}));

    list.InvertSelection();
    std::vector<int> others = list.SelectedIndices();
    std::sort(others.begin(), others.end());
    EXPECT_EQ(others, (std::vector<int>{handler->FindEntry("a.txt"), handler->FindEntry("b.txt")}));
    list.SelectAll();
    EXPECT_EQ(list.SelectedIndices().size(), 3u);
}

TEST_F(ViewsTest, EncryptedEntryCarriesTheMarkAndSortsLastAscending) {
    QUORBEL_REQUIRE_TOOL("zip");
    std::string path = MakeZip("e.zip", {{"secret.txt", "hidden words"}}, {"-P", "pw"});
    test::WriteFile(env_ / "src-e.zip/open1.txt", "one");
    test::WriteFile(env_ / "src-e.zip/open2.txt", "two");
    ASSERT_EQ(test::Run({"zip", "-X", "-q", path, "open1.txt", "open2.txt"}, env_ / "src-e.zip").exit_code, 0);
    auto handler = Open(path);
    ASSERT_TRUE(handler);
    CArchiveList list;
    list.Fill(*handler, nullptr);
    ASSERT_EQ(list.RowCount(), 3);
    ASSERT_EQ(list.TextOf(0, kColName), "secret.txt");  // zip order: the encrypted one first
    const QAbstractItemModel* m = list.model();
    const int secret = handler->FindEntry("secret.txt");
    EXPECT_EQ(m->data(m->index(0, 0), ArchiveListModel::kItemDataRole).toInt(), secret * 2 + 1);
    EXPECT_EQ(m->data(m->index(1, 0), ArchiveListModel::kItemDataRole).toInt() & 1, 0);
    EXPECT_EQ(list.TextOf(0, kColEncrypted), ArchiveListModel::kEncryptedMarker);
    EXPECT_EQ(list.TextOf(1, kColEncrypted), "");

    list.SortByColumn(kColEncrypted);
    EXPECT_EQ(Column(list, kColName), (std::vector<QString>{"open1.txt", "open2.txt", "secret.txt"}));
    list.SortByColumn(kColEncrypted);
    EXPECT_EQ(list.TextOf(0, kColName), "secret.txt");
}

TEST_F(ViewsTest, ExplorerListsTheChosenFolder) {
    QUORBEL_REQUIRE_TOOL("zip");
    auto handler = Open(MakeZip("tree.zip", {{"top.txt", "t"}, {"docs/a.txt", "a"},
                                             {"docs/b.txt", "b"}, {"docs/sub/c.txt", "c"}}));
    ASSERT_TRUE(handler);
    CViewExplorer view(*handler, SilentSink(), nullptr);
    QSignalSpy changed(&view, &CQuorbelFormView::selectionChanged);
    view.Refill();
    EXPECT_EQ(view.ViewType(), 2);
    ASSERT_EQ(view.Tree()->topLevelItemCount(), 1);
    QTreeWidgetItem* root = view.Tree()->topLevelItem(0);
    EXPECT_EQ(root->text(0), "tree.zip");
    ASSERT_EQ(root->childCount(), 1);
    EXPECT_EQ(root->child(0)->text(0), "docs");
    EXPECT_EQ(view.SelectedFolder(), &handler->Root());
    EXPECT_EQ(Column(*view.List(), kColName), std::vector<QString>{"top.txt"});

    ASSERT_TRUE(view.SelectFolder("docs"));
    std::vector<QString> names = Column(*view.List(), kColName);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<QString>{"a.txt", "b.txt"}));
    ASSERT_TRUE(view.SelectedFolder());
    EXPECT_EQ(view.SelectedFolder()->name, "docs");
    EXPECT_GE(changed.count(), 2);

    view.Tree()->setCurrentItem(root->child(0)->child(0));  // a click in the tree
    EXPECT_EQ(Column(*view.List(), kColName), std::vector<QString>{"c.txt"});
    view.Refill();  // the chosen folder survives a refill
    EXPECT_EQ(view.SelectedFolder()->name, "sub");
    EXPECT_EQ(Column(*view.List(), kColName), std::vector<QString>{"c.txt"});
}

TEST_F(ViewsTest, SplitterClampTable) {
    struct Row {
        int stored, width, shown;
    } rows[] = {{10, 600, 64}, {63, 600, 64}, {64, 600, 64}, {200, 600, 200},
                {536, 600, 536}, {537, 600, 536}, {5000, 600, 536}};
    for (const Row& r : rows)
        EXPECT_EQ(CViewExplorer::ClampSplitter(r.stored, r.width), r.shown) << r.stored;
}

TEST_F(ViewsTest, SplitterComesFromSettingsAndDragsAreWrittenBack) {
    QUORBEL_REQUIRE_TOOL("zip");
    auto handler = Open(MakeZip("sp.zip", {{"a/x.txt", "x"}}));
    ASSERT_TRUE(handler);
    AppRegistry reg;
    {
        CViewExplorer view(*handler, SilentSink(), nullptr);  // nothing stored: a third
        view.resize(600, 300);
        view.show();
        EXPECT_EQ(view.SplitterPosition(), 200);
        EXPECT_EQ(view.List()->geometry().x(), 206);
    }
    reg.WriteInteger("Options\\views\\explorer", "TrackedPos", 10);
    CViewExplorer view(*handler, SilentSink(), nullptr);
    view.resize(600, 300);
    view.show();
    EXPECT_EQ(view.SplitterPosition(), 64);
    EXPECT_EQ(view.List()->geometry().x(), 70);
    EXPECT_EQ(view.Tree()->geometry().width(), 64);
    view.MoveSplitter(5000);
    EXPECT_EQ(view.SplitterPosition(), 536);
    EXPECT_EQ(reg.ReadInteger("Options\\views\\explorer", "TrackedPos", -1), 536);
    view.MoveSplitter(300);
    EXPECT_EQ(reg.ReadInteger("Options\\views\\explorer", "TrackedPos", -1), 300);
    EXPECT_EQ(view.List()->geometry().x(), 306);
}

TEST_F(ViewsTest, StatusLineOfEmptyAndFilledArchives) {
    std::string empty = env_ / "empty.zip";
    test::WriteFile(empty, test::BuildZip({}));
    auto none = Open(empty);
    ASSERT_TRUE(none);
    EXPECT_EQ(StatusLineText(*none, {}, 0),
              "Selected : 0 files (0 Byte), Total : 0, Compressed Size : 0 Byte, Uncompressed "
              "Size : 0 Byte");

    test::ZipMemberInput big, small;
    big.name = "big.dat";
    big.data = std::string(1536, 'b');
    big.method = 0;
    small.name = "small.dat";
    small.data = std::string(500, 's');
    small.method = 0;
    std::string two = env_ / "two.zip";
    test::WriteFile(two, test::BuildZip({big, small}));
    auto handler = Open(two);
    ASSERT_TRUE(handler);
    EXPECT_EQ(StatusLineText(*handler, {0}, 2),
              "Selected : 1 files (1.5 Kb), Total : 2, Compressed Size : 1.9 Kb, Uncompressed "
              "Size : 1.9 Kb");
    EXPECT_EQ(StatusLineText(*handler, {1, 0}, 2),
              "Selected : 2 files (1.9 Kb), Total : 2, Compressed Size : 1.9 Kb, Uncompressed "
              "Size : 1.9 Kb");
    EXPECT_EQ(StatusLineText(*handler, {1}, 1).substr(0, 32), "Selected : 1 files (500.0 Bytes)");
}

TEST_F(ViewsTest, ContentAndStatisticsViews) {
    QUORBEL_REQUIRE_TOOL("zip");
    auto handler = Open(MakeZip("v.zip", {{"one.txt", "1"}, {"two.txt", "22"}}));
    ASSERT_TRUE(handler);
    CViewContent content(*handler, SilentSink(), nullptr);
    content.Refill();
    EXPECT_EQ(content.ViewType(), 1);
    ASSERT_TRUE(content.List());
    EXPECT_EQ(content.List()->RowCount(), 2);
    QSignalSpy activated(&content, &CQuorbelFormView::entryActivated);
    content.List()->setCurrentIndex(content.List()->model()->index(1, 0));
    QTest::keyClick(content.List(), Qt::Key_Return);
    ASSERT_EQ(activated.count(), 1);
    EXPECT_EQ(activated.at(0).at(0).toInt(), content.List()->FocusedIndex());
    EXPECT_EQ(content.List()->FocusedIndex(), handler->FindEntry(content.List()->TextOf(1, kColName).toStdString()));

    CViewStat stat(*handler, SilentSink(), nullptr);
    stat.Refill();
    EXPECT_EQ(stat.ViewType(), 5);
    EXPECT_EQ(stat.List(), nullptr);
    EXPECT_TRUE(stat.Edit()->isReadOnly());
    const QString text = stat.Edit()->toPlainText();
    EXPECT_TRUE(text.startsWith("Name")) << text.toStdString();
    EXPECT_TRUE(text.contains("v.zip"));
    EXPECT_FALSE(text.contains('\r'));
}

TEST_F(ViewsTest, HundredThousandMembersFillAndSort) {
    QUORBEL_REQUIRE_TOOL("python3");
    constexpr int kCount = 100000;
    // More members than a plain end record can count, so Python writes the ZIP64 records.
    const char* script =
        "import sys, zipfile\n"
        "n = int(sys.argv[2])\n"
        "with zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_STORED) as z:\n"
        "    for i in range(n):\n"
        "        info = zipfile.ZipInfo('d%02d/f%06d.txt' % (i % 50, n - i), (2021, 3, 4, 5, 6, 8))\n"
        "        z.writestr(info, 'q' * (i % 97))\n";
    const std::string path = env_ / "large.zip";
    test::CommandResult made = test::Run({"python3", "-c", script, path, std::to_string(kCount)});
    ASSERT_EQ(made.exit_code, 0) << made.err;
    auto handler = Open(path);
    ASSERT_TRUE(handler);

    RecordingSink sink;
    CViewContent view(*handler, sink, nullptr);
    view.Refill();
    CArchiveList& list = *view.List();
    ASSERT_EQ(list.RowCount(), kCount);
    // The fill reports its progress sparsely, in the "Displaying Files" form.
    ASSERT_FALSE(sink.texts.empty());
    EXPECT_LT(sink.texts.size(), 1000u);
    EXPECT_EQ(sink.texts.front(), FormatText("Displaying Files (%d/%d)...", 0, kCount));

    list.SortByColumn(kColSize);
    std::vector<int64_t> sizes;
    for (int row = 0; row < kCount; row += 997)
        sizes.push_back(handler->Entry(size_t(list.Model()->EntryAt(row))).unpacked);
    EXPECT_TRUE(std::is_sorted(sizes.begin(), sizes.end()));
    EXPECT_EQ(list.TextOf(0, kColSize), "0");
    EXPECT_EQ(list.TextOf(kCount - 1, kColSize), "96");

    list.SortByColumn(kColName);
    EXPECT_EQ(list.TextOf(0, kColName), "f000001.txt");
    EXPECT_EQ(list.TextOf(kCount - 1, kColName), "f100000.txt");

    CViewExplorer explorer(*handler, SilentSink(), nullptr);
    explorer.Refill();
    ASSERT_TRUE(explorer.SelectFolder("d07"));
    EXPECT_EQ(explorer.List()->RowCount(), kCount / 50);
}

}  // namespace
}  // namespace quorbel
