// framewise-steps FILE [STEPS] [--rate PER_SECOND] [--slow MS] [--no-catch] [--compare B] [--pause MS]
// [--from FRAME]: what a user holding the Left key on the frame bar of the real window sees. Presses
// arrive at a fixed key repeat (30 per second by default, as a held key sends them; STEPS presses, 500
// by default, from FRAME backwards, the last frame by default), queued like the window system's key
// events whether or not the window keeps up. For each press it takes the time from the press to the
// first painting of the picture box that shows its frame or one beyond it, and prints the median, 95th
// percentile and slowest of those times, how many presses were coalesced (their own picture was never
// painted: a later press's was painted first) and how many fell behind (their picture came more than
// one repeat period after the press). --slow lists every press that took longer than MS, with its
// frame, on stderr; --no-catch unchecks "Use Catch"; --compare B loads clip B too and compares FILE
// with it side by side; --pause waits MS after the last frame is shown before the first press (a user
// who looks at the frame before holding the key; 0 by default: the presses start one repeat period
// after it). Runs offscreen unless a Qt platform is set.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QEventLoop>
#include <QKeyEvent>
#include <QScrollBar>
#include <QTimer>

#include "window/CompareView.h"
#include "window/frmMain.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Press {
    Clock::time_point due;
    int frame = 0;       // the frame the press leads to
    double latencyMs = -1;  // press to painted, once painted
    bool ownPicture = false;
};

double Percentile(std::vector<double> values, double fraction) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const auto index = static_cast<std::size_t>(fraction * static_cast<double>(values.size() - 1) + 0.5);
    return values[std::min(index, values.size() - 1)];
}

// Paints the picture box itself, then files the painted frame against every
// press waiting for it.
class PaintWatch : public QObject {
public:
    PaintWatch(QScrollBar& bar, std::vector<Press>& presses) : bar_(bar), presses_(presses) {}
    // Presses whose picture has been painted: the first ones, in order.
    std::size_t Painted() const { return next_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::Paint) return false;
        watched->event(event);  // the painting itself is part of the wait
        const auto now = Clock::now();
        const int shown = bar_.value();
        for (; next_ < presses_.size() && presses_[next_].frame >= shown; ++next_) {
            Press& press = presses_[next_];
            if (press.due > now) break;  // not pressed yet
            press.latencyMs = std::chrono::duration<double, std::milli>(now - press.due).count();
            press.ownPicture = press.frame == shown;
        }
        return true;
    }

private:
    QScrollBar& bar_;
    std::vector<Press>& presses_;
    std::size_t next_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
    std::vector<const char*> positional;
    double rate = 30, slowMs = -1, pauseMs = 0;
    int fromFrame = -1;
    bool useCatch = true;
    const char* compareWith = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--rate") == 0 && i + 1 < argc)
            rate = std::atof(argv[++i]);
        else if (std::strcmp(argv[i], "--slow") == 0 && i + 1 < argc)
            slowMs = std::atof(argv[++i]);
        else if (std::strcmp(argv[i], "--pause") == 0 && i + 1 < argc)
            pauseMs = std::atof(argv[++i]);
        else if (std::strcmp(argv[i], "--from") == 0 && i + 1 < argc)
            fromFrame = std::atoi(argv[++i]);
        else if (std::strcmp(argv[i], "--no-catch") == 0)
            useCatch = false;
        else if (std::strcmp(argv[i], "--compare") == 0 && i + 1 < argc)
            compareWith = argv[++i];
        else
            positional.push_back(argv[i]);
    }
    if (positional.empty() || rate <= 0) {
        std::fprintf(stderr, "usage: framewise-steps FILE [STEPS] [--rate PER_SECOND] [--slow MS] [--no-catch] [--compare B] [--pause MS] [--from FRAME]\n");
        return 2;
    }
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    frmMain window;
    window.show();
    window.chkCatch->setChecked(useCatch);
    if (!window.LoadFile(QString::fromLocal8Bit(positional[0]))) return 1;
    if (compareWith) {
        if (!window.LoadFile(QString::fromLocal8Bit(compareWith))) return 1;
        window.Combo1->setCurrentIndex(0);
        window.Combo1_Click();
        window.Compare->cboCompare->setCurrentIndex(1);
        emit window.Compare->cboCompare->activated(1);
    }
    QScrollBar& bar = *window.TimeLine;
    const int first = fromFrame >= 0 ? std::clamp(fromFrame, bar.minimum(), bar.maximum()) : bar.maximum();
    const int steps = std::min(positional.size() > 1 ? std::atoi(positional[1]) : 500, first - bar.minimum());
    bar.setValue(first);
    bar.setFocus();
    QCoreApplication::processEvents();
    if (pauseMs > 0) {
        QEventLoop looking;
        QTimer::singleShot(static_cast<int>(pauseMs), &looking, &QEventLoop::quit);
        looking.exec();
    }

    const auto period = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / rate));
    std::vector<Press> presses(static_cast<std::size_t>(steps));
    PaintWatch watch(bar, presses);
    const int from = bar.value();
    const auto start = Clock::now() + period;
    for (int i = 0; i < steps; ++i) {
        presses[static_cast<std::size_t>(i)].due = start + i * period;
        presses[static_cast<std::size_t>(i)].frame = bar.value() - 1 - i;
    }
    window.picDisp->installEventFilter(&watch);

    // The key repeat: every press that has come due is queued, late or not.
    std::size_t posted = 0;
    QTimer repeat;
    repeat.setTimerType(Qt::PreciseTimer);
    repeat.setSingleShot(true);
    QObject::connect(&repeat, &QTimer::timeout, [&] {
        const auto now = Clock::now();
        for (; posted < presses.size() && presses[posted].due <= now; ++posted)
            QCoreApplication::postEvent(&bar, new QKeyEvent(QEvent::KeyPress, Qt::Key_Left, Qt::NoModifier,
                                                            QString(), true));
        if (posted < presses.size()) {
            const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(presses[posted].due - now);
            repeat.start(static_cast<int>(std::max<std::int64_t>(0, wait.count())));
        }
    });
    repeat.start(static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(period).count()));
    // Stops once every press is painted, or a minute after the last press.
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, [&] {
        if (watch.Painted() == presses.size() ||
            (posted == presses.size() && Clock::now() > presses.back().due + std::chrono::seconds(60)))
            QCoreApplication::quit();
    });
    check.start(5);
    QApplication::exec();
    window.picDisp->removeEventFilter(&watch);

    std::vector<double> latencies;
    int coalesced = 0, behind = 0;
    const double periodMs = 1000.0 / rate;
    for (const Press& press : presses) {
        if (press.latencyMs < 0) continue;
        if (slowMs >= 0 && press.latencyMs > slowMs)
            std::fprintf(stderr, "press %td to frame %d: %.1f ms\n", &press - presses.data(), press.frame, press.latencyMs);
        latencies.push_back(press.latencyMs);
        coalesced += press.ownPicture ? 0 : 1;
        behind += press.latencyMs > periodMs ? 1 : 0;
    }
    const std::size_t within100 = static_cast<std::size_t>(
        std::count_if(latencies.begin(), latencies.end(), [](double ms) { return ms <= 100; }));
    std::printf("%s: %d presses at %g/s from frame %d: press to painted median %.1f ms, 95th percentile %.1f ms, "
                "slowest %.1f ms; %zu within 100 ms; %d coalesced, %d fell behind, %zu never painted; now at frame %d\n",
                positional[0], steps, rate, from, Percentile(latencies, 0.5), Percentile(latencies, 0.95),
                latencies.empty() ? 0.0 : *std::max_element(latencies.begin(), latencies.end()), within100, coalesced,
                behind, presses.size() - latencies.size(), bar.value());
    return 0;
}
