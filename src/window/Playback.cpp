// Playback: the play and stop buttons and the loop that steps the frame bar
// once per frame interval, with the achieved rate in the window title.
//
// The loop runs inside the play button's click handler; every other handler
// (Stop, the frame bar, the clip list, Load, Clear Catch, closing) runs nested
// inside its event processing. IsPlaying alone tells the loop to end.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>

#include <QCoreApplication>
#include <QEventLoop>
#include <QLocale>
#include <QPointer>
#include <QScrollBar>
#include <QTimer>

#include "frmMain.h"
#include "platform/Timer.h"
#include "timing/sTime.h"

namespace {

// A clip without a usable rate (the loader refuses those) plays at one frame
// per second rather than dividing by zero.
constexpr double kNoRateIntervalMs = 1000.0;
// Caps an absurdly slow rate so that due times stay far inside 64 bits.
constexpr double kLongestIntervalMs = 1e15;
// A wait for events is re-armed at least this often; the due time still rules.
constexpr std::int64_t kLongestWaitMs = 60'000;

double FrameIntervalMs(float framesPerSecond) {
    if (!std::isfinite(framesPerSecond) || framesPerSecond <= 0.0f) return kNoRateIntervalMs;
    return std::min(1000.0 / framesPerSecond, kLongestIntervalMs);
}

// The reading plus the interval, rounded to whole milliseconds with halves to
// the even neighbour (the default rounding mode): 62.5 ms after an even
// reading is 62 ms later, after an odd one 63.
std::int64_t NextDueTime(std::int64_t reading, double intervalMs) {
    const double due = std::nearbyint(static_cast<double>(reading) + intervalMs);
    // 2^63 is exact as a double; anything from there on does not fit.
    if (due >= 9223372036854775808.0) return std::numeric_limits<std::int64_t>::max();
    return static_cast<std::int64_t>(due);
}

// Handles the pending window events between due times. Before the due time
// it first sleeps until an event arrives or the due time comes, whichever is
// first, so a playing clip costs no processor time between frames.
class EventWait {
public:
    // The wake timer repeats, once a frame interval after the due time: an
    // event loop nested in the processing (a modal dialog, a second playback
    // loop) may take an expiry, and Qt's plain Unix dispatcher then sleeps on
    // with no timer left to wake it.
    explicit EventWait(double intervalMs) {
        wake_.setTimerType(Qt::PreciseTimer);
        const int period = static_cast<int>(std::clamp<long long>(std::llround(intervalMs), 1, kLongestWaitMs));
        QObject::connect(&wake_, &QTimer::timeout, &wake_, [this, period] { wake_.setInterval(period); });
    }

    void Until(std::int64_t due) {
        std::int64_t remaining = 0;
        if (__builtin_sub_overflow(due, GetTickCount64(), &remaining)) remaining = kLongestWaitMs;
        if (remaining <= 0) {
            QCoreApplication::processEvents(QEventLoop::AllEvents);
            return;
        }
        wake_.start(static_cast<int>(std::min(remaining, kLongestWaitMs)));
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }

private:
    QTimer wake_;
};

// A number for the title in the user's locale, without group separators.
QString FormatRate(double rate, char format, int precision) {
    QLocale locale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    return locale.toString(rate, format, precision);
}

}  // namespace

void frmMain::cmdPlay_Click() {
    if (IsPlaying) return;
    IsPlaying = -1;
    PlayLoop();
    // The window may be gone here when a handler destroyed it during playback.
}

void frmMain::cmdStop_Click() { IsPlaying = 0; }

void frmMain::PlayLoop() {
    if (!CurrentClip()) {  // unloaded: there is nothing to play
        IsPlaying = 0;
        return;
    }
    const QPointer<frmMain> window(this);
    sTime timer;
    timer.Init();
    timer.StartTime();
    // The clip itself is not held: closing the window releases it while the
    // loop is still on its way out.
    double intervalMs = FrameIntervalMs(CurrentClip()->GetFPS());
    std::int64_t nextDue = 0;
    newRun_ = false;
    auto betweenFrames = std::make_unique<EventWait>(intervalMs);
    while (IsPlaying) {
        if (const std::shared_ptr<cAVI> chosen = newRun_ ? CurrentClip() : nullptr) {
            // Another clip became current and drew its first frame: a new
            // run at its interval, whose first period starts now.
            newRun_ = false;
            intervalMs = FrameIntervalMs(chosen->GetFPS());
            nextDue = NextDueTime(GetTickCount64(), intervalMs);
            betweenFrames = std::make_unique<EventWait>(intervalMs);
            timer.StartTime();
        }
        if (GetTickCount64() >= nextDue) {
            // From this moment, not from the last due time: a late frame is not caught up.
            nextDue = NextDueTime(GetTickCount64(), intervalMs);
            AdvanceTimeLine();
            timer.StopTime();
            ShowPlaybackRate(timer.RetTime());
            timer.StartTime();
        }
        betweenFrames->Until(nextDue);
        if (!window) return;  // destroyed by a handler: touch nothing of it
    }
}

// Setting the value the bar already has (a one-frame clip) raises no change:
// nothing is drawn, and only the title tells that the loop goes on.
void frmMain::AdvanceTimeLine() {
    const int value = TimeLine->value();
    TimeLine->setValue(value == TimeLine->maximum() ? TimeLine->minimum() : value + 1);
}

void frmMain::ShowPlaybackRate(double seconds) {
    // Both readings within one tick: there is no rate to show this time.
    if (seconds == 0.0) return;
    const double rate = std::nearbyint(1.0 / seconds);
    const std::shared_ptr<cAVI> clip = CurrentClip();
    if (!clip || !std::isfinite(rate)) return;
    setWindowTitle(QStringLiteral("Playback Rate: ") + FormatRate(rate, 'f', 0) + QLatin1Char('/') +
                   // "29.97003": as a 32-bit float, at most 7 significant digits, no trailing zeros
                   FormatRate(static_cast<double>(clip->GetFPS()), 'g', 7) + QStringLiteral(" FPS"));
}

std::shared_ptr<cAVI> frmMain::CurrentClip() const {
    if (CurrentAVI < 0 || static_cast<std::size_t>(CurrentAVI) >= AVIList.size()) return nullptr;
    return AVIList[static_cast<std::size_t>(CurrentAVI)];
}
