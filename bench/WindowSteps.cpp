// framewise-steps FILE [STEPS]: how many steps back per second the real window
// sustains while the Left key is held on its frame bar (offscreen). Each key
// press is handled and the picture painted before the next, as a user holding
// the key sees it; prints the rate and the slowest step.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include <QApplication>
#include <QKeyEvent>
#include <QScrollBar>

#include "window/frmMain.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: framewise-steps FILE [STEPS]\n");
        return 2;
    }
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    frmMain window;
    window.show();
    if (!window.LoadFile(QString::fromLocal8Bit(argv[1]))) return 1;
    QScrollBar& bar = *window.TimeLine;
    const int steps = std::min(argc > 2 ? std::atoi(argv[2]) : 500, bar.maximum() - bar.minimum());
    bar.setValue(bar.maximum());
    bar.setFocus();
    QCoreApplication::processEvents();
    using Clock = std::chrono::steady_clock;
    double slowest = 0;
    const auto start = Clock::now();
    for (int i = 0; i < steps; ++i) {
        const auto before = Clock::now();
        QKeyEvent press(QEvent::KeyPress, Qt::Key_Left, Qt::NoModifier);
        QCoreApplication::sendEvent(&bar, &press);
        QCoreApplication::processEvents();
        slowest = std::max(slowest, std::chrono::duration<double, std::milli>(Clock::now() - before).count());
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("%s: %d steps back in %.2f s: %.1f steps/s, slowest step %.0f ms, now at frame %d\n", argv[1],
                steps, seconds, steps / seconds, slowest, bar.value());
    return 0;
}
