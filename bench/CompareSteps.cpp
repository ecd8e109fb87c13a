// framewise-compare-steps A B [STEPS]: steps back per second in the real
// window (offscreen) showing clip A alone, then compared with clip B side by
// side; each key press is handled and painted before the next. Each figure
// is one walk of STEPS from the last frame back.
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QKeyEvent>
#include <QScrollBar>

#include "window/CompareView.h"
#include "window/frmMain.h"

namespace {

double StepsPerSecond(frmMain& window, int steps) {
    QScrollBar& bar = *window.TimeLine;
    bar.setValue(bar.maximum());
    bar.setFocus();
    QCoreApplication::processEvents();
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < steps; ++i) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_Left, Qt::NoModifier);
        QCoreApplication::sendEvent(&bar, &press);
        QCoreApplication::processEvents();
    }
    return steps / std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: framewise-compare-steps A B [STEPS]\n");
        return 2;
    }
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    frmMain window;
    window.show();
    if (!window.LoadFile(QString::fromLocal8Bit(argv[1])) || !window.LoadFile(QString::fromLocal8Bit(argv[2])))
        return 1;
    window.Combo1->setCurrentIndex(0);
    window.Combo1_Click();
    const int steps = std::min(argc > 3 ? std::atoi(argv[3]) : 200, window.TimeLine->maximum());
    window.chkCatch->setChecked(false);  // every step decodes
    // A first round takes the process's fresh memory, which on some machines
    // costs more than decoding; A alone is measured on the second, as the
    // pair is once the first round of its own is over.
    StepsPerSecond(window, steps);
    const double alone = StepsPerSecond(window, steps);
    window.Compare->cboCompare->setCurrentIndex(1);
    emit window.Compare->cboCompare->activated(1);
    const double duringPass = StepsPerSecond(window, steps);
    // Then with the graph's background pass over.
    const auto start = std::chrono::steady_clock::now();
    while (!window.Compare->PassDone() && std::chrono::steady_clock::now() - start < std::chrono::minutes(3))
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    const double compared = StepsPerSecond(window, steps);
    std::printf("%d steps back: A alone %.1f steps/s; compared with B side by side %.1f steps/s (%.2fx), "
                "%.1f steps/s (%.2fx) while the graph's pass runs\n",
                steps, alone, compared, compared / alone, duringPass, duringPass / alone);
    return 0;
}
