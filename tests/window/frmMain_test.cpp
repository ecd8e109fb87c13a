#include <cstdint>
#include <string>

#include <QCheckBox>
#include <QComboBox>
#include <QDropEvent>
#include <QLabel>
#include <QLocale>
#include <QMimeData>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QUrl>

#include "WindowTestUtil.h"

namespace fwtest {
namespace {

struct Place {
    const char* name;
    int left, top, width, height;
};

class ControlLayout : public WindowTest, public ::testing::WithParamInterface<Place> {};

TEST_P(ControlLayout, StandsAtItsTwipsPlace) {
    const Place& place = GetParam();
    const QWidget* control = window->findChild<QWidget*>(QString::fromLatin1(place.name));
    ASSERT_NE(control, nullptr);
    const float x = window->TwipsPerPixelX(), y = window->TwipsPerPixelY();
    EXPECT_EQ(control->geometry(), QRect(qRound(place.left / x), qRound(place.top / y), qRound(place.width / x),
                                         qRound(place.height / y)));
}

INSTANTIATE_TEST_SUITE_P(Window, ControlLayout,
                         ::testing::Values(Place{"cmdLoad", 240, 120, 1215, 375}, Place{"Combo1", 1560, 120, 5415, 315},
                                           Place{"cmdStop", 7080, 120, 255, 255}, Place{"cmdPlay", 7440, 120, 255, 255},
                                           Place{"cmdClear", 240, 600, 1215, 375},
                                           Place{"lblMem", 1560, 720, 5295, 255},
                                           Place{"chkCatch", 240, 1080, 3135, 255},
                                           Place{"TimeLine", 240, 2040, 11055, 255},
                                           Place{"picDisp", 240, 2400, 5175, 3855}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(WindowTest, StartsInTheDesignState) {
    EXPECT_EQ(window->TwipsPerPixelX(), 15.0f);  // the offscreen screen has 96 dots per inch
    EXPECT_EQ(window->size(), QSize(789, 736));
    EXPECT_EQ(window->windowTitle(), "Form1");
    EXPECT_EQ(window->cmdLoad->text(), "Load Video");
    EXPECT_EQ(window->cmdStop->text(), "||");
    EXPECT_EQ(window->cmdPlay->text(), ">");
    EXPECT_EQ(window->cmdClear->text(), "Clear Catch");
    EXPECT_EQ(window->chkCatch->text(), "Use Catch");
    EXPECT_EQ(window->lblMem->text(), "Memory used: 0 bytes");
    EXPECT_TRUE(window->chkCatch->isChecked());
    EXPECT_TRUE(window->cmdLoad->isEnabled());
    EXPECT_TRUE(window->cmdClear->isEnabled());
    EXPECT_FALSE(window->Combo1->isEnabled());
    EXPECT_FALSE(window->Combo1->isEditable());
    EXPECT_EQ(window->Combo1->count(), 0);
    EXPECT_FALSE(window->cmdPlay->isEnabled());
    EXPECT_FALSE(window->cmdStop->isEnabled());
    EXPECT_EQ(window->TimeLine->orientation(), Qt::Horizontal);
    EXPECT_EQ(window->TimeLine->minimum(), 0);
    EXPECT_EQ(window->TimeLine->maximum(), 0);
    EXPECT_EQ(window->TimeLine->value(), 0);
    EXPECT_FALSE(window->TimeLine->hasTracking());
    EXPECT_EQ(window->PicDispWidth(), 5175.0f);
    EXPECT_EQ(window->PicDispHeight(), 3855.0f);
    EXPECT_EQ(window->focusWidget(), window->cmdLoad);
}

TEST_F(WindowTest, TabOrderFollowsTheLayout) {
    const std::vector<QWidget*> expected = {window->cmdLoad, window->picDisp, window->TimeLine,
                                            window->Combo1,  window->cmdStop, window->cmdPlay,
                                            window->cmdClear, window->chkCatch};
    std::vector<QWidget*> chain;
    QWidget* widget = window->cmdLoad;
    do {
        if (widget->focusPolicy() & Qt::TabFocus) chain.push_back(widget);
        widget = widget->nextInFocusChain();
    } while (widget != window->cmdLoad);
    EXPECT_EQ(chain, expected);
    EXPECT_EQ(window->lblMem->focusPolicy(), Qt::NoFocus);
}

TEST_F(WindowTest, TheScrollBarCannotMoveBeforeTheFirstClip) {
    QTest::keyClick(window->TimeLine, Qt::Key_Right);
    window->TimeLine->setValue(5);
    EXPECT_EQ(window->TimeLine->value(), 0);
    EXPECT_EQ(messages.Count(), 0u);
}

TEST_F(WindowTest, TheDialogAsksForAnAviFileAndCancellingChangesNothing) {
    LoadThroughDialog("");
    ASSERT_EQ(dialogCalls.size(), 1u);
    EXPECT_EQ(dialogCalls[0].fileName, "");
    EXPECT_EQ(dialogCalls[0].filter, "Avi|*.avi");
    EXPECT_EQ(dialogCalls[0].title, "Load AVI File");
    EXPECT_EQ(window->Combo1->count(), 0);
    EXPECT_FALSE(window->Combo1->isEnabled());
    EXPECT_EQ(messages.Count(), 0u);
}

TEST_F(WindowTest, AFailedFirstLoadLeavesTheListDisabledAndTheNextLoadUsesIndexZero) {
    const std::string missing = dir + "/missing.avi";
    LoadThroughDialog(missing);
    ASSERT_EQ(messages.Count(), 1u);
    EXPECT_EQ(messages.Last().text, "There was an error working with the file:\r\n" + missing);
    EXPECT_EQ(messages.Last().caption, "Framewise");
    EXPECT_EQ(messages.Last().icon, 64);
    EXPECT_FALSE(window->Combo1->isEnabled());
    EXPECT_FALSE(window->cmdPlay->isEnabled());
    EXPECT_FALSE(window->cmdStop->isEnabled());
    EXPECT_EQ(window->Combo1->count(), 0);

    LoadThroughDialog(Clip("good.avi"));
    EXPECT_EQ(messages.Count(), 1u);
    EXPECT_EQ(window->Combo1->count(), 1);
    EXPECT_EQ(window->Combo1->currentIndex(), 0);
    EXPECT_EQ(window->Combo1->itemText(0), "good.avi");
    EXPECT_TRUE(window->Combo1->isEnabled());
    EXPECT_TRUE(window->cmdPlay->isEnabled());
    EXPECT_TRUE(window->cmdStop->isEnabled());
    ASSERT_EQ(window->Clips().size(), 1u);
    EXPECT_NE(window->Clips()[0], nullptr);
}

TEST_F(WindowTest, TwoLoadsListBothAndShowTheSecondFromItsFirstFrame) {
    LoadThroughDialog(Clip("one.avi", Spec(5)));
    LoadThroughDialog(Clip("two.avi", Spec(8, 32, 16)));
    ASSERT_EQ(window->Combo1->count(), 2);
    EXPECT_EQ(window->Combo1->itemText(0), "one.avi");
    EXPECT_EQ(window->Combo1->itemText(1), "two.avi");
    EXPECT_EQ(window->Combo1->currentIndex(), 1);
    EXPECT_EQ(window->TimeLine->minimum(), 0);
    EXPECT_EQ(window->TimeLine->maximum(), 7);
    EXPECT_EQ(window->TimeLine->value(), 0);
    EXPECT_EQ(window->picDisp->size(), QSize(32, 16));
    EXPECT_EQ(window->focusWidget(), window->TimeLine);
}

TEST_F(WindowTest, ChoosingTheFirstEntryAgainResetsRangeFrameAndSize) {
    LoadThroughDialog(Clip("big.avi", Spec(6, 320, 240)));
    window->TimeLine->setValue(4);
    LoadThroughDialog(Clip("small.avi", Spec(12)));
    window->TimeLine->setValue(9);
    ASSERT_EQ(ShownFrame(), 9);

    ChooseEntry(0);
    EXPECT_EQ(window->TimeLine->minimum(), 0);
    EXPECT_EQ(window->TimeLine->maximum(), 5);
    EXPECT_EQ(window->TimeLine->value(), 0);
    EXPECT_EQ(window->PicDispWidth(), 4800.0f);
    EXPECT_EQ(window->PicDispHeight(), 3600.0f);
    EXPECT_EQ(window->picDisp->Image().Width(), 320);
    EXPECT_EQ(ShownFrame(), 0);
}

TEST_F(WindowTest, AFrameLargerThanTheWindowKeepsTheWindowSizeAndStaysInThePictureBox) {
    const QImage before = window->grab().toImage();
    LoadThroughDialog(Clip("large.avi", Spec(2, 1000, 800)));
    EXPECT_EQ(window->size(), QSize(789, 736));
    EXPECT_EQ(window->picDisp->geometry(), QRect(16, 160, 1000, 800));
    const QImage after = window->grab().toImage();
    for (const QPoint outside : {QPoint(8, 400), QPoint(400, 157), QPoint(15, 735)})
        EXPECT_EQ(after.pixel(outside), before.pixel(outside)) << outside.x() << "," << outside.y();
}

TEST_F(WindowTest, ClearCatchWithoutClipsShowsZeroBytes) {
    window->cmdClear->click();
    EXPECT_EQ(window->lblMem->text(), "Memory used: 0 bytes");
}

TEST_F(WindowTest, ClearCatchEmptiesEveryCacheAndKeepsThePicture) {
    LoadThroughDialog(Clip("a.avi"));
    window->TimeLine->setValue(3);
    LoadThroughDialog(Clip("b.avi"));
    window->TimeLine->setValue(2);
    ASSERT_NE(window->lblMem->text(), "Memory used: 0 bytes");
    window->cmdClear->click();
    EXPECT_EQ(window->lblMem->text(), "Memory used: 0 bytes");
    for (const auto& clip : window->Clips()) EXPECT_EQ(clip->GetCatchSize(), 0);
    EXPECT_EQ(ShownFrame(), 2);
}

TEST_F(WindowTest, CancellingAfterLoadsKeepsListClipPictureAndLabel) {
    LoadThroughDialog(Clip("a.avi"));
    LoadThroughDialog(Clip("b.avi"));
    ChooseEntry(0);
    window->TimeLine->setValue(6);
    const QString label = window->lblMem->text();
    LoadThroughDialog("");
    EXPECT_EQ(window->Combo1->count(), 2);
    EXPECT_EQ(window->Combo1->currentIndex(), 0);
    EXPECT_EQ(window->TimeLine->value(), 6);
    EXPECT_EQ(ShownFrame(), 6);
    EXPECT_EQ(window->lblMem->text(), label);
}

TEST_F(WindowTest, UseCatchOffDecodesAfreshAndOnDrawsFromTheCacheAgain) {
    LoadThroughDialog(Clip("a.avi"));
    window->TimeLine->setValue(1);
    window->TimeLine->setValue(2);
    const QString label = window->lblMem->text();
    const PGETFRAME reader = window->Clips()[0]->FrameReader();
    const auto decoded = [&] { return AVIStreamGetFrameStats(reader).requests; };

    window->chkCatch->click();
    ASSERT_FALSE(window->chkCatch->isChecked());
    auto before = decoded();
    window->TimeLine->setValue(1);
    EXPECT_EQ(decoded(), before + 1);
    EXPECT_EQ(ShownFrame(), 1);
    EXPECT_EQ(window->lblMem->text(), label);

    window->chkCatch->click();
    before = decoded();
    window->TimeLine->setValue(2);
    EXPECT_EQ(decoded(), before);
    EXPECT_EQ(ShownFrame(), 2);
    EXPECT_EQ(window->lblMem->text(), label);
}

TEST_F(WindowTest, TheScrolledFrameIsDrawnAndPaintedPixelForPixel) {
    LoadThroughDialog(Clip("a.avi", Spec(20, 96, 64)));
    for (const int frame : {13, 5, 19, 0}) {
        window->TimeLine->setValue(frame);
        ASSERT_EQ(ShownFrame(), frame);
    }
    window->TimeLine->setValue(7);
    const PersistentImage& image = window->picDisp->Image();
    const QImage painted = window->picDisp->grab().toImage();
    ASSERT_EQ(painted.size(), QSize(image.Width(), image.Height()));
    for (int y = 0; y < image.Height(); ++y)
        for (int x = 0; x < image.Width(); ++x)
            ASSERT_EQ(painted.pixel(x, y) & 0xFFFFFFu, image.PixelAt(x, y)) << x << "," << y;
}

TEST_F(WindowTest, ArrowAndPageKeysStepTheFocusedScrollBar) {
    LoadThroughDialog(Clip("a.avi", Spec(60)));
    ASSERT_EQ(window->focusWidget(), window->TimeLine);
    QTest::keyClick(window->TimeLine, Qt::Key_Right);
    EXPECT_EQ(ShownFrame(), 1);
    QTest::keyClick(window->TimeLine, Qt::Key_PageDown);
    EXPECT_EQ(ShownFrame(), 26);
    QTest::keyClick(window->TimeLine, Qt::Key_Left);
    EXPECT_EQ(ShownFrame(), 25);
}

TEST_F(WindowTest, AClipLongerThanSixteenBitsKeepsItsWholeRange) {
    ClipSpec spec = Spec(2);
    for (int position = 1; position < 40000; ++position) spec.emptyPositions.push_back(position);
    LoadThroughDialog(Clip("long.avi", spec));
    ASSERT_EQ(window->TimeLine->maximum(), 40000);
    window->TimeLine->setValue(39999);
    EXPECT_EQ(ShownFrame(), ExpectedNumbers(spec)[39999]);
    window->TimeLine->setValue(40000);
    EXPECT_EQ(ShownFrame(), 1);
}

TEST_F(WindowTest, DroppedAviFilesLoadEach) {
    const std::string a = Clip("a.avi"), b = Clip("B.AVI");
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(QString::fromStdString(a)), QUrl::fromLocalFile(dir.c_str() + QString("/x.txt")),
                  QUrl::fromLocalFile(QString::fromStdString(b))});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(window.get(), &enter);
    ASSERT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(window.get(), &drop);
    QCoreApplication::sendPostedEvents();
    ASSERT_EQ(window->Combo1->count(), 2);
    EXPECT_EQ(window->Combo1->itemText(0), "a.avi");
    EXPECT_EQ(window->Combo1->itemText(1), "B.AVI");
    EXPECT_EQ(messages.Count(), 0u);
}

TEST_F(WindowTest, ClosingTheWindowClosesEveryClip) {
    LoadThroughDialog(Clip("a.avi"));
    LoadThroughDialog(Clip("b.avi"));
    window->close();
    for (const auto& clip : window->Clips()) EXPECT_EQ(clip, nullptr);
}

struct LabelCase {
    std::int64_t bytes;
    const char* text;
};

class MemoryLabelText : public ::testing::TestWithParam<LabelCase> {};

TEST_P(MemoryLabelText, FollowsTheUnitTable) {
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    EXPECT_EQ(frmMain::FormatBytes(GetParam().bytes, 1), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(Window, MemoryLabelText,
                         ::testing::Values(LabelCase{0, "0 bytes"}, LabelCase{1024, "1024 bytes"},
                                           LabelCase{1025, "1 KB"}, LabelCase{1280, "1.2 KB"},
                                           LabelCase{1536, "1.5 KB"}, LabelCase{1792, "1.8 KB"},
                                           LabelCase{1048535, "1024 KB"}, LabelCase{1048576, "1024 KB"},
                                           LabelCase{1048577, "1 MB"}, LabelCase{2147483647, "2 GB"},
                                           LabelCase{2684354560, "2.5 GB"},
                                           LabelCase{5497558138880, "5 TB"}),
                         [](const auto& info) { return "Bytes" + std::to_string(info.param.bytes); });

TEST(MemoryLabelLocale, UsesTheUsersDecimalSeparatorAndNoGrouping) {
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(frmMain::FormatBytes(1280, 1), "1,2 KB");
    EXPECT_EQ(frmMain::FormatBytes(1024, 1), "1024 bytes");
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
}

}  // namespace
}  // namespace fwtest
