// The pictures view, the picture viewer and the picture fallback in the main window, on archives
// and files holding BMP pictures written by the library's own writer.
#include <QAbstractItemModelTester>
#include <QApplication>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTimer>
#include <map>

#include <gtest/gtest.h>

#include "app/child_frame.h"
#include "app/dialog_prompts.h"
#include "app/main_frame.h"
#include "app/ops/thumbnails.h"
#include "app/picture_viewer.h"
#include "app/viewer_choice.h"
#include "app/views/archive_list.h"
#include "app/views/view_pictures.h"
#include "app/widgets/tvl_picture.h"
#include "core/messages.h"
#include "core/settings.h"
#include "core/user_prompts.h"
#include "picture/format_registry.h"
#include "support/test_support.h"
#include "support/zip_builder.h"

namespace quorbel {
namespace {

using Answer = ArchiveHandler::PictureAnswer;

// Every answer the thumbnail hook gave, per member name, in order.
std::map<std::string, std::vector<Answer>> g_answers;

Answer RecordingHook(ArchiveHandler& handler, int index) {
    const std::string name = handler.Entry(size_t(index)).full_name;
    const Answer answer = MakeThumbnail(handler, index);
    g_answers[name].push_back(answer);
    return answer;
}

int Calls() {
    int n = 0;
    for (const auto& [name, answers] : g_answers) n += int(answers.size());
    return n;
}

class PicturesViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetLanguage(Language::English);
        SetLauncher(&launcher_);
        SetPrompts(&prompts_);
        g_answers.clear();
        old_hook_ = ArchiveHandler::CurrentThumbnailHook();
        ArchiveHandler::SetThumbnailHook(&RecordingHook);
    }
    void TearDown() override {
        ArchiveHandler::SetThumbnailHook(old_hook_);
        SetProgramPassword("");
        SetLauncher(nullptr);
        SetPrompts(nullptr);
    }

    // A BMP file of one colour, written by the library.
    std::string Bmp(int width, int height, Bgr colour) {
        CPicture p;
        EXPECT_TRUE(p.Create(width, height));
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) p.SetPixel(x, y, colour);
        const std::string path = env_ / "made.bmp";
        EXPECT_TRUE(SaveBmp24(path, p, nullptr));
        return test::ReadFile(path);
    }

    std::string Zip(const std::string& name, const std::vector<test::ZipMemberInput>& members) {
        test::WriteFile(env_ / name, test::BuildZip(members));
        return env_ / name;
    }

    CViewPictures* ShowPictures(CMainFrame& frame, CChildFrame* child) {
        frame.ShowViewOfActive(kViewPictures);
        return qobject_cast<CViewPictures*>(child->View());
    }

    static std::vector<std::string> Captions(CViewPictures& view) {
        std::vector<std::string> c;
        for (int row = 0; row < view.Model().RowCount(); ++row)
            c.push_back(view.Model().CaptionAt(row).toStdString());
        return c;
    }

    test::IsolatedEnvironment env_;
    RecordingLauncher launcher_;
    ScriptedPrompts prompts_{{}};
    ScriptedFileChooser files_{{}};
    ArchiveHandler::ThumbnailHook old_hook_ = nullptr;
};

TEST_F(PicturesViewTest, ListsPicturesByNameWithCaptionsAndDecodesEachMemberOnce) {
    const std::string zip = Zip("pics.zip", {
        test::Member("b.bmp", Bmp(30, 20, {0, 255, 0})),
        test::Member("A.bmp", Bmp(200, 100, {0, 0, 255}), 0),
        test::Member("c.BMP", Bmp(10, 10, {255, 0, 0})),
        test::Member("notes.txt", "just words"),
        test::Member("sub/D.bmp", Bmp(100, 300, {9, 9, 9})),
        test::Member("fake.bmp", "not a picture at all"),
    });
    CMainFrame frame(prompts_, files_);
    CChildFrame* child = frame.OpenDocumentFile(zip);
    ASSERT_NE(child, nullptr);
    EXPECT_EQ(Calls(), 0) << "the content view decodes nothing";
    CViewPictures* view = ShowPictures(frame, child);
    ASSERT_NE(view, nullptr);
    EXPECT_TRUE(frame.Command("Pictures")->isChecked());
    EXPECT_EQ(frame.Command("Pictures")->toolTip(), "Display pictures contains in archive");

    const std::vector<std::string> expected = {
        "200 x 100 x 24 Bits\nA.bmp", "30 x 20 x 24 Bits\nb.bmp", "10 x 10 x 24 Bits\nc.BMP",
        "100 x 300 x 24 Bits\nD.bmp"};
    EXPECT_EQ(Captions(*view), expected);
    EXPECT_EQ(Calls(), 6) << "every file member is examined once";
    EXPECT_EQ(g_answers["fake.bmp"], std::vector<Answer>{Answer::kNotPicture});
    EXPECT_EQ(g_answers["A.bmp"], std::vector<Answer>{Answer::kPicture});
    EXPECT_EQ(view->Model().PixmapsMade(), 4);
    EXPECT_TRUE(frame.StatusLineShown().contains("Total : 4,")) << frame.StatusLineShown().toStdString();

    // The thumbnail: the black outline, the picture's colour in the middle, the board around
    // a picture that does not fill the canvas.
    const QImage a = view->Model().PixmapAt(0).toImage();
    ASSERT_EQ(a.size(), QSize(80, 60));
    EXPECT_EQ(a.pixel(0, 0) & 0xffffff, 0u);
    EXPECT_EQ(a.pixel(79, 59) & 0xffffff, 0u);
    EXPECT_EQ(a.pixel(40, 30), qRgb(255, 0, 0));
    const QImage d = view->Model().PixmapAt(3).toImage();
    const QRgb margin = d.pixel(3, 30);
    EXPECT_TRUE(margin == qRgb(255, 255, 255) || margin == qRgb(230, 230, 230));

    // Painting asks for the pixmaps again and again; they are made once.
    for (int i = 0; i < 3; ++i)
        for (int row = 0; row < view->Model().RowCount(); ++row)
            view->Model().data(view->Model().index(row), Qt::DecorationRole);
    EXPECT_EQ(view->Model().PixmapsMade(), 4);

    // Selection and focus report entries, so View, Extract and the status line work here too.
    view->PictureList()->setCurrentIndex(view->Model().index(1));
    EXPECT_EQ(view->FocusedEntry(), child->Doc().Handler()->FindEntry("b.bmp"));
    view->SelectAllItems();
    EXPECT_EQ(view->SelectedEntries().size(), 4u);
    view->InvertSelectionItems();
    EXPECT_TRUE(view->SelectedEntries().empty());

    // Away and back: the same thumbnails, nothing decoded again.
    frame.ShowViewOfActive(kViewContent);
    view = ShowPictures(frame, child);
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(Captions(*view), expected);
    EXPECT_EQ(Calls(), 6);
    EXPECT_EQ(view->Model().PixmapsMade(), 4);
}

TEST_F(PicturesViewTest, ASourceListLimitsTheFillAndKeepsTheNameOrder) {
    const std::string zip = Zip("src.zip", {
        test::Member("z.bmp", Bmp(4, 4, {1, 2, 3})),
        test::Member("m.bmp", Bmp(5, 5, {1, 2, 3})),
        test::Member("Y.bmp", Bmp(6, 6, {1, 2, 3})),
    });
    CMainFrame frame(prompts_, files_);
    CChildFrame* child = frame.OpenDocumentFile(zip);
    ASSERT_NE(child, nullptr);
    CViewPictures* view = ShowPictures(frame, child);
    ASSERT_NE(view, nullptr);
    QAbstractItemModelTester tester(&view->Model(), QAbstractItemModelTester::FailureReportingMode::Fatal);
    ArchiveHandler& h = *child->Doc().Handler();
    const std::vector<int> source = {h.FindEntry("z.bmp"), h.FindEntry("Y.bmp")};
    view->FillPictures(&source);
    EXPECT_EQ(Captions(*view), (std::vector<std::string>{"6 x 6 x 24 Bits\nY.bmp", "4 x 4 x 24 Bits\nz.bmp"}));
    const std::vector<int> none;
    view->FillPictures(&none);
    EXPECT_EQ(view->Model().RowCount(), 0);
    EXPECT_EQ(Calls(), 3);
}

TEST_F(PicturesViewTest, ACancelledFillKeepsWhatItListedAndTheNextFillTriesTheRestAgain) {
    std::vector<test::ZipMemberInput> members;
    for (int i = 0; i < 8; ++i)
        members.push_back(test::Member("p" + std::to_string(i) + ".bmp", Bmp(120, 90, {uint8_t(i), 0, 0})));
    const std::string zip = Zip("cancel.zip", members);
    CMainFrame frame(prompts_, files_);
    CChildFrame* child = frame.OpenDocumentFile(zip);
    ASSERT_NE(child, nullptr);
    // Stop after more and more progress calls until a fill ends half-way.
    int partial = 0;
    CViewPictures* view = nullptr;
    for (long calls = 1; calls < 2000 && partial == 0; calls += 3) {
        frame.Progress().AbortAfter(calls);
        if (!view) {
            view = ShowPictures(frame, child);
            ASSERT_NE(view, nullptr);
        } else {
            view->Refill();
        }
        const int listed = view->Model().RowCount();
        if (listed > 0 && listed < 8) partial = listed;
        // What was listed stays in the order of the names.
        for (int row = 0; row < listed; ++row)
            EXPECT_TRUE(view->Model().CaptionAt(row).endsWith(QString("p%1.bmp").arg(row)));
    }
    ASSERT_GT(partial, 0) << "no fill stopped half-way";
    EXPECT_LT(partial, 8);
    frame.Progress().AbortAfter(-1);
    view->Refill();
    EXPECT_EQ(view->Model().RowCount(), 8);
    // A member is decoded until it gives a final answer, and never after: a cancelled decode
    // left it to be tried again, a finished one is kept.
    for (const auto& [name, answers] : g_answers) {
        SCOPED_TRACE(name);
        ASSERT_FALSE(answers.empty());
        EXPECT_EQ(answers.back(), Answer::kPicture);
        for (size_t i = 0; i + 1 < answers.size(); ++i) EXPECT_EQ(answers[i], Answer::kTryAgain);
    }
    EXPECT_EQ(g_answers.size(), 8u);
}

TEST_F(PicturesViewTest, AMemberThatCouldNotBeUnpackedIsTriedAgainAtTheNextFill) {
    test::ZipMemberInput secret = test::Member("secret.bmp", Bmp(40, 30, {0, 0, 200}));
    secret.encrypt_with = "pw";
    const std::string zip = Zip("secret.zip", {test::Member("open.bmp", Bmp(20, 10, {5, 5, 5})), secret});
    CMainFrame frame(prompts_, files_);
    CChildFrame* child = frame.OpenDocumentFile(zip);
    ASSERT_NE(child, nullptr);
    CViewPictures* view = ShowPictures(frame, child);
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(Captions(*view), std::vector<std::string>{"20 x 10 x 24 Bits\nopen.bmp"});
    ArchiveHandler& h = *child->Doc().Handler();
    EXPECT_EQ(h.Entry(size_t(h.FindEntry("secret.bmp"))).picture_state, 2);
    EXPECT_EQ(g_answers["secret.bmp"], std::vector<Answer>{Answer::kTryAgain});

    SetProgramPassword("pw");
    view->Refill();
    EXPECT_EQ(Captions(*view), (std::vector<std::string>{"20 x 10 x 24 Bits\nopen.bmp",
                                                         "40 x 30 x 24 Bits\nsecret.bmp"}));
    EXPECT_EQ(g_answers["secret.bmp"], (std::vector<Answer>{Answer::kTryAgain, Answer::kPicture}));
    EXPECT_EQ(g_answers["open.bmp"].size(), 1u);
    // The refill made the pixmaps of the new list; the other member was not decoded again.
    EXPECT_EQ(view->Model().PixmapAt(1).toImage().pixel(40, 30), qRgb(200, 0, 0));
}

TEST_F(PicturesViewTest, AFileNoArchiveHandlerReadsOpensAsAPicture) {
    const std::string bytes = Bmp(64, 32, {0, 128, 255});
    test::WriteFile(env_ / "photo.bmp", bytes);
    test::WriteFile(env_ / "photo.dat", bytes);  // found by its content, not its name
    CMainFrame frame(prompts_, files_);
    std::vector<CPictureViewer*> opened;
    QObject::connect(&frame, &CMainFrame::pictureOpened, [&](CPictureViewer* v) { opened.push_back(v); });
    for (const char* name : {"photo.bmp", "photo.dat"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(frame.OpenDocumentFile(env_ / name), nullptr) << "no archive window";
        ASSERT_EQ(opened.size(), 1u);
        CPictureViewer* viewer = opened.back();
        opened.clear();
        EXPECT_EQ(viewer->windowTitle(), QString("Quorbel Picture Viewer - ") + name);
        EXPECT_EQ(viewer->Picture().Width(), 64);
        EXPECT_EQ(viewer->Picture().Height(), 32);
        EXPECT_EQ(viewer->Control()->Picture(), &viewer->Picture());
        EXPECT_TRUE(viewer->InfoText().startsWith("64 x 32 x 24 Bits - Windows bitmap (BMP)"))
            << viewer->InfoText().toStdString();
        EXPECT_TRUE(viewer->isVisible());
        viewer->close();
    }
    EXPECT_TRUE(launcher_.calls.empty());
    EXPECT_TRUE(prompts_.Asked().empty());

    // Not a picture: a known picture name is reported, anything else goes to the desktop, and
    // a ZIP or program signature is never handed to a codec.
    test::WriteFile(env_ / "broken.bmp", "BM but nothing after it");
    EXPECT_EQ(frame.OpenDocumentFile(env_ / "broken.bmp"), nullptr);
    ASSERT_EQ(prompts_.Asked().size(), 1u);
    EXPECT_NE(prompts_.Asked()[0].find("broken.bmp"), std::string::npos);
    test::WriteFile(env_ / "program.dat", "MZ" + bytes.substr(2));
    EXPECT_EQ(frame.OpenDocumentFile(env_ / "program.dat"), nullptr);
    EXPECT_TRUE(opened.empty());
    ASSERT_EQ(launcher_.calls.size(), 1u);
    EXPECT_EQ(launcher_.calls[0], "open " + env_ / "program.dat");
}

TEST_F(PicturesViewTest, TheViewCommandOffersThePictureViewer) {
    const std::string zip = Zip("view.zip", {test::Member("pic.bmp", Bmp(48, 36, {10, 20, 30})),
                                             test::Member("readme.txt", "plain text")});
    CMainFrame frame(prompts_, files_);
    CChildFrame* child = frame.OpenDocumentFile(zip);
    ASSERT_NE(child, nullptr);
    CArchiveList* list = child->View()->List();
    ASSERT_NE(list, nullptr);
    std::vector<CPictureViewer*> opened;
    QObject::connect(&frame, &CMainFrame::pictureOpened, [&](CPictureViewer* v) { opened.push_back(v); });
    auto view = [&](const QString& member) {
        for (int row = 0; row < list->RowCount(); ++row)
            if (list->TextOf(row, kColName) == member) list->setCurrentIndex(list->model()->index(row, 0));
        bool offered = false;
        // The dialog is modal: its choice is made from inside its own event loop, once it is
        // up. A dialog that never comes up is given up on, so the test cannot hang.
        QTimer poll;
        int tries = 0;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            CViewerChoice* dialog = nullptr;
            for (QWidget* w : QApplication::topLevelWidgets())
                if (auto* d = qobject_cast<CViewerChoice*>(w); d && d->isVisible()) dialog = d;
            if (!dialog) {
                if (++tries > 500) poll.stop();
                return;
            }
            poll.stop();
            for (QRadioButton* b : dialog->findChildren<QRadioButton*>())
                if (b->text() == "Quorbel Picture Viewer") {
                    offered = b->isEnabled();
                    b->click();
                }
            EXPECT_EQ(dialog->Choice(), ViewerKind::Picture);
            dialog->accept();
        });
        poll.start(10);
        frame.ViewFile();
        return offered;
    };
    EXPECT_TRUE(view("pic.bmp"));
    ASSERT_EQ(opened.size(), 1u);
    CPictureViewer* viewer = opened.back();
    opened.clear();
    EXPECT_EQ(viewer->Picture().Width(), 48);
    EXPECT_EQ(viewer->Picture().Height(), 36);
    // Zoom from the viewer's own commands.
    EXPECT_TRUE(viewer->Control()->ZoomStep(true));
    EXPECT_TRUE(viewer->InfoText().endsWith("- 200 %")) << viewer->InfoText().toStdString();
    viewer->close();

    EXPECT_TRUE(view("readme.txt"));
    EXPECT_TRUE(opened.empty());
    ASSERT_FALSE(prompts_.Asked().empty());
    EXPECT_NE(prompts_.Asked().back().find("cannot open file"), std::string::npos);
    EXPECT_NE(prompts_.Asked().back().find("readme.txt\" as an image. Unknown file format."),
              std::string::npos) << prompts_.Asked().back();
}

}  // namespace
}  // namespace quorbel
