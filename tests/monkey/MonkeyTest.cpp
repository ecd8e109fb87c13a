// A monkey at the real main window (offscreen): a few hundred random user
// actions — loading good and hostile files, choosing clips, scrolling,
// switching and clearing the cache, playing — with the window's invariants
// checked after every one, and finally closing it.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <filesystem>
#include <random>

#include "HostileSupport.h"
#include "WindowTestUtil.h"

namespace {

using hostile::Bytes;

constexpr int kActions = 300;
constexpr int kMostClips = 16;  // further loads choose a clip instead

// Playback exists once the window has its Play handler.
template <typename Window>
constexpr bool kCanPlay = requires(Window& w) { w.cmdPlay_Click(); };

enum Action { LoadGood, LoadHostile, Cancel, Choose, ScrollTo, Step, Key, ToggleCatch, Clear, Play, kActionCount };
const char* const kActionNames[] = {"LoadGood", "LoadHostile", "Cancel", "Choose", "ScrollTo",
                                    "Step",     "Key",         "ToggleCatch", "Clear", "Play"};
const double kWeights[] = {8, 8, 3, 15, 15, 15, 15, 8, 8, kCanPlay<frmMain> ? 5 : 0};

class Monkey : public fwtest::WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        rng_.seed(hostile::TestSeed("monkey"));
        MakeGoodClips();
        MakeHostileFiles();
        window->show();
    }

    void MakeGoodClips() {
        fwtest::ClipSpec mpeg4 = fwtest::Spec(40, 80, 64);
        mpeg4.encoder = "mpeg4";
        mpeg4.gop = 8;
        mpeg4.bFrames = 2;
        fwtest::ClipSpec mjpeg = fwtest::Spec(12, 48, 32);
        mjpeg.encoder = "mjpeg";
        good_ = {Clip("a.avi", fwtest::Spec(30)), Clip("b.avi", mpeg4), Clip("c.avi", fwtest::Spec(9, 33, 17)),
                 Clip("d.avi", mjpeg)};
    }

    // Hostile files made from the good ones, and names that are no file.
    void MakeHostileFiles() {
        const Bytes clip = fwtest::ReadAll(good_[0]);
        const std::size_t strh = hostile::FindChunk(clip, "strh");
        const std::size_t strf = hostile::FindChunk(clip, "strf");
        const std::size_t movi = hostile::FindChunk(clip, "movi");
        ASSERT_TRUE(strh != hostile::kNone && strf != hostile::kNone && movi != hostile::kNone);
        Hostile("half.avi", Bytes(clip.begin(), clip.begin() + static_cast<std::ptrdiff_t>(clip.size() / 2)));
        Hostile("headers.avi", Bytes(clip.begin(), clip.begin() + static_cast<std::ptrdiff_t>(movi + 40)));
        Hostile("nowidth.avi", Patched(clip, strf + 8 + 4, 0));
        Hostile("longest.avi", Patched(clip, strh + 8 + 32, 0x7FFFFFFF));
        Hostile("late.avi", Patched(clip, strh + 8 + 28, 1000000));
        Hostile("norate.avi", Patched(clip, strh + 8 + 24, 0));
        Bytes garbage = clip;
        for (std::size_t i = movi + 12; i < garbage.size(); ++i) garbage[i] = static_cast<std::uint8_t>(rng_());
        Hostile("garbage.avi", garbage);
        Bytes random(3000);
        for (auto& byte : random) byte = static_cast<std::uint8_t>(rng_());
        Hostile("random.avi", random);
        Hostile("empty.avi", {});
        std::filesystem::create_directory(dir + "/x.avi");
        hostile_.push_back(dir + "/x.avi");
        hostile_.push_back(dir + "/missing.avi");
    }

    static Bytes Patched(Bytes bytes, std::size_t offset, std::uint32_t value) {
        hostile::PutLE(bytes, offset, value);
        return bytes;
    }

    void Hostile(const std::string& name, const Bytes& bytes) {
        hostile_.push_back(dir + "/" + name);
        fwtest::WriteAll(hostile_.back(), bytes);
    }

    template <typename T>
    const T& Any(const std::vector<T>& items) {
        return items[std::uniform_int_distribution<std::size_t>(0, items.size() - 1)(rng_)];
    }
    int Below(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }

    // A load adds an entry, or shows one message and adds none.
    void Load(const std::string& path, bool good) {
        const int entries = window->Combo1->count();
        const std::size_t shown = messages.Count();
        LoadThroughDialog(path);
        const bool added = window->Combo1->count() == entries + 1;
        EXPECT_TRUE(added || window->Combo1->count() == entries) << path;
        EXPECT_EQ(messages.Count(), shown + (added ? 0 : 1)) << path;
        if (added) good_entries_.push_back(good);
    }

    void Scroll(Action action) {
        QScrollBar& bar = *window->TimeLine;
        if (action == ScrollTo) {
            bar.setValue(std::uniform_int_distribution<int>(bar.minimum(), bar.maximum())(rng_));
        } else if (action == Step) {
            static const QAbstractSlider::SliderAction kSteps[] = {
                QAbstractSlider::SliderSingleStepAdd, QAbstractSlider::SliderSingleStepSub,
                QAbstractSlider::SliderPageStepAdd,   QAbstractSlider::SliderPageStepSub,
                QAbstractSlider::SliderToMinimum,     QAbstractSlider::SliderToMaximum};
            bar.triggerAction(kSteps[Below(6)]);
        } else {
            static const Qt::Key kKeys[] = {Qt::Key_Left,     Qt::Key_Right, Qt::Key_PageUp,
                                            Qt::Key_PageDown, Qt::Key_Home,  Qt::Key_End};
            QTest::keyClick(&bar, kKeys[Below(6)]);
        }
    }

    // Plays for a few milliseconds; another action may come in between.
    template <typename Window>
    void PlayBriefly(Window& w) {
        if constexpr (kCanPlay<Window>) {
            const Action nested = static_cast<Action>(Below(Play));
            QTimer::singleShot(Below(5), &w, [this, nested] { Do(nested); });
            QTimer::singleShot(5 + Below(10), &w, [&w] { w.cmdStop->click(); });
            w.cmdPlay->click();
        }
    }

    void Do(Action action) {
        const bool full = window->Combo1->count() >= kMostClips;
        if (full && (action == LoadGood || action == LoadHostile)) action = Choose;
        switch (action) {
            case LoadGood: Load(Any(good_), true); break;
            case LoadHostile: Load(Any(hostile_), false); break;
            case Cancel: LoadThroughDialog(""); break;
            case Choose:
                if (window->Combo1->count() > 0) ChooseEntry(Below(window->Combo1->count()));
                break;
            case ToggleCatch: window->chkCatch->click(); break;
            case Clear: window->cmdClear->click(); break;
            case Play: PlayBriefly(*window); break;
            default: Scroll(action); break;
        }
    }

    // The list holds the loaded clips; the label shows their caches' sum; the
    // picture has the current clip's frame size and, for a good clip, shows
    // the frame the bar points at.
    void CheckInvariants() {
        const auto& clips = window->Clips();
        const int entries = window->Combo1->count();
        ASSERT_EQ(static_cast<std::size_t>(entries), good_entries_.size());
        ASSERT_GE(clips.size(), good_entries_.size());
        std::int64_t total = 0;
        for (int i = 0; i < entries; ++i) {
            ASSERT_NE(clips[static_cast<std::size_t>(i)], nullptr) << "entry " << i;
            total += clips[static_cast<std::size_t>(i)]->GetCatchSize();
        }
        for (std::size_t i = static_cast<std::size_t>(entries); i < clips.size(); ++i) EXPECT_EQ(clips[i], nullptr);
        EXPECT_EQ(window->lblMem->text(), QStringLiteral("Memory used: ") + frmMain::FormatBytes(total, 1));
        EXPECT_EQ(cAVI::GetCatchTotal(), total);
        if (entries == 0) return;
        const int current = window->Combo1->currentIndex();
        ASSERT_GE(current, 0);
        const cAVI& clip = *clips[static_cast<std::size_t>(current)];
        EXPECT_EQ(window->picDisp->width(), clip.GetWidth());
        EXPECT_EQ(window->picDisp->height(), clip.GetHeight());
        EXPECT_EQ(window->TimeLine->minimum(), clip.GetFirstFrame());
        EXPECT_EQ(window->TimeLine->maximum(), std::max(clip.GetFirstFrame(), clip.GetLastFrame()));
        if (good_entries_[static_cast<std::size_t>(current)]) {
            EXPECT_EQ(ShownFrame(), window->TimeLine->value());
        }
    }

    // Closes the window, while playing when the window can play.
    void CloseWindow() {
        if constexpr (kCanPlay<frmMain>) {
            QTimer::singleShot(5, window.get(), [this] { window->close(); });
            window->cmdPlay->click();
        } else {
            window->close();
        }
    }

    std::mt19937 rng_;
    std::vector<std::string> good_;
    std::vector<std::string> hostile_;
    std::vector<bool> good_entries_;  // per list entry: a good clip
};

TEST_F(Monkey, RandomActionsKeepTheWindowConsistentUntilItCloses) {
    if (HasFatalFailure()) return;
    std::discrete_distribution<int> pick(std::begin(kWeights), std::end(kWeights));
    std::vector<int> done(kActionCount, 0);
    for (int step = 0; step < kActions; ++step) {
        const auto action = static_cast<Action>(pick(rng_));
        SCOPED_TRACE(testing::Message() << "action " << step << ": " << kActionNames[action]);
        Do(action);
        ++done[action];
        CheckInvariants();
        if (HasFatalFailure()) return;
    }
    for (int a = 0; a < kActionCount; ++a) std::cout << kActionNames[a] << " " << done[a] << "  ";
    std::cout << "\n" << window->Combo1->count() << " clips loaded, " << messages.Count() << " messages\n";

    CloseWindow();
    for (const auto& clip : window->Clips()) EXPECT_EQ(clip, nullptr);
    EXPECT_EQ(cAVI::GetCatchTotal(), 0);
}

}  // namespace
