// framewise-drawbench [CLIP...]: what each link of showing a frame costs at
// 1080p and 2160p, in the real main window (offscreen unless a platform is
// set): importing the reader's packed bitmap (by copy and by sharing), putting
// it on the picture box's display surface, and painting the room the window
// gives the picture at zoom 1x, Fit and 2x after each new frame. With clips,
// also a whole step of the frame bar to a frame in the cache, painted.
// Medians over many runs, in milliseconds. Not a test: the figures depend on
// the machine.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <functional>
#include <memory>
#include <vector>

#include <QApplication>
#include <QCheckBox>
#include <QScrollBar>

#include "bitmap/cDIBx.h"
#include "window/frmMain.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kRuns = 41;

// Median wall time and median processor time of the whole process (all
// threads: Qt may convert big images on its pool), in milliseconds. The
// processor time shows the work even when other processes share the machine.
struct Times {
    double wall = 0;
    double cpu = 0;
    Times operator-(const Times& other) const { return {wall - other.wall, cpu - other.cpu}; }
};

double ProcessCpuMs() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

double Median(std::vector<double> values) {
    std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2), values.end());
    return values[values.size() / 2];
}

Times MedianMs(const std::function<void(int run)>& work, int runs = kRuns) {
    std::vector<double> walls, cpus;
    for (int run = 0; run < runs; ++run) {
        const auto start = Clock::now();
        const double cpuStart = ProcessCpuMs();
        work(run);
        cpus.push_back(ProcessCpuMs() - cpuStart);
        walls.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    return {Median(walls), Median(cpus)};
}

std::string Cell(const Times& times) {
    char text[64];
    std::snprintf(text, sizeof text, "%.2f / %.2f", times.wall, times.cpu);
    return text;
}

// A packed bottom-up 24-bit bitmap whose pixels differ with `seed`.
std::shared_ptr<const std::uint8_t[]> MakePacked(int width, int height, int seed) {
    const std::size_t stride = (static_cast<std::size_t>(width) * 3 + 3) & ~std::size_t{3};
    const std::size_t bytes = sizeof(BITMAPINFOHEADER) + stride * height;
    std::shared_ptr<std::uint8_t[]> block(new std::uint8_t[bytes]);
    BITMAPINFOHEADER header{};
    header.biSize = sizeof header;
    header.biWidth = width;
    header.biHeight = height;
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biCompression = BI_RGB;
    header.biSizeImage = static_cast<std::int32_t>(stride * height);
    std::memcpy(block.get(), &header, sizeof header);
    for (std::size_t i = sizeof header; i < bytes; ++i) block[i] = static_cast<std::uint8_t>(i * 7 + seed * 13);
    return block;
}

void MeasureSize(frmMain& window, int width, int height) {
    const std::shared_ptr<const std::uint8_t[]> packed[2] = {MakePacked(width, height, 1),
                                                             MakePacked(width, height, 2)};
    cDIBx dibs[2];
    for (int i = 0; i < 2; ++i) dibs[i].CreateFromSharedPackedDIB(packed[i]);
    PictureBox& box = *window.picDisp;
    box.SetSize(width, height);
    box.SetZoomPower(0);
    QCoreApplication::processEvents();

    const Times copyImport = MedianMs([&](int run) {
        cDIBx dib;
        const void* address = packed[run % 2].get();
        dib.CreateFromPackedDIBPointer(address);
    });
    const Times sharedImport = MedianMs([&](int run) {
        cDIBx dib;
        dib.CreateFromSharedPackedDIB(packed[run % 2]);
    });
    const Times surface = MedianMs([&](int run) { dibs[run % 2].DrawOnPicBox(box); });
    // A new frame each time, so nothing painted before can be reused.
    const auto painted = [&](int power) {
        box.SetZoomPower(power);
        QCoreApplication::processEvents();
        return MedianMs([&](int run) {
            dibs[run % 2].DrawOnPicBox(box);
            box.repaint();
        }) - surface;
    };
    const Times paintOne = painted(0);
    const int fit = window.picView->FitPower();
    const Times paintFit = painted(fit);
    const Times paintTwo = painted(1);
    box.SetZoomPower(0);
    std::printf("| %dx%d | %s | %s | %s | %s | %s (1/%d×) | %s |\n", width, height, Cell(copyImport).c_str(),
                Cell(sharedImport).c_str(), Cell(surface).c_str(), Cell(paintOne).c_str(), Cell(paintFit).c_str(),
                1 << -fit, Cell(paintTwo).c_str());
}

void MeasureClip(frmMain& window, const char* path) {
    if (!window.LoadFile(QString::fromLocal8Bit(path))) return;
    QScrollBar& bar = *window.TimeLine;
    window.chkCatch->setChecked(true);
    const int frames = std::min(bar.maximum() - bar.minimum() + 1, 30);
    // Fill the cache, then step through the cached frames.
    for (int i = 0; i < frames; ++i) bar.setValue(bar.minimum() + i);
    const Times step = MedianMs(
        [&](int run) {
            bar.setValue(bar.minimum() + run % frames);
            // What changed is painted: the picture, the labels.
            QCoreApplication::processEvents();
        },
        3 * frames);
    std::printf("| %s | %dx%d | %s |\n", path, window.picDisp->Image().Width(), window.picDisp->Image().Height(),
                Cell(step).c_str());
}

}  // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    frmMain window;
    window.show();
    QCoreApplication::processEvents();
    const QSize room = window.picView->viewport()->size();
    std::printf("Median ms per link, wall / processor (all threads), room %dx%d; paint: repaint of the picture "
                "after a new frame\n\n", room.width(), room.height());
    std::printf("| frame | import (copy) | import (shared) | to surface | paint 1× | paint Fit | paint 2× |\n");
    std::printf("|---|--:|--:|--:|--:|--:|--:|\n");
    MeasureSize(window, 1920, 1080);
    MeasureSize(window, 3840, 2160);
    if (argc > 1) {
        std::printf("\nA step of the frame bar to a cached frame, what changed painted (ms, median, wall / processor)\n\n");
        std::printf("| clip | size | step |\n|---|---|--:|\n");
        for (int i = 1; i < argc; ++i) MeasureClip(window, argv[i]);
    }
    return 0;
}
