// Comparing two clips in the real window: the views pixel by pixel, the
// readout, metrics measured off the UI thread, the graph and the worst frame.
#include <cstring>

#include <QMouseEvent>
#include <QSpinBox>

#include "WindowTestUtil.h"
#include "clip/cAVI.h"
#include "window/CompareView.h"
#include "window/FrameInspector.h"

namespace {

using View = CompareView::View;

class Compare : public fwtest::WindowTest {
protected:
    // Loads A, then B, shows A and compares it with B at `offset`.
    void Open(const std::string& a, const std::string& b, int offset) {
        Load(a);
        Load(b);
        window->Combo1->setCurrentIndex(0);
        window->Combo1_Click();
        compare().spnOffset->setValue(offset);
        compare().cboCompare->setCurrentIndex(1);
        emit compare().cboCompare->activated(1);
    }
    CompareView& compare() { return *window->Compare; }
    // Frame `frame` of loaded clip `index` as its own picture.
    PersistentImage FrameOf(int index, std::int32_t frame) {
        MemorySurface surface(window->Clips()[index]->GetWidth(), window->Clips()[index]->GetHeight());
        window->Clips()[index]->DrawFrame(frame, surface, false);
        return surface.Image();
    }
    const PersistentImage& Shown() { return window->picDisp->Image(); }
    // The shown picture's pixel (x, y) equals `expected`(x, y) everywhere.
    template <typename Expected>
    void ExpectPixels(int width, int height, Expected expected, const char* what) {
        ASSERT_EQ(Shown().Width(), width) << what;
        ASSERT_EQ(Shown().Height(), height) << what;
        int wrong = 0;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                if (Shown().PixelAt(x, y) != expected(x, y) && ++wrong <= 3)
                    ADD_FAILURE() << what << " at " << x << "," << y;
    }
    bool WaitFor(const std::function<bool()>& done, int ms = 30000) {
        for (QElapsedTimer timer; !done();) {
            if (!timer.isValid()) timer.start();
            if (timer.elapsed() > ms) return false;
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        }
        return true;
    }
};

std::uint32_t Difference(std::uint32_t a, std::uint32_t b, int times) {
    std::uint32_t out = 0;
    for (int shift : {0, 8, 16}) {
        const int d = std::abs(static_cast<int>(a >> shift & 0xFF) - static_cast<int>(b >> shift & 0xFF));
        out |= static_cast<std::uint32_t>(std::min(255, d * times)) << shift;
    }
    return out;
}

TEST_F(Compare, EveryViewShowsTheFramesPixelByPixel) {
    Open(Clip("a.avi", "ffv1 64x48 10"), Clip("b.mkv", "libx264 64x48 14 -crf=35"), 3);
    window->TimeLine->setValue(4);
    const PersistentImage a = FrameOf(0, 4), b = FrameOf(1, 7);
    ASSERT_EQ(fwtest::FrameNumberOf(a), 4);
    ASSERT_EQ(fwtest::FrameNumberOf(b), 7);  // B at N + offset

    EXPECT_EQ(compare().CurrentView(), View::SideBySide);
    EXPECT_TRUE(compare().lblCompare->text().startsWith("View side by side \u00B7 B frame 7")) << compare().lblCompare->text().toStdString();
    ExpectPixels(64 + CompareView::kSideGap + 64, 48, [&](int x, int y) {
        return x < 64 ? a.PixelAt(x, y) : x < 64 + CompareView::kSideGap ? 0u : b.PixelAt(x - 64 - CompareView::kSideGap, y);
    }, "side by side");

    Key(Qt::Key_A);
    ExpectPixels(64, 48, [&](int x, int y) { return a.PixelAt(x, y); }, "A");
    Key(Qt::Key_B);
    ExpectPixels(64, 48, [&](int x, int y) { return b.PixelAt(x, y); }, "B");
    EXPECT_TRUE(compare().lblCompare->text().startsWith("View B \u00B7")) << compare().lblCompare->text().toStdString();

    Key(Qt::Key_W);
    ExpectPixels(64, 48, [&](int x, int y) { return x < 32 ? a.PixelAt(x, y) : b.PixelAt(x, y); }, "wipe");
    QTest::mousePress(window->picDisp, Qt::LeftButton, {}, QPoint(10, 5));
    QTest::mouseRelease(window->picDisp, Qt::LeftButton, {}, QPoint(10, 5));
    EXPECT_EQ(compare().WipeAt(), 10);
    ExpectPixels(64, 48, [&](int x, int y) { return x < 10 ? a.PixelAt(x, y) : b.PixelAt(x, y); }, "wipe at 10");
    EXPECT_TRUE(compare().lblCompare->text().startsWith("View wipe at x 10 \u00B7")) << compare().lblCompare->text().toStdString();

    for (int times : {1, 4, 16}) {
        Key(Qt::Key_D);
        EXPECT_EQ(compare().Amplification(), times);
        EXPECT_NE(compare().lblCompare->text().indexOf(QStringLiteral("difference \u00D7%1").arg(times)), -1);
        ExpectPixels(64, 48, [&](int x, int y) { return Difference(a.PixelAt(x, y), b.PixelAt(x, y), times); },
                     "difference");
    }

    // The pixel readout names both clips' values at the same frame position.
    window->picDisp->setFocus();
    Key(Qt::Key_S);
    const QPoint at(64 + CompareView::kSideGap + 5, 6);
    QMouseEvent move(QEvent::MouseMove, at, window->picDisp->mapToGlobal(at), Qt::NoButton, {}, {});
    QCoreApplication::sendEvent(window->picDisp, &move);
    const QString pixel = window->lblPixel->text();
    const auto rgb = [](std::uint32_t v) {
        return QStringLiteral("R %1 G %2 B %3").arg(v >> 16 & 0xFF).arg(v >> 8 & 0xFF).arg(v & 0xFF);
    };
    EXPECT_TRUE(pixel.startsWith("x 5 y 6 \u00B7 A " + rgb(a.PixelAt(5, 6)))) << pixel.toStdString();
    EXPECT_NE(pixel.indexOf(" \u00B7 B " + rgb(b.PixelAt(5, 6))), -1) << pixel.toStdString();

    // Stepping moves both.
    Key(Qt::Key_End);
    EXPECT_EQ(window->TimeLine->value(), 9);
    Key(Qt::Key_A);
    EXPECT_EQ(fwtest::FrameNumberOf(Shown()), 9);
    Key(Qt::Key_B);
    EXPECT_EQ(fwtest::FrameNumberOf(Shown()), 12);

    // B's frame is read on another thread while A's is read: stepping back,
    // with the cache off and then from it, each pair is shown together.
    Key(Qt::Key_S);
    const auto half = [&](int x) {
        PersistentImage image;
        image.Resize(64, 48);
        for (int y = 0; y < 48; ++y) std::memcpy(image.Row(y), Shown().Row(y) + 3 * x, 64 * 3);
        return fwtest::FrameNumberOf(image);
    };
    for (bool useCatch : {false, true}) {
        window->chkCatch->setChecked(useCatch);
        window->TimeLine->setFocus();
        Key(Qt::Key_End);
        for (int n = 9; n >= 0; --n) {
            ASSERT_EQ(window->TimeLine->value(), n);
            EXPECT_EQ(half(0), n) << "catch " << useCatch;
            EXPECT_EQ(half(64 + CompareView::kSideGap), n + 3) << "catch " << useCatch;
            Key(Qt::Key_Left);
        }
    }
}

TEST_F(Compare, NoneLeavesTheWindowAsWithoutComparing) {
    const std::string a = Clip("a.avi", "ffv1 64x48 10");
    Load(a);
    const QRect view = window->picView->geometry();
    const QSize picture = window->picDisp->size();
    Open(a, Clip("b.avi", "ffv1 64x48 10"), 0);
    EXPECT_NE(window->picView->geometry(), view);
    EXPECT_TRUE(window->Compare->Graph->isVisible());
    window->Combo1->setCurrentIndex(1);
    window->Combo1_Click();
    compare().cboCompare->setCurrentIndex(0);
    emit compare().cboCompare->activated(0);
    EXPECT_FALSE(compare().Active());
    EXPECT_EQ(window->picView->geometry(), view);
    EXPECT_FALSE(window->Compare->Graph->isVisible());
    EXPECT_EQ(Shown().Width(), 64);
    EXPECT_EQ(window->picDisp->size(), picture);
    EXPECT_EQ(fwtest::FrameNumberOf(Shown()), 0);
    EXPECT_TRUE(compare().lblCompare->text().isEmpty());
}

// At the window's design size the lines of a comparison show whole: both
// pictures' values at four-digit coordinates, and the metrics.
TEST_F(Compare, ReadoutLinesShowWholeAtTheDesignSize) {
    Open(Clip("a.mkv", "libx264 1280x720 2"), Clip("b.mkv", "libx264 1280x720 2 -crf=40"), 0);
    ASSERT_TRUE(WaitFor([&] { return compare().ShownMetrics().has_value(); }));
    window->picDisp->setFocus();
    for (int i = 0; i < 3; ++i) Key(Qt::Key_D);
    const QPoint at(1234, 717);
    QMouseEvent move(QEvent::MouseMove, at, window->picDisp->mapToGlobal(at), Qt::NoButton, {}, {});
    QCoreApplication::sendEvent(window->picDisp, &move);
    ASSERT_NE(compare().lblCompare->text().indexOf(QStringLiteral("\u00D716 \u00B7 B frame 0 \u00B7 PSNR Y ")), -1)
        << compare().lblCompare->text().toStdString();
    ASSERT_TRUE(window->lblPixel->text().startsWith("x 1234 y 717")) << window->lblPixel->text().toStdString();
    for (QLabel* label : {window->lblPixel, compare().lblCompare, compare().lblCompareWith, compare().lblOffset})
        EXPECT_LE(label->sizeHint().width(), label->width()) << label->text().toStdString();
    EXPECT_FALSE(window->lblFrame->geometry().intersects(window->lblZoom->geometry()));
}

TEST_F(Compare, MetricsArriveWithoutStoppingTheSteps) {
    const std::string a = Clip("a.avi", "ffv1 64x48 10");
    Open(a, a, 0);
    ASSERT_TRUE(WaitFor([&] { return compare().ShownMetrics().has_value(); }));
    EXPECT_NE(compare().lblCompare->text().indexOf("PSNR identical"), -1) << compare().lblCompare->text().toStdString();
    // Stepping never waits for a measurement: each step shows its picture at
    // once, and the last one's metrics follow.
    compare().spnOffset->setValue(1);
    for (int i = 0; i < 6; ++i) Key(Qt::Key_Right);
    EXPECT_EQ(window->TimeLine->value(), 6);
    ASSERT_TRUE(WaitFor([&] { return compare().ShownMetrics().has_value(); }));
    EXPECT_EQ(compare().ShownMetrics()->frameA, 6);
    EXPECT_EQ(compare().ShownMetrics()->frameB, 7);
    EXPECT_NE(compare().lblCompare->text().indexOf("PSNR Y "), -1) << compare().lblCompare->text().toStdString();
}

TEST_F(Compare, DifferentSizesShowBothAndSayWhyNoMetrics) {
    Open(Clip("a.avi", "ffv1 64x48 10"), Clip("b.avi", "ffv1 32x24 10"), 0);
    EXPECT_EQ(Shown().Width(), 64 + CompareView::kSideGap + 32);
    // Black between the pictures and under the shorter one.
    EXPECT_EQ(Shown().PixelAt(64 + 1, 10), 0u);
    EXPECT_EQ(Shown().PixelAt(64 + CompareView::kSideGap + 5, 30), 0u);
    ASSERT_TRUE(WaitFor([&] { return compare().ShownMetrics().has_value(); }));
    EXPECT_NE(compare().lblCompare->text().indexOf("no PSNR/SSIM: sizes differ (64x48 and 32x24)"), -1)
        << compare().lblCompare->text().toStdString();
}

TEST_F(Compare, GraphFillsAndTheWorstFrameIsOneKeyAway) {
    const std::string a = Clip("a.avi", "ffv1 64x48 40");
    const std::string b = dir + "/damaged.avi";
    bool ok = false;
    fwtest::RunCommand("ffmpeg -v error -y -i " + fwtest::ShellQuoted(a) +
                           " -vf \"drawbox=x=8:y=8:w=40:h=30:color=red:t=fill:enable='eq(n,35)'\" -c:v ffv1 " +
                           fwtest::ShellQuoted(b),
                       ok);
    ASSERT_TRUE(ok);
    Open(a, b, 0);
    // Pressed before the pass has measured anything (its results arrive as
    // events): the key takes effect when it ends.
    Key(Qt::Key_W, Qt::ShiftModifier);
    ASSERT_TRUE(WaitFor([&] { return compare().PassDone(); }));
    EXPECT_EQ(window->TimeLine->value(), 35);
    const std::vector<double>& values = compare().GraphValues();
    ASSERT_EQ(values.size(), 40u);
    EXPECT_TRUE(std::isinf(values[0]));
    EXPECT_TRUE(std::isfinite(values[35]));
    // The graph marks the worst frame's column over its whole height (the
    // scale's text makes way), and the bars of the others close up.
    const QImage graph = compare().Graph->grab().toImage();
    const BarScale scale = window->Inspector->Ticks->Scale();
    const int bottom = compare().Graph->height() - 3;
    EXPECT_EQ(graph.pixelColor(scale.X(35), bottom), QColor(220, 0, 0));
    EXPECT_EQ(graph.pixelColor(scale.X(35), 4), QColor(220, 0, 0));
    const int between = (scale.X(11) + scale.X(12)) / 2;
    EXPECT_EQ(graph.pixelColor(between, bottom), compare().Graph->palette().color(QPalette::Highlight));
    // A click on the graph goes to the frame under it.
    QTest::mouseClick(compare().Graph, Qt::LeftButton, {}, QPoint(scale.X(11), 10));
    EXPECT_EQ(window->TimeLine->value(), 11);
    Key(Qt::Key_W, Qt::ShiftModifier);
    EXPECT_EQ(window->TimeLine->value(), 35);
}

}  // namespace
