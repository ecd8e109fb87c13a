// Playback on a substituted clock: the counter reports 10,000,000 counts per
// second, so the interval timer reads the same tick count the loop schedules
// by, and only the test moves it. Nothing here depends on real time.
#include <functional>

#include <QLocale>

#include "WindowTestUtil.h"
#include "platform/Timer.h"

namespace fwtest {
namespace {

using Steps = std::vector<std::function<void()>>;

class PlaybackTest : public WindowTest {
protected:
    // Starts playback (Play by default), runs the steps one per pass of the
    // loop, then presses Stop; returns the number of steps run once playback
    // has ended. Each pass handles the posted events once, and an event posted
    // while others are handled waits for the next time.
    std::size_t Play(Steps steps, const std::function<void()>& start = {}) {
        steps.push_back([this] { window->cmdStop->click(); });
        QObject context;  // going, it drops the steps still posted
        std::size_t ran = 0;
        std::function<void()> next = [&] {
            // Posted first, so that a step which nests a second loop has the rest run by it.
            if (++ran < steps.size()) QMetaObject::invokeMethod(&context, next, Qt::QueuedConnection);
            steps[ran - 1]();
        };
        QMetaObject::invokeMethod(&context, next, Qt::QueuedConnection);
        start ? start() : window->cmdPlay->click();
        return ran;
    }
    int Value() const { return window->TimeLine->value(); }

    std::int64_t tick = 1000;
    ScopedTimerSource clock{{[] { return std::int64_t{10'000'000}; }, nullptr, [this] { return tick; }}};
};

struct Stepping {
    std::string spec;
    std::int64_t start;               // tick count when Play is pressed
    std::vector<std::int64_t> ticks;  // set by one pass each
    std::vector<int> values;          // the bar after the first pass and after each tick
    const char* rates;                // in the title after the last pass
    QLocale locale = QLocale(QLocale::English, QLocale::UnitedStates);
} const kSteppings[] = {
    {"ffv1 64x48 10", 1000, {1039, 1039, 1040, 1079, 1080}, {1, 1, 1, 2, 2, 3}, "25/25"},  // at once, then every 40 ms
    {"ffv1 64x48 3", 1000, {1040, 1080, 1120, 1160}, {1, 2, 0, 1, 2}, "25/25"},            // the last wraps to the first
    {"ffv1 64x48 10", 1000, {1100, 1139, 1140}, {1, 2, 2, 3}, "25/25"},                   // lateness is not caught up
    {"ffv1 64x48 5 rate=16/1", 1000, {1061, 1062}, {1, 1, 2}, "16/16"},                  // 62.5 ms after an even reading
    // 62.5 ms after an odd reading, past 32 bits
    {"ffv1 64x48 5 rate=16/1", (1ll << 32) + 1001, {(1ll << 32) + 1063, (1ll << 32) + 1064}, {1, 1, 2}, "16/16"},
    {"ffv1 64x48 5 rate=30000/1001", 2000, {2032, 2033, 2065, 2066}, {1, 1, 2, 2, 3}, "30/29,97003", QLocale::German},
    {"ffv1 64x48 5 rate=25/2", 1000, {1080}, {1, 2}, "12/12.5"},  // halves to even
    {"ffv1 64x48 1", 1000, {1040, 1090}, {0, 0, 0}, "20/25"}};  // one frame: the bar keeps its value

TEST_F(PlaybackTest, AdvancesWhenTheTickCountReachesTheDueTimeAndShowsTheRate) {
    for (const Stepping& row : kSteppings) {
        QLocale::setDefault(row.locale);
        Load(Clip("clip.avi", row.spec));
        tick = row.start;
        std::vector<int> values;
        Steps steps;
        for (const std::int64_t next : row.ticks) {
            steps.push_back([&, next] {
                // A pass draws, into the cache emptied before it, exactly when the bar moved.
                EXPECT_EQ(window->Clips().back()->GetCatchSize() > 0, values.empty() || values.back() != Value());
                window->cmdClear->click();
                values.push_back(Value());
                EXPECT_EQ(ShownFrame(), Value());
                tick = next;
            });
        }
        steps.push_back([&] { values.push_back(Value()); });
        EXPECT_EQ(Play(steps), steps.size() + 1);
        EXPECT_EQ(values, row.values);
        EXPECT_EQ(window->windowTitle(), QString("Playback Rate: ") + row.rates + " FPS");
    }
    EXPECT_EQ(Play({[&] { window.reset(); }, [] { ADD_FAILURE() << "a pass after destroying the window"; }}), 1u);
}

// Play while playing is ignored; a clip loaded during playback starts a new
// run at its own interval, from the moment it was chosen.
TEST_F(PlaybackTest, SpaceAndTheButtonsPlayAndStopOnceAndClosingReleasesEveryClipForGood) {
    const std::string slow = Clip("slow.avi", "ffv1 64x48 5 rate=10/1"), path = Clip("clip.avi", "ffv1 64x48 10");
    Load(path);
    window->TimeLine->setFocus();
    EXPECT_EQ(Play({[&] { window->cmdPlay->click(); Load(slow); tick = 1040; },
                    [&] { EXPECT_EQ(Value(), 0); tick = 1139; }, [&] { EXPECT_EQ(Value(), 0); tick = 1140; },
                    [&] { EXPECT_EQ(window->windowTitle(), "Playback Rate: 10/10 FPS"); Key(Qt::Key_Space); },
                    [] { ADD_FAILURE() << "a pass after Stop"; }},
                   [&] { Key(Qt::Key_Space); }),
              4u);
    EXPECT_EQ(Value(), 1);
    window->close();
    EXPECT_FALSE(window->LoadFile(QString::fromStdString(path)));
    EXPECT_EQ(window->Clips().at(0), nullptr);
}

}  // namespace
}  // namespace fwtest
