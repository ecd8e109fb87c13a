// A monkey at the real main window (offscreen): a few hundred random user
// actions (loading good and hostile files, choosing clips, scrolling, keys,
// switching and clearing the cache, playing) with the window's invariants
// checked after every one, and finally closing it while a clip plays.
#include <random>

#include <QTimer>

#include "TestFiles.h"
#include "WindowTestUtil.h"

namespace fwtest {
namespace {

enum Action { LoadGood, LoadHostile, Cancel, Choose, ScrollTo, Keys, ToggleCatch, Clear, Play };
const double kWeights[] = {8, 8, 3, 15, 15, 30, 8, 8, 5};
const int kKeys[] = {Qt::Key_Left, Qt::Key_PageUp, Qt::Key_PageDown, Qt::Key_Home, Qt::Key_End,
                     Qt::Key_Plus, Qt::Key_Minus,  Qt::Key_F,        Qt::Key_1};

class Monkey : public WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        rng_.seed(fwtest::TestSeed("monkey"));
        good_ = {Clip("a.avi", "ffv1 64x48 30"), Clip("b.avi", "mpeg4 80x64 40 gop=8 b=2"), Clip("c.avi", "ffv1 33x17 9"),
                 Clip("d.avi", "mjpeg 48x32 12")};
        // Hostile files made from a good one, and names that are no file.
        const char* const files[][2] = {
            {"half.avi", "keep 50"},         {"headers.avi", "cut movi 52"},     {"nowidth.avi", "le strf 4 0"},
            {"longest.avi", "le strh 32 0x7FFFFFFF"}, {"late.avi", "le strh 28 1000000"}, {"norate.avi", "le strh 24 0"},
            {"garbage.avi", "garble 00dc random"}};
        for (const auto& [name, damage] : files)
            hostile_.push_back(MakeTestFile(name, std::string("ffv1 64x48 30 ; ") + damage, rng_()));
        for (const auto& [name, what] : {std::pair{"random.avi", "stored random.avi"}, {"empty.avi", "none"},
                                         {"x.avi", "dir"}, {"missing.avi", "missing"}})
            hostile_.push_back(MakeTestFile(name, what, rng_()));
    }

    int Below(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }

    void Do(Action action) {
        QScrollBar& bar = *window->TimeLine;
        const int entries = window->Combo1->count();
        if (entries >= 16 && action <= LoadHostile) action = Choose;  // enough clips
        switch (action) {
            case LoadGood:
            case LoadHostile: {
                // A load adds an entry, or shows one message and adds none.
                const std::size_t shown = messages.Count();
                Load(action == LoadGood ? good_[Below(4)] : hostile_[Below(int(hostile_.size()))]);
                EXPECT_EQ(window->Combo1->count() - entries + messages.Count() - shown, 1u);
                if (window->Combo1->count() > entries) goodEntries_.push_back(action == LoadGood);
                break;
            }
            case Cancel: Load(""); break;
            case Choose:  // as the user's choice reports it; a chosen clip starts at its first frame, unzoomed
                if (entries == 0) break;
                window->Combo1->setCurrentIndex(Below(entries));
                emit window->Combo1->activated(window->Combo1->currentIndex());
                EXPECT_EQ(QPoint(bar.value(), window->picDisp->ZoomPower()), QPoint(bar.minimum(), 0));
                break;
            case ScrollTo: bar.setValue(bar.minimum() + Below(bar.maximum() - bar.minimum() + 1)); break;
            case Keys: Key(kKeys[Below(int(std::size(kKeys)))]); break;
            case ToggleCatch: window->chkCatch->click(); break;
            case Clear: window->cmdClear->click(); break;
            case Play: {
                // A few milliseconds of playback with one other action in between. The
                // timers go with the context, also when Play was disabled.
                QObject context;
                QTimer::singleShot(Below(5), &context, [this, nested = Action(Below(Play))] { Do(nested); });
                QTimer::singleShot(5 + Below(10), &context, [this] { window->cmdStop->click(); });
                window->cmdPlay->click();
            }
        }
    }

    // The list holds the loaded clips; the labels show their caches' sum and
    // the bar's frame; the picture has the current clip's frame size at the
    // zoom and, for a good clip, shows the frame the bar points at.
    void CheckInvariants() {
        const auto& clips = window->Clips();
        ASSERT_EQ(std::size_t(window->Combo1->count()), goodEntries_.size());
        std::int64_t total = 0;
        for (std::size_t i = 0; i < clips.size(); ++i) {
            ASSERT_EQ(clips[i] != nullptr, i < goodEntries_.size()) << "entry " << i;
            total += clips[i] ? clips[i]->GetCatchSize() : 0;
        }
        EXPECT_EQ(window->lblMem->text(), "Memory used: " + frmMain::FormatBytes(total, 1));
        EXPECT_EQ(window->cmdPlay->isEnabled() && window->cmdStop->isEnabled(), !goodEntries_.empty());
        if (goodEntries_.empty()) {  // nothing moves, zooms or is read out before the first clip
            EXPECT_EQ(QString("%1 %2 %3").arg(window->TimeLine->maximum()).arg(window->TimeLine->value())
                          .arg(window->picDisp->ZoomPower()) + window->lblFrame->text() + window->lblZoom->text(), "0 0 0");
            return;
        }
        const cAVI& clip = *clips.at(window->Combo1->currentIndex());
        const QScrollBar& bar = *window->TimeLine;
        // Enlarged whole, or reduced with a partial block at the far edges.
        const int power = window->picDisp->ZoomPower();
        const auto zoomed = [power](int length) { return power >= 0 ? length << power : -(-length >> -power); };
        EXPECT_EQ(window->picDisp->size(), QSize(zoomed(clip.GetWidth()), zoomed(clip.GetHeight())));
        EXPECT_EQ(QPoint(bar.minimum(), bar.maximum()), QPoint(clip.GetFirstFrame(), clip.GetLastFrame()));
        // The readout names the bar's frame and range, and the first frame is at 0:00:00.000.
        const QString readout = window->lblFrame->text();
        const QString range = QString("Frame %1 of %2–%3 · ").arg(bar.value()).arg(bar.minimum()).arg(bar.maximum());
        EXPECT_TRUE(readout.startsWith(range) && (bar.value() != bar.minimum() || readout.contains("· 0:00:00.000")));
        EXPECT_TRUE(!goodEntries_[window->Combo1->currentIndex()] || ShownFrame() == bar.value()) << ShownFrame();
    }

    std::mt19937 rng_;
    std::vector<std::string> good_, hostile_;
    std::vector<bool> goodEntries_;  // per list entry: a good clip
};

TEST_F(Monkey, RandomActionsKeepTheWindowConsistentUntilItCloses) {
    std::discrete_distribution<int> pick(std::begin(kWeights), std::end(kWeights));
    for (int step = 0; step < 300 && !HasFatalFailure(); ++step) {
        const auto action = Action(pick(rng_));
        SCOPED_TRACE(testing::Message() << "action " << step << ": " << action);
        Do(action);
        CheckInvariants();
    }
    // Closed while playing when there is a clip to play; the loop ends only so.
    QObject context;
    QTimer::singleShot(5, &context, [this] { window->close(); });
    window->cmdPlay->click();
    window->close();
    for (const auto& clip : window->Clips()) EXPECT_EQ(clip, nullptr);
    EXPECT_EQ(cAVI::GetCatchTotal(), 0);
}

}  // namespace
}  // namespace fwtest
