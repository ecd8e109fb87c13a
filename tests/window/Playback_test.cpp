// Playback on a substituted clock: the counter reports 10,000,000 counts per
// second, so the interval timer reads the same tick count the loop schedules
// by, and only the test moves it. Nothing here depends on real time.
#include <cstdint>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QScrollBar>

#include "WindowTestUtil.h"
#include "platform/Timer.h"

namespace fwtest {
namespace {

using Steps = std::vector<std::function<void()>>;

// Runs steps inside the event processing of whatever loop is running, one
// step per processing: each playback pass handles the posted events once, and
// an event posted while others are handled waits for the next time.
class Script {
public:
    explicit Script(Steps steps) : steps_(std::move(steps)) { PostNext(); }
    std::size_t Ran() const { return next_; }

private:
    void PostNext() {
        QMetaObject::invokeMethod(&context_, [this] { RunNext(); }, Qt::QueuedConnection);
    }
    void RunNext() {
        const std::size_t current = next_++;
        // Posted first, so that a step which nests a second loop has the rest run by it.
        if (next_ < steps_.size()) PostNext();
        steps_[current]();
    }

    QObject context_;  // going, it drops the steps still posted
    Steps steps_;
    std::size_t next_ = 0;
};

ClipSpec RateSpec(int frames, int rate, int scale = 1) {
    ClipSpec spec = Spec(frames);
    spec.rate = rate;
    spec.scale = scale;
    return spec;
}

class PlaybackTest : public WindowTest {
protected:
    // Presses Play, runs the steps one per pass of the loop, then presses
    // Stop; returns the number of steps that ran once Play has returned.
    std::size_t Play(Steps steps) {
        steps.push_back([this] { window->cmdStop->click(); });
        Script script(std::move(steps));
        window->cmdPlay->click();
        return script.Ran();
    }
    int Value() const { return window->TimeLine->value(); }
    QString Title() const { return window->windowTitle(); }
    QString Memory() const { return window->lblMem->text(); }

    std::int64_t tick = 1000;
    ScopedTimerSource clock{{[] { return std::int64_t{10'000'000}; }, nullptr, [this] { return tick; }}};
};

struct Stepping {
    const char* name;
    ClipSpec spec;
    std::int64_t start;               // tick count when Play is pressed
    std::vector<std::int64_t> ticks;  // set by one pass each
    std::vector<int> values;          // the bar after the first pass and after each tick
};

void PrintTo(const Stepping& row, std::ostream* os) { *os << row.name; }

class PlaybackSteps : public PlaybackTest, public ::testing::WithParamInterface<Stepping> {};

TEST_P(PlaybackSteps, AdvanceWhenTheTickCountReachesTheDueTime) {
    const Stepping& row = GetParam();
    LoadThroughDialog(Clip("clip.avi", row.spec));
    tick = row.start;
    std::vector<int> values;
    Steps steps;
    for (const std::int64_t next : row.ticks) {
        steps.push_back([&, next] {
            values.push_back(Value());
            EXPECT_EQ(ShownFrame(), Value());
            tick = next;
        });
    }
    steps.push_back([&] { values.push_back(Value()); });
    EXPECT_EQ(Play(steps), steps.size() + 1);
    EXPECT_EQ(values, row.values);
}

constexpr std::int64_t k2To32 = std::int64_t{1} << 32;

INSTANTIATE_TEST_SUITE_P(
    Window, PlaybackSteps,
    ::testing::Values(
        Stepping{"AtOnceThenEvery40ms", Spec(10), 1000, {1039, 1039, 1040, 1079, 1080}, {1, 1, 1, 2, 2, 3}},
        Stepping{"LastWrapsToFirst", Spec(3), 1000, {1040, 1080, 1120, 1160}, {1, 2, 0, 1, 2}},
        Stepping{"LatenessNotCaughtUp", Spec(10), 1000, {1100, 1139, 1140}, {1, 2, 2, 3}},
        Stepping{"Interval62_5FromEvenReading", RateSpec(5, 16), 1000, {1061, 1062}, {1, 1, 2}},
        Stepping{"Interval62_5FromOddReading", RateSpec(5, 16), 1001, {1063, 1064}, {1, 1, 2}},
        Stepping{"NtscStepsBy33", RateSpec(5, 30000, 1001), 2000, {2032, 2033, 2065, 2066}, {1, 1, 2, 2, 3}},
        Stepping{"Beyond32BitsEven", RateSpec(5, 16), k2To32 + 1000, {k2To32 + 1061, k2To32 + 1062}, {1, 1, 2}},
        Stepping{"Beyond32BitsOdd", RateSpec(5, 16), k2To32 + 1001, {k2To32 + 1063, k2To32 + 1064}, {1, 1, 2}}),
    [](const auto& info) { return std::string(info.param.name); });

struct Caption {
    const char* name;
    int rate, scale;
    std::int64_t period;  // milliseconds between the first two advances
    QLocale locale;
    const char* title;
};

void PrintTo(const Caption& row, std::ostream* os) { *os << row.name; }

class PlaybackCaption : public PlaybackTest, public ::testing::WithParamInterface<Caption> {};

TEST_P(PlaybackCaption, ShowsTheAchievedAndTheNominalRate) {
    const Caption& row = GetParam();
    QLocale::setDefault(row.locale);
    LoadThroughDialog(Clip("clip.avi", RateSpec(5, row.rate, row.scale)));
    Play({[&] {
              // Drawn within the tick of the start: no rate measured, the title stays.
              EXPECT_EQ(Title(), "Form1");
              tick += row.period;
          },
          [&] { EXPECT_EQ(Title(), row.title); }});
}

INSTANTIATE_TEST_SUITE_P(
    Window, PlaybackCaption,
    ::testing::Values(Caption{"Pal", 25, 1, 40, QLocale::c(), "Playback Rate: 25/25 FPS"},
                      Caption{"Ntsc", 30000, 1001, 33, QLocale::c(), "Playback Rate: 30/29.97003 FPS"},
                      Caption{"NtscGerman", 30000, 1001, 33, QLocale(QLocale::German, QLocale::Germany),
                              "Playback Rate: 30/29,97003 FPS"},
                      Caption{"Film", 24000, 1001, 42, QLocale(QLocale::English, QLocale::UnitedStates),
                              "Playback Rate: 24/23.97602 FPS"},
                      Caption{"HalfToEven", 25, 2, 80, QLocale(QLocale::English, QLocale::UnitedStates),
                              "Playback Rate: 12/12.5 FPS"},
                      Caption{"NoGrouping", 1000, 1, 1, QLocale(QLocale::English, QLocale::UnitedStates),
                              "Playback Rate: 1000/1000 FPS"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(PlaybackTest, TheRateIsMeasuredOnThePerformanceCounter) {
    LoadThroughDialog(Clip("clip.avi", Spec(5)));
    std::int64_t count = 0;
    const ScopedTimerSource counter{{[] { return std::int64_t{1'000'000'000}; }, [&] { return count; },
                                     [this] { return tick; }}};
    Play({[&] {
              count += 50'000'000;
              tick += 40;
          },
          [&] { EXPECT_EQ(Title(), "Playback Rate: 20/25 FPS"); }});
}

TEST_F(PlaybackTest, AOneFrameClipIsRedrawnAndMeasuredEveryPeriod) {
    LoadThroughDialog(Clip("one.avi", Spec(1)));
    Play({[&] {
              window->cmdClear->click();
              tick = 1040;
          },
          [&] {
              EXPECT_EQ(Value(), 0);
              EXPECT_EQ(ShownFrame(), 0);
              EXPECT_NE(Memory(), "Memory used: 0 bytes");  // drawn again, into the emptied cache
              EXPECT_EQ(Title(), "Playback Rate: 25/25 FPS");
              tick = 1090;
          },
          [&] { EXPECT_EQ(Title(), "Playback Rate: 20/25 FPS"); }});
}

TEST_F(PlaybackTest, StopEndsTheLoopAtItsNextPass) {
    LoadThroughDialog(Clip("clip.avi", Spec(10)));
    const std::size_t ran = Play({[&] {
                                      tick = 1040;
                                      window->cmdStop->click();
                                  },
                                  [] { ADD_FAILURE() << "a pass after Stop"; }});
    EXPECT_EQ(ran, 1u);
    EXPECT_EQ(Value(), 1);
    // Stop while stopped changes nothing.
    window->cmdStop->click();
    EXPECT_EQ(Value(), 1);
}

TEST_F(PlaybackTest, PlayWhilePlayingIsIgnored) {
    LoadThroughDialog(Clip("clip.avi", Spec(10)));
    Play({[&] {
              window->cmdPlay->click();
              EXPECT_EQ(Value(), 1);
              tick = 1040;
          },
          [&] { EXPECT_EQ(Value(), 2); }});
}

TEST_F(PlaybackTest, StopAndPlayInOneProcessingNestASecondLoopThatReturnsFirst) {
    LoadThroughDialog(Clip("clip.avi", Spec(10)));
    std::vector<std::string> returned;
    Play({[&] {
              window->cmdStop->click();
              window->cmdPlay->click();
              returned.push_back("inner");
          },
          [&] {
              EXPECT_EQ(Value(), 2);  // the inner loop's first advance, at once
              tick = 1040;
          },
          [&] { EXPECT_EQ(Value(), 3); }});
    returned.push_back("outer");
    EXPECT_EQ(returned, (std::vector<std::string>{"inner", "outer"}));
    EXPECT_EQ(Value(), 3);  // the outer loop ended without advancing
}

TEST_F(PlaybackTest, AnotherClipPlaysAtTheOldIntervalAndShowsItsRate) {
    ClipSpec slow = RateSpec(5, 10);
    slow.width = 32;
    slow.height = 24;
    LoadThroughDialog(Clip("slow.avi", slow));
    LoadThroughDialog(Clip("fast.avi", Spec(10)));
    Play({[&] {
              ChooseEntry(0);
              EXPECT_EQ(Value(), 0);
              EXPECT_EQ(window->picDisp->width(), 32);
              tick = 1040;
          },
          [&] {
              EXPECT_EQ(Value(), 1);
              EXPECT_EQ(Title(), "Playback Rate: 25/10 FPS");
              tick = 1079;
          },
          [&] {
              EXPECT_EQ(Value(), 1);
              tick = 1080;
          },
          [&] { EXPECT_EQ(Value(), 2); }});
}

TEST_F(PlaybackTest, TheOtherControlsWorkDuringPlayback) {
    LoadThroughDialog(Clip("clip.avi", Spec(10)));
    const std::string other = Clip("other.avi", Spec(4));
    Play({[&] {
              window->TimeLine->triggerAction(QAbstractSlider::SliderToMaximum);
              EXPECT_EQ(ShownFrame(), 9);
              tick = 1040;
          },
          [&] {
              EXPECT_EQ(Value(), 0);  // on from where the user left the bar
              window->cmdClear->click();
              window->chkCatch->click();
              tick = 1080;
          },
          [&] {
              EXPECT_EQ(ShownFrame(), 1);
              EXPECT_EQ(Memory(), "Memory used: 0 bytes");  // decoded without the cache
              LoadThroughDialog(other);
              EXPECT_EQ(window->Combo1->count(), 2);
              tick = 1120;
          },
          [&] {
              EXPECT_EQ(Value(), 1);
              EXPECT_EQ(window->TimeLine->maximum(), 3);
          }});
}

TEST_F(PlaybackTest, ClosingTheWindowEndsTheLoopBeforeItMeetsAClosedClip) {
    LoadThroughDialog(Clip("clip.avi", Spec(10)));
    const std::weak_ptr<cAVI> clip = window->Clips().at(0);
    const std::size_t ran = Play({[&] {
                                      tick = 1040;
                                      window->close();
                                      EXPECT_TRUE(clip.expired());  // released though the loop is still running
                                  },
                                  [] { ADD_FAILURE() << "a pass after closing"; }});
    EXPECT_EQ(ran, 1u);
    EXPECT_EQ(Value(), 1);
    for (const auto& clip : window->Clips()) EXPECT_EQ(clip, nullptr);
}

TEST_F(PlaybackTest, DestroyingTheWindowDuringPlaybackEndsTheLoop) {
    LoadThroughDialog(Clip("clip.avi", Spec(10)));
    EXPECT_EQ(Play({[&] { window.reset(); }, [] { ADD_FAILURE() << "a pass after destruction"; }}), 1u);
}

// The application's own event loop, as the program runs it: closing the
// window or quitting while a clip plays ends playback, then the loop.
class PlaybackExit : public PlaybackTest, public ::testing::WithParamInterface<bool> {};

TEST_P(PlaybackExit, EndsPlaybackAndTheApplicationLoop) {
    const bool quit = GetParam();
    LoadThroughDialog(Clip("clip.avi", Spec(10)));
    window->show();
    bool playReturned = false;
    Script script({[&] {
                       window->cmdPlay->click();
                       playReturned = true;
                   },
                   [&] { tick = 1040; },
                   [&] {
                       EXPECT_EQ(Value(), 2);
                       if (quit) {
                           QApplication::quit();
                       } else {
                           window->close();
                       }
                   }});
    EXPECT_EQ(QApplication::exec(), 0);
    EXPECT_TRUE(playReturned);
    EXPECT_FALSE(window->isVisible());
    for (const auto& clip : window->Clips()) EXPECT_EQ(clip, nullptr);
}

INSTANTIATE_TEST_SUITE_P(Window, PlaybackExit, ::testing::Values(false, true),
                         [](const auto& info) { return std::string(info.param ? "Quit" : "Close"); });

}  // namespace
}  // namespace fwtest
