#include <filesystem>

#include <QClipboard>
#include <QDropEvent>
#include <QGuiApplication>
#include <QMimeData>
#include <QProgressDialog>

#include "WindowTestUtil.h"

namespace fwtest {
namespace {

TEST_F(WindowTest, LoadsAnyContainerThroughTheDialogOrByDroppingButNeverAFolder) {
    Load(dir + "/missing.avi");
    QStringList patterns;
    for (const std::string& extension : AVIFileExtensions()) patterns << QString("*.%1").arg(extension.c_str());
    EXPECT_EQ(dialogs.at(0).Filter, "Avi|*.avi|Video files|" + patterns.join(';') + "|All files|*");
    EXPECT_EQ(messages.Last().text, "There was an error working with the file:\r\n" + dir + "/missing.avi");
    std::filesystem::create_directory(dir + "/x.avi");
    QMimeData data;
    for (const std::string& path : {Clip("a.avi"), dir + "/x.avi", Clip("B.MKV")})
        data.setUrls(data.urls() << QUrl::fromLocalFile(path.c_str()));
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(window.get(), &enter);
    QCoreApplication::sendEvent(window.get(), &drop);
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(window->Combo1->itemText(0) + window->Combo1->itemText(1), "a.aviB.MKV");
    EXPECT_EQ(messages.Count(), 1u);
}

TEST(MemoryLabel, FollowsTheUnitTableInTheUsersLocale) {
    const std::pair<std::int64_t, const char*> cases[] = {
        {0, "0 bytes"},   {1024, "1024 bytes"},  {1025, "1 KB"},    {1280, "1.2 KB"},     {1536, "1.5 KB"},
        {1792, "1.8 KB"}, {1048535, "1024 KB"}, {1048577, "1 MB"}, {2147483647, "2 GB"}, {5497558138880, "5 TB"}};
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    for (const auto& [bytes, text] : cases) EXPECT_EQ(frmMain::FormatBytes(bytes, 1), text) << bytes;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(frmMain::FormatBytes(1280, 1) + frmMain::FormatBytes(1024, 1), "1,2 KB1024 bytes");
}

// A 29.97 frames-per-second MPEG-4 clip with key frames every 12 pictures and
// an empty position at 20 (picture 19 shown again): positions 0 to 40.
class FrameTools : public WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        Load(Clip("clip.avi", "mpeg4 96x72 40 rate=30000/1001 empty=20"));
        window->TimeLine->setValue(7);
    }
};

TEST_F(FrameTools, KeysAndGoToMoveTheBarAndTheReadoutFollows) {
    using Cases = std::vector<std::tuple<int, std::vector<QString>, const char*>>;
    const Cases cases = {
        // a key; for Ctrl+G the answers typed until one is accepted; the readout afterwards
        {Qt::Key_Right, {}, "Frame 8 of 0–40 · 0:00:00.267 · P"},
        {Qt::Key_PageDown, {}, "Frame 38 of 0–40 · 0:00:01.268 · P"},  // a second of 29.97 frames: 30
        {Qt::Key_G, {"12"}, "Frame 12 of 0–40 · 0:00:00.400 · key"},
        {Qt::Key_G, {" 0.667 "}, "Frame 20 of 0–40 · 0:00:00.667 · repeat"},
        {Qt::Key_G, {"abc", "41", "0:00:01.400", "1.2s"}, "Frame 35 of 0–40 · 0:00:01.168 · P"},
        {Qt::Key_G, {"0:00:01.335"}, "Frame 40 of 0–40 · 0:00:01.335 · P"},
        {Qt::Key_Home, {}, "Frame 0 of 0–40 · 0:00:00.000 · key"},
        {Qt::Key_End, {}, "Frame 40 of 0–40 · 0:00:01.335 · P"}};
    // A picture a minute: times past an hour, minutes that wrap, and times that are none.
    const Cases slow = {
        {Qt::Key_G, {"1:60", "1:75", "0:60:00", "0:61:00", "1:02:03.5"}, "Frame 62 of 0–79 · 1:02:00.000 · I"},
        {Qt::Key_End, {}, "Frame 79 of 0–79 · 1:19:00.000 · I"}};
    QStringList reasons;
    const auto drive = [&](const Cases& cases) {
        for (const auto& [key, typed, readout] : cases) {
            window->AskGoTo = [&](const QString&, const GoToCheck& check, QWidget*) {
                for (const QString& answer : typed)
                    if (reasons << check(answer); reasons.back().isEmpty()) return answer;
                return QString();
            };
            // Home and End work wherever the focus is; the arrows move the bar that has it.
            (key == Qt::Key_Home ? window->cmdClear : static_cast<QWidget*>(window->TimeLine))->setFocus();
            Key(key, typed.empty() ? Qt::NoModifier : Qt::ControlModifier);
            EXPECT_EQ(window->lblFrame->text(), QString::fromUtf8(readout));
        }
    };
    drive(cases);
    EXPECT_EQ(reasons.mid(2, 3).join('|'), "Type a frame number, h:mm:ss.mmm or seconds|Frame 41 is outside 0–40|"
                                           "0:00:01.400 is past the end of the clip (0:00:01.335)");
    Load(Clip("minutes.avi", "ffv1 64x48 80 rate=1/60"));
    drive(slow);
}

TEST_F(FrameTools, SavedAndCopiedFramesAreTheShownFramePixelForPixel) {
    const QImage shown = ToQImage(window->picDisp->Image());
    Key(Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(Rgb(QGuiApplication::clipboard()->image()), shown);
    // Writes that fail (a folder is in the way) say why and leave nothing behind.
    for (const std::string name : {"taken.bmp", "taken.png"}) std::filesystem::create_directory(dir + "/" + name);
    for (const std::string name : {"saved.bmp", "saved.png", "SAVED.PNG", "taken.bmp", "taken.png"}) {
        answers.push_back(QString::fromStdString(dir + "/" + name));
        Key(Qt::Key_S, Qt::ControlModifier);
        EXPECT_EQ(dialogs.back().FileName.toStdString(), dir + "/clip-7.bmp");
        // Read as the format its name says.
        EXPECT_EQ(Rgb(QImage(QString::fromStdString(dir + "/" + name), name.substr(6).c_str())),
                  name.starts_with("taken") ? QImage() : shown);
    }
    EXPECT_TRUE(messages.Count() == 2 && messages.Last().text.starts_with("The frame could not be saved (") &&
                messages.Last().text.ends_with(":\r\n" + dir + "/taken.png")) << messages.Count();
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), {}), 6);  // the clip, three files, two folders
}

// Also run at screen scale factors 1.5 and 2: the picture stays one to one
// with the frame's pixels in device pixels.
using ScaledPicture = FrameTools;

TEST_F(ScaledPicture, ShowsFramePixelsOneToOneAtEveryZoomAndReadsThemUnderThePointer) {
    const QImage frame = ToQImage(window->picDisp->Image());
    // A pixel unlike its right neighbour and its mirror across the diagonal.
    QPoint p(0, 40);
    while (frame.pixel(p) == frame.pixel(p + QPoint(1, 0)) || frame.pixel(p) == frame.pixel(p.transposed())) p.rx()++;
    for (const int zoom : {1, 2, 4, 8}) {
        EXPECT_EQ(Rgb(window->picDisp->grab().toImage()), frame.scaled(frame.size() * zoom)) << "zoom " << zoom;
        EXPECT_EQ(window->lblZoom->text(), QString("Zoom %1×").arg(zoom));
        const QPointF device(zoom * (p.x() + 1) - 0.5, zoom * p.y() + 0.5);  // the pixel's last device column
        QMouseEvent move(QEvent::MouseMove, device / window->devicePixelRatioF(), QPointF(), Qt::NoButton, {}, {});
        QCoreApplication::sendEvent(window->picDisp, &move);
        const QRgb rgb = frame.pixel(p);
        // Then the decoded picture's own values (checked against ffmpeg in SourceValuesTest).
        const QString text = window->lblPixel->text();
        EXPECT_TRUE(text.startsWith(
            QString::asprintf("x %d y %d · R %d G %d B %d · Y ", p.x(), p.y(), qRed(rgb), qGreen(rgb), qBlue(rgb))))
            << text.toStdString();
        Key(Qt::Key_Plus);
    }
    QWheelEvent wheel({}, {}, {}, QPoint(0, -3 * 120), {}, Qt::ControlModifier, Qt::NoScrollPhase, false);  // 3 notches
    QCoreApplication::sendEvent(window->picDisp, &wheel);
    EXPECT_EQ(window->picDisp->Zoom(), 1);
}

TEST(LoadProgressView, ShowsHowFarALoadHasComeAndCancellingStopsIt) {
    EnsureApplication();
    QWidget parent;
    const LoadProgress progress(LoadProgress::ShowProgressDialog, "/x/clip.mkv", &parent, 0);
    const AVIProgressHandler handler = AVISetProgressHandler(nullptr);
    EXPECT_TRUE(handler(0.25));
    auto* dialog = parent.findChild<QProgressDialog*>();
    ASSERT_TRUE(dialog && dialog->value() == 250 && dialog->labelText().contains("clip.mkv"));
    dialog->cancel();
    EXPECT_FALSE(handler(0.5));
}

}  // namespace
}  // namespace fwtest
