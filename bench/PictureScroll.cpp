// framewise-scroll FILE [WIDTHxHEIGHT] [STEP]: how fast the real window
// (offscreen) repaints its picture area while the picture is scrolled at 1x,
// STEP pixels at a time (8 by default) across and then down, as dragging or
// the wheel does. Each step repaints the whole room at once and waits for it
// (more than a scroll, which repaints only what came into view); prints the
// repaints per second and the slowest one, at 1x and at 1/2.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QScrollBar>

#include "window/frmMain.h"

namespace {

using Clock = std::chrono::steady_clock;

void Measure(frmMain& window, const char* what, int step) {
    QScrollBar& across = *window.picView->horizontalScrollBar();
    QScrollBar& down = *window.picView->verticalScrollBar();
    across.setValue(0);
    down.setValue(0);
    window.picView->viewport()->repaint();  // the first paint converts the frame once
    std::vector<double> ms;
    for (QScrollBar* bar : {&across, &down}) {
        for (int value = step; value <= bar->maximum(); value += step) {
            const auto before = Clock::now();
            bar->setValue(value);
            window.picView->viewport()->repaint();
            QCoreApplication::processEvents();
            ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - before).count());
        }
    }
    if (ms.empty()) {
        std::printf("%s: the picture fits the room, nothing to scroll\n", what);
        return;
    }
    double total = 0;
    for (const double m : ms) total += m;
    const auto slowestAt = std::max_element(ms.begin(), ms.end()) - ms.begin();
    std::sort(ms.begin(), ms.end());
    std::printf("%s: room %dx%d, %zu repaints: %.0f per second, median %.2f ms, 95%% %.2f ms, slowest %.2f ms (repaint %td)\n", what,
                window.picView->viewport()->width(), window.picView->viewport()->height(), ms.size(),
                1000.0 * static_cast<double>(ms.size()) / total, ms[ms.size() / 2], ms[ms.size() * 95 / 100], ms.back(), slowestAt + 1);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: framewise-scroll FILE [WIDTHxHEIGHT] [STEP]\n");
        return 2;
    }
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    frmMain window;
    int width = 0, height = 0;
    if (argc > 2 && std::sscanf(argv[2], "%dx%d", &width, &height) == 2) window.resize(width, height);
    const int step = argc > 3 ? std::max(1, std::atoi(argv[3])) : 8;
    window.show();
    if (!window.LoadFile(QString::fromLocal8Bit(argv[1]))) return 1;
    QCoreApplication::processEvents();
    std::printf("%s: frame %dx%d, window %dx%d, step %d px\n", argv[1], window.picDisp->Image().Width(),
                window.picDisp->Image().Height(), window.width(), window.height(), step);
    Measure(window, "1x", step);
    QKeyEvent minus(QEvent::KeyPress, Qt::Key_Minus, Qt::NoModifier, QStringLiteral("-"));
    QCoreApplication::sendEvent(window.TimeLine, &minus);
    QCoreApplication::processEvents();
    Measure(window, window.lblZoom->text().toUtf8().constData(), step);
    return 0;
}
