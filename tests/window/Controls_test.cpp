// The window as it starts, the keys at every control, and the picture area
// that scrolls and zooms a frame larger than its room.
#include <QMessageBox>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSignalSpy>

#include "WindowTestUtil.h"
#include "window/MessageBoxes.h"

namespace fwtest {
namespace {

constexpr int kTwipsPerPixel = 15;  // the offscreen screen's 96 dots per inch

// "QPushButton "Load Video" 240,120 1215x375 enabled": kind, text, place
// and size in twips within the window, state.
QString Describe(const QWidget& control) {
    const QPoint at = control.mapTo(control.window(), QPoint()) * kTwipsPerPixel;
    const QSize size = control.size() * kTwipsPerPixel;
    QString text, state = control.isEnabled() ? "enabled" : "disabled";
    if (const auto* button = qobject_cast<const QAbstractButton*>(&control)) text = button->text();
    if (const auto* label = qobject_cast<const QLabel*>(&control)) text = label->text();
    if (const auto* box = qobject_cast<const QCheckBox*>(&control)) state += box->isChecked() ? " checked" : "";
    if (const auto* list = qobject_cast<const QComboBox*>(&control))
        state += QString(" %1 entries%2").arg(list->count()).arg(list->isEditable() ? " editable" : "");
    if (const auto* bar = qobject_cast<const QScrollBar*>(&control))
        state += QString(" %1..%2=%3").arg(bar->minimum()).arg(bar->maximum()).arg(bar->value());
    return QString("%1 \"%2\" %3,%4 %5x%6 %7")
        .arg(control.metaObject()->className(), text).arg(at.x()).arg(at.y()).arg(size.width()).arg(size.height())
        .arg(state);
}

// The names of the controls that Tab visits, in order, from `first` round.
QString TabOrder(QWidget* first) {
    QStringList names;
    for (QWidget* w = first; names.isEmpty() || w != first; w = w->nextInFocusChain())
        if ((w->focusPolicy() & Qt::TabFocus) && w->isVisibleTo(first->window())) names << w->objectName();
    return names.join(' ');
}

// Which of the open dialog's filters (shown name) first takes each file name.
QString FilterFor(const CommonDialog& dialog, const QStringList& names) {
    QStringList taken;
    for (const QString& name : names) {
        for (const QString& filter : dialog.NameFilters()) {
            const QString patterns = filter.section('(', 1).chopped(1);
            bool match = false;
            for (const QString& pattern : patterns.split(' '))
                match |= QRegularExpression(QRegularExpression::wildcardToRegularExpression(pattern)).match(name).hasMatch();
            if (match) {
                taken << name + ":" + filter.section(" (", 0, 0);
                break;
            }
        }
    }
    return taken.join(' ');
}

TEST_F(WindowTest, StartsWithTheDesignedTitleControlsTabOrderBackgroundAndMessages) {
    Load("");  // cancelled: only the dialog's settings are wanted
    const auto box = [](const char* text, int icon) { return MakeMessageBox(text, "Framewise", icon, nullptr); };
    const std::pair<std::function<QString()>, QString> rows[] = {
        {[&] { return window->windowTitle(); }, "Form1"},
        {[&] { return Describe(*window->cmdLoad); }, "QPushButton \"Load Video\" 240,120 1215x375 enabled"},
        {[&] { return Describe(*window->Combo1); }, "QComboBox \"\" 1560,120 5415x315 disabled 0 entries"},
        {[&] { return Describe(*window->cmdStop); }, "QPushButton \"||\" 7080,120 255x255 disabled"},
        {[&] { return Describe(*window->cmdPlay); }, "QPushButton \">\" 7440,120 255x255 disabled"},
        {[&] { return Describe(*window->cmdClear); }, "QPushButton \"Clear Catch\" 240,600 1215x375 enabled"},
        {[&] { return Describe(*window->lblMem); }, "QLabel \"Memory used: 0 bytes\" 1560,720 5295x255 enabled"},
        {[&] { return Describe(*window->chkCatch); }, "QCheckBox \"Use Catch\" 240,1080 3135x255 enabled checked"},
        {[&] { return Describe(*window->TimeLine); }, "QScrollBar \"\" 240,2040 11055x255 enabled 0..0=0"},
        {[&] { return Describe(*window->picDisp); }, "QWidget \"\" 240,2400 5175x3855 enabled"},
        {[&] { return TabOrder(window->cmdLoad); }, "cmdLoad picDisp TimeLine Combo1 cmdStop cmdPlay cmdClear chkCatch"},
        // The system's window background, the face of a text window, not the form's.
        {[&] { return Rgb(window->picDisp->grab().toImage()).pixelColor(10, 10).name(); },
         QApplication::palette().color(QPalette::Base).name()},
        {[&] { return QString::number(box("x", 16)->icon()); }, QString::number(QMessageBox::Critical)},
        {[&] { return QString::number(box("x", 64)->icon()); }, QString::number(QMessageBox::Information)},
        {[&] { return box("Cannot open:\r\n/a/b.avi", 16)->text(); }, "Cannot open:\n/a/b.avi"},
        {[&] { return FilterFor(dialogs.at(0), {"x.AVI", "y.Mp4", "z.avi"}); },
         "x.AVI:Avi y.Mp4:Video files z.avi:Avi"}};
    for (std::size_t i = 0; i < std::size(rows); ++i) EXPECT_EQ(rows[i].first(), rows[i].second) << "row " << i;
    EXPECT_NE(QApplication::palette().color(QPalette::Base), QApplication::palette().color(QPalette::Window));
}

// Tab walks every control; at each, what Space, Return, Enter, Home, End (and
// the arrows on the list) do. Before each key the second of three clips is
// current at frame 4, "Use Catch" ticked.
TEST_F(WindowTest, EveryKeyDoesWhatTheFocusedControlOrElseTheWindowMakesOfIt) {
    for (const char* name : {"a.avi", "b.avi", "c.avi"}) Load(Clip(name));
    QStringList clicked;
    for (QPushButton* button : {window->cmdLoad, window->cmdStop, window->cmdPlay, window->cmdClear})
        QObject::connect(button, &QPushButton::clicked, window.get(), [&clicked, button] { clicked << button->objectName(); });
    const std::vector<std::pair<int, const char*>> keys = {{Qt::Key_Space, "Space"}, {Qt::Key_Return, "Return"},
        {Qt::Key_Enter, "Enter"}, {Qt::Key_Home, "Home"}, {Qt::Key_End, "End"}, {Qt::Key_Up, "Up"}, {Qt::Key_Down, "Down"}};
    const std::pair<QWidget*, const char*> rows[] = {
        {window->cmdLoad, "Space: clicked cmdLoad, dialog; Return: clicked cmdLoad, dialog; "
                          "Enter: clicked cmdLoad, dialog; Home: frame 0; End: frame 9"},
        {window->picDisp, "Space: frame 5, played; Return: ; Enter: ; Home: frame 0; End: frame 9"},
        {window->TimeLine, "Space: frame 5, played; Return: ; Enter: ; Home: frame 0; End: frame 9"},
        {window->Combo1, "Space: frame 5, played; Return: ; Enter: ; Home: clip 0, frame 0; End: clip 2, frame 0; "
                         "Up: clip 0, frame 0; Down: clip 2, frame 0"},
        {window->cmdStop, "Space: clicked cmdStop; Return: clicked cmdStop; Enter: clicked cmdStop; "
                          "Home: frame 0; End: frame 9"},
        {window->cmdPlay, "Space: clicked cmdPlay, frame 5, played; Return: clicked cmdPlay, frame 5, played; "
                          "Enter: clicked cmdPlay, frame 5, played; Home: frame 0; End: frame 9"},
        {window->cmdClear, "Space: clicked cmdClear; Return: clicked cmdClear; Enter: clicked cmdClear; "
                           "Home: frame 0; End: frame 9"},
        {window->chkCatch, "Space: catch off; Return: catch off; Enter: catch off; Home: frame 0; End: frame 9"}};
    window->cmdLoad->setFocus();
    for (const auto& [control, expected] : rows) {
        ASSERT_EQ(QApplication::focusWidget(), control) << control->objectName().toStdString();
        QStringList done;
        for (const auto& [key, keyName] : keys) {
            const bool arrow = key == Qt::Key_Up || key == Qt::Key_Down;
            if (arrow && control != window->Combo1) continue;  // buttons take arrows to move the focus
            window->Combo1->setCurrentIndex(1);
            window->Combo1_Click();
            window->TimeLine->setValue(4);
            window->chkCatch->setChecked(true);
            const std::size_t shown = dialogs.size();
            clicked.clear();
            // Stops a playback the key started, from inside its loop.
            bool inKey = true, played = false;
            QObject context;
            QMetaObject::invokeMethod(&context, [&] { played = inKey; window->cmdStop_Click(); }, Qt::QueuedConnection);
            QTest::keyClick(control, Qt::Key(key), key == Qt::Key_Enter ? Qt::KeypadModifier : Qt::NoModifier);
            inKey = false;
            QCoreApplication::processEvents();
            QStringList effects;
            if (!clicked.isEmpty()) effects << "clicked " + clicked.join('+');
            if (dialogs.size() > shown) effects << "dialog";
            if (window->Combo1->currentIndex() != 1) effects << QString("clip %1").arg(window->Combo1->currentIndex());
            if (window->TimeLine->value() != 4) effects << QString("frame %1").arg(window->TimeLine->value());
            if (!window->chkCatch->isChecked()) effects << "catch off";
            if (played) effects << "played";
            if (QApplication::focusWidget() != control) effects << "focus " + QApplication::focusWidget()->objectName();
            done << QString(keyName) + ": " + effects.join(", ");
        }
        EXPECT_EQ(done.join("; "), QString(expected));
        QTest::keyClick(control, Qt::Key_Tab);
    }
    EXPECT_EQ(QApplication::focusWidget(), window->cmdLoad);  // round
}

// A held arrow key's presses that queue up while a frame is shown move the
// bar as one: the frame they lead to is shown and kept, the ones passed over
// are not; a press of its own moves the bar at once.
TEST_F(WindowTest, HeldArrowPressesThatQueueUpShowOnlyTheFrameTheyLeadTo) {
    Load(Clip("held.avi", "ffv1 64x48 30"));
    window->TimeLine->setValue(20);
    window->TimeLine->setFocus();
    for (int i = 0; i < 5; ++i)
        QCoreApplication::postEvent(window->TimeLine,
                                    new QKeyEvent(QEvent::KeyPress, Qt::Key_Left, Qt::NoModifier, QString(), true));
    for (int i = 0; i < 3; ++i) QCoreApplication::sendPostedEvents();
    EXPECT_EQ(window->TimeLine->value(), 15);
    EXPECT_EQ(ShownFrame(), 15);
    const cAVI& clip = *window->Clips().front();
    for (int n = 16; n < 20; ++n) EXPECT_FALSE(clip.IsCaught(n)) << "frame " << n << " was shown on the way";
    EXPECT_TRUE(clip.IsCaught(15) && clip.IsCaught(20));
    QTest::keyClick(window->TimeLine, Qt::Key_Left);
    EXPECT_EQ(ShownFrame(), 14);
}

// A 1280x720 frame in a room of about 757x560 pixels.
class BigFrame : public WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        Load(Clip("big.avi", "ffv1 1280x720 2"));
        frame = ToQImage(window->picDisp->Image());
        // Scrolling and zooming repaint what the picture holds: a frame drawn
        // again would be kept in the cache emptied here.
        window->cmdClear->click();
    }
    void TearDown() override {
        if (window) {
            EXPECT_EQ(window->Clips().back()->GetCatchSize(), 0) << "the frame was drawn again";
        }
        WindowTest::TearDown();
    }
    QScrollBar& Across() { return *window->picView->horizontalScrollBar(); }
    QScrollBar& Down() { return *window->picView->verticalScrollBar(); }
    QPoint Scrolled() { return QPoint(Across().value(), Down().value()); }
    // The pixel readout after the pointer moved to `at` in the picture box.
    QString PointAt(QPoint at) {
        QMouseEvent move(QEvent::MouseMove, at, window->picDisp->mapToGlobal(at), Qt::NoButton, {}, {});
        QCoreApplication::sendEvent(window->picDisp, &move);
        return window->lblPixel->text().section(" ·", 0, 0);
    }
    // A wheel turned over the picture: the picture box takes it only with
    // Ctrl held, and otherwise leaves it to the room around it, as Qt passes
    // on what a widget ignores. Returns whether the picture box took it.
    bool Wheel(int notches, Qt::KeyboardModifiers modifiers = {}) {
        QWheelEvent wheel(QPointF(50, 50), QPointF(), QPoint(), QPoint(0, 120 * notches), {}, modifiers,
                          Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(window->picDisp, &wheel);
        if (wheel.isAccepted()) return true;
        QWheelEvent passed(QPointF(50, 50), QPointF(), QPoint(), QPoint(0, 120 * notches), {}, modifiers,
                           Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(window->picView->viewport(), &passed);
        return false;
    }
    QImage frame;
};

TEST_F(BigFrame, ScrollsByBarsDraggingAndTheWheelAndShowsThePixelsThere) {
    EXPECT_EQ(window->picDisp->size(), QSize(1280, 720));
    EXPECT_EQ(window->lblZoom->text(), "Zoom 1×");
    EXPECT_GT(Across().maximum(), 500);
    EXPECT_GT(Down().maximum(), 150);
    // Dragged up and left by (61, 37); the room stays where it is on the screen.
    const QPoint room = window->picView->viewport()->mapToGlobal(QPoint());
    for (const auto& [type, at] : {std::pair{QEvent::MouseButtonPress, QPoint(300, 200)},
                                   {QEvent::MouseMove, QPoint(270, 180)}, {QEvent::MouseMove, QPoint(239, 163)},
                                   {QEvent::MouseButtonRelease, QPoint(239, 163)}}) {
        const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
        QMouseEvent event(type, window->picDisp->mapFromGlobal(room + at), room + at, Qt::LeftButton, held, {});
        QCoreApplication::sendEvent(window->picDisp, &event);
    }
    EXPECT_EQ(Scrolled(), QPoint(61, 37));
    EXPECT_FALSE(Wheel(-1));
    EXPECT_GT(Down().value(), 37);
    Across().setValue(Across().maximum());
    Down().setValue(Down().maximum());
    // What the room shows is the frame's far corner, pixel for pixel.
    const QImage shown = Rgb(window->picView->viewport()->grab().toImage());
    EXPECT_EQ(shown, frame.copy(QRect(Scrolled(), shown.size())));
    EXPECT_EQ(Scrolled() + QPoint(shown.width(), shown.height()), QPoint(1280, 720));
    // The readout follows the picture under a pointer that stays put.
    const QPoint at = Scrolled() + QPoint(10, 20);
    EXPECT_EQ(PointAt(at), QString("x %1 y %2").arg(at.x()).arg(at.y()));
    Across().setValue(Across().value() - 100);
    EXPECT_EQ(window->lblPixel->text().section(" ·", 0, 0), QString("x %1 y %2").arg(at.x() - 100).arg(at.y()));
    // Ctrl+wheel zooms instead of scrolling.
    EXPECT_TRUE(Wheel(-1, Qt::ControlModifier));
    EXPECT_EQ(window->lblZoom->text(), "Zoom 1/2×");
    EXPECT_EQ(window->picDisp->size(), QSize(640, 360));
    EXPECT_EQ(Scrolled(), QPoint());  // nothing left to scroll
}

// Each step: a key (or a window size), then the readout, the picture box's
// size, whether it scrolls, and the frame pixel under the pointer at (101, 51).
TEST_F(BigFrame, ZoomsBelowOneToOneAndFitFollowsTheRoom) {
    const QRect design = window->cmdLoad->geometry();
    const std::tuple<int, QSize, const char*, QSize, bool, QPoint> steps[] = {
        {Qt::Key_F, {}, "Zoom Fit 1/2×", {640, 360}, false, {202, 102}},
        {0, {1700, 1000}, "Zoom Fit 1×", {1280, 720}, false, {101, 51}},
        {0, {789, 736}, "Zoom Fit 1/2×", {640, 360}, false, {202, 102}},
        {Qt::Key_Minus, {}, "Zoom 1/4×", {320, 180}, false, {404, 204}},
        {Qt::Key_Minus, {}, "Zoom 1/8×", {160, 90}, false, {808, 408}},
        {Qt::Key_Minus, {}, "Zoom 1/8×", {160, 90}, false, {808, 408}},
        {Qt::Key_1, {}, "Zoom 1×", {1280, 720}, true, {101, 51}},
        {Qt::Key_Plus, {}, "Zoom 2×", {2560, 1440}, true, {50, 25}},
        {-Qt::Key_0, {}, "Zoom 1×", {1280, 720}, true, {101, 51}},  // Ctrl+0
        {0, {1700, 1000}, "Zoom 1×", {1280, 720}, false, {101, 51}}};
    for (const auto& [key, size, readout, picture, scrolls, pixel] : steps) {
        if (key) Key(std::abs(key), key < 0 ? Qt::ControlModifier : Qt::NoModifier);
        if (size.isValid()) window->resize(size);
        QCoreApplication::processEvents();
        EXPECT_EQ(window->lblZoom->text(), QString::fromUtf8(readout));
        EXPECT_EQ(window->picDisp->size(), picture) << readout;
        EXPECT_EQ(Across().maximum() > 0 || Down().maximum() > 0, scrolls) << readout;
        EXPECT_EQ(PointAt({101, 51}), QString("x %1 y %2").arg(pixel.x()).arg(pixel.y())) << readout;
        // The controls stay; the room takes what the window grows by.
        EXPECT_EQ(window->cmdLoad->geometry(), design);
        EXPECT_EQ(window->picView->geometry().bottomRight(), window->rect().bottomRight() - QPoint(16, 16));
    }
}

}  // namespace
}  // namespace fwtest
