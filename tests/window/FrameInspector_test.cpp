// Key-frame ticks, marks and the frame facts panel, against what ffprobe
// reports of the same clip.
#include <QClipboard>
#include <QGuiApplication>

#include "WindowTestUtil.h"
#include "window/FrameInspector.h"

namespace {

using fwtest::WindowTest;

// ffprobe's frames in presentation order: `entry` of each.
QStringList ProbeFrames(const std::string& path, const std::string& entry) {
    bool ok = false;
    const std::string out = fwtest::RunCommand("ffprobe -v error -select_streams v:0 -show_entries frame=" + entry +
                                                   " -of csv=p=0 " + fwtest::ShellQuoted(path),
                                               ok);
    EXPECT_TRUE(ok);
    QStringList rows = QString::fromStdString(out).split('\n', Qt::SkipEmptyParts);
    for (QString& row : rows) row = row.section(',', 0, 0).trimmed();  // side data comes after
    rows.removeAll(QString());
    return rows;
}

TEST_F(WindowTest, KeyTicksAndKeysFollowTheKeyFramesFfprobeReports) {
    const std::string path = Clip("keys.mp4", "libx264 96x64 50 b=2 -x264-params=open-gop=1:keyint=9:min-keyint=9:scenecut=0");
    Load(path);
    const QStringList keyFlags = ProbeFrames(path, "key_frame");
    std::vector<std::int32_t> expected;
    for (int i = 0; i < keyFlags.size(); ++i)
        if (keyFlags[i] == "1") expected.push_back(i);
    ASSERT_GT(expected.size(), 3u);
    EXPECT_EQ(window->Inspector->KeyFrames(), expected);

    // A tick under the bar at each key frame, none halfway between two.
    const QImage ticks = window->Inspector->Ticks->grab().toImage();
    const QRgb empty = ticks.pixel(0, 0);
    const BarScale scale = window->Inspector->Ticks->Scale();
    for (const std::int32_t key : expected) EXPECT_NE(ticks.pixel(scale.X(key), 2), empty) << key;
    const int between = (scale.X(expected[0]) + scale.X(expected[1])) / 2;
    EXPECT_EQ(ticks.pixel(between, 2), empty);

    std::vector<std::int32_t> visited;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        Key(Qt::Key_Right, Qt::ControlModifier);
        visited.push_back(window->TimeLine->value());
    }
    EXPECT_EQ(visited.back(), expected.back());  // the last key: Ctrl+Right stays
    visited.pop_back();
    EXPECT_EQ(visited, std::vector<std::int32_t>(expected.begin() + 1, expected.end()));
    window->TimeLine->setValue(expected[2] + 1);
    Key(Qt::Key_Left, Qt::ControlModifier);
    EXPECT_EQ(window->TimeLine->value(), expected[2]);
    Key(Qt::Key_Left, Qt::ControlModifier);
    EXPECT_EQ(window->TimeLine->value(), expected[1]);
}

TEST_F(WindowTest, MarksStayWithTheirClipAndAreCopiedOneALine) {
    Load(Clip("a.avi", "ffv1 64x48 30"));
    for (const int frame : {17, 4, 25, 9}) {
        window->TimeLine->setValue(frame);
        Key(Qt::Key_M);
    }
    Key(Qt::Key_M);  // 9 again: unmarked
    window->TimeLine->setValue(0);
    std::vector<int> visited;
    for (int i = 0; i < 4; ++i) Key(Qt::Key_BracketRight), visited.push_back(window->TimeLine->value());
    Key(Qt::Key_BracketLeft), visited.push_back(window->TimeLine->value());
    EXPECT_EQ(visited, (std::vector<int>{4, 17, 25, 25, 17}));
    Key(Qt::Key_C, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "4\n17\n25\n");

    Load(Clip("b.avi", "ffv1 64x48 30"));
    EXPECT_TRUE(window->Inspector->Marks().empty());
    window->Combo1->setCurrentIndex(0);
    window->Combo1->activated(0);
    EXPECT_EQ(window->Inspector->Marks(), (std::vector<std::int32_t>{4, 17, 25}));
}

// The panel (I) for the shown frame of a 10-bit interlaced clip with
// B-frames, against ffprobe's frames.
TEST_F(WindowTest, PanelTellsTheShownFramesFactsAsFfprobeDoes) {
    const std::string path = Clip("i10.mkv", "libx264 96x64 20 gop=10 b=2 pix=yuv420p10le -flags=+ilme+ildct "
                                             "-colorspace=bt709 -color_range=tv");
    Load(path);
    EXPECT_FALSE(window->Inspector->Panel->isVisible());
    Key(Qt::Key_I);
    ASSERT_TRUE(window->Inspector->Panel->isVisible());
    const QStringList pts = ProbeFrames(path, "pts"), pos = ProbeFrames(path, "pkt_pos"),
                      type = ProbeFrames(path, "pict_type"), tff = ProbeFrames(path, "top_field_first"),
                      interlaced = ProbeFrames(path, "interlaced_frame");
    ASSERT_EQ(pts.size(), 20);
    for (const int frame : {0, 5, 6, 13}) {
        window->TimeLine->setValue(frame);
        const QString text = window->Inspector->Panel->text();
        SCOPED_TRACE(text.toStdString());
        EXPECT_TRUE(text.startsWith(QStringLiteral("Frame %1\n").arg(frame)));
        EXPECT_TRUE(text.contains(QStringLiteral("\npts: %1 (1/1000)").arg(pts[frame])));
        EXPECT_TRUE(text.contains(QStringLiteral("\npacket: byte %1,").arg(pos[frame])));
        EXPECT_TRUE(text.contains(QStringLiteral("\npicture type: %1\n").arg(type[frame])));
        EXPECT_TRUE(text.contains(interlaced[frame] == "1"
                                      ? (tff[frame] == "1" ? "\ninterlaced: yes, top" : "\ninterlaced: yes, bottom")
                                      : "\ninterlaced: no"));
        EXPECT_TRUE(text.contains("\npixel format: yuv420p10le, 10 bits\n"));
        EXPECT_TRUE(text.contains("\nmatrix: bt709, range tv\n"));
        // Whole, in the picture's room beside the picture.
        const QRect panel = window->Inspector->Panel->geometry(), room = window->picView->geometry();
        EXPECT_GE(panel.width(), window->Inspector->Panel->sizeHint().width());
        EXPECT_GE(panel.height(), window->Inspector->Panel->sizeHint().height());
        EXPECT_TRUE(room.contains(panel)) << panel.x() << "," << panel.y();
        EXPECT_GT(panel.left(), window->picDisp->mapTo(window.get(), QPoint(96, 0)).x());
    }
    Key(Qt::Key_I);
    EXPECT_FALSE(window->Inspector->Panel->isVisible());
}

}  // namespace
