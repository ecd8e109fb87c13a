// framewise-playcpu [--no-catch] CLIP.avi [SECONDS] [WARMUP] [SCREENSHOT.png]
//
// Measures what playing costs: opens the clip in the real main window, presses
// Play, lets it play WARMUP seconds (0 unless given; a warm-up as long as the
// clip measures frames from the cache), and after SECONDS (10 unless given)
// more of wall time prints the processor time the process used meanwhile (user + system, from /proc/self/stat), the
// frames advanced, the rate achieved against the clip's, the periods dropped
// (each gap between two advances counts the whole frame periods it spans
// beyond one), how many times the picture was painted, and the window title;
// optionally saves the window's picture, then presses Stop and exits.
// --no-catch clears "Use Catch" first, so that every frame is decoded afresh
// into a recycled pixel block and none is kept. Runs on whatever Qt platform is set (offscreen,
// or xcb under a virtual X server). Not a test: its figures depend on the machine.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>

#include <unistd.h>

#include "window/frmMain.h"

namespace {

// User plus system time of this process in seconds.
double ProcessorSeconds() {
    std::ifstream file("/proc/self/stat");
    const std::string stat((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    // Fields after the command name, which may hold spaces: state is field 3,
    // utime field 14 and stime field 15.
    std::istringstream fields(stat.substr(stat.rfind(')') + 2));
    std::string field;
    long long utime = 0, stime = 0;
    for (int index = 3; fields >> field && index <= 15; ++index) {
        if (index == 14) utime = std::stoll(field);
        if (index == 15) stime = std::stoll(field);
    }
    return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// Counts the paintings of a widget.
class PaintCount : public QObject {
public:
    explicit PaintCount(long& count) : count_(count) {}

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) ++count_;
        return false;
    }

private:
    long& count_;
};

}  // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QStringList args = QCoreApplication::arguments().mid(1);
    const bool noCatch = args.removeAll(QStringLiteral("--no-catch")) > 0;
    if (args.isEmpty()) {
        std::fprintf(stderr, "usage: %s [--no-catch] CLIP.avi [SECONDS] [WARMUP] [SCREENSHOT.png]\n", argv[0]);
        return 2;
    }
    const int seconds = args.size() > 1 ? args[1].toInt() : 10;
    const int warmUp = args.size() > 2 ? args[2].toInt() : 0;
    const QString screenshot = args.size() > 3 ? args[3] : QString();

    frmMain window;
    window.show();
    if (noCatch) window.chkCatch->setChecked(false);
    if (!window.LoadFile(args[0])) return 1;
    long advances = 0, dropped = 0, paints = 0;
    const double periodSeconds = 1.0 / window.Clips().back()->GetFPS();
    using Clock = std::chrono::steady_clock;
    Clock::time_point lastAdvance{};
    QObject::connect(window.TimeLine, &QScrollBar::valueChanged, [&] {
        const auto now = Clock::now();
        if (advances > 0) {
            const double gap = std::chrono::duration<double>(now - lastAdvance).count();
            dropped += std::max(0L, std::lround(gap / periodSeconds) - 1);
        }
        lastAdvance = now;
        ++advances;
    });
    PaintCount counter(paints);
    window.picDisp->installEventFilter(&counter);

    double startCpu = 0;
    QElapsedTimer wall;
    QTimer::singleShot(warmUp * 1000, &window, [&] {
        startCpu = ProcessorSeconds();
        wall.start();
        advances = dropped = paints = 0;
    });
    QTimer::singleShot(0, window.cmdPlay, &QPushButton::click);
    QTimer::singleShot((warmUp + seconds) * 1000, &window, [&] {
        const double cpu = ProcessorSeconds() - startCpu;
        const double elapsed = static_cast<double>(wall.elapsed()) / 1000.0;
        std::printf("wall %.2f s, processor %.2f s (%.1f %% of a core), %ld frames advanced: %.1f fps of %.3g, "
                    "%ld periods dropped, %ld paints of the picture, title \"%s\"\n",
                    elapsed, cpu, 100.0 * cpu / elapsed, advances, advances / elapsed, 1.0 / periodSeconds, dropped,
                    paints, qPrintable(window.windowTitle()));
        if (!screenshot.isEmpty()) window.grab().save(screenshot);
        window.cmdStop->click();
        window.close();
    });
    return QApplication::exec();
}
