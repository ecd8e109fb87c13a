// Comparing the shown clip (A) with another loaded clip (B), frame by frame:
// "Compare with" picks B (none: the window is as it always was), an offset
// aligns B's frame N + offset with A's frame N, and the frame bar, its keys,
// Go to and playback move both. Views by key: A, B, side by side, a wipe
// whose divider follows a drag, and the difference |A - B| per channel
// amplified x1, x4 or x16. Every view keeps the picture box's one-to-one
// pixels and zoom. PSNR and SSIM of the shown pair are measured off the UI
// thread; a background pass fills a graph of PSNR under the frame bar.
#pragma once

#include <cmath>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include <QObject>
#include <QPoint>
#include <QString>
#include <QWidget>

#include "clip/ClipCompare.h"
#include "platform/Display.h"

class cAVI;
class frmMain;
class FrameMetricsWorker;
class ComparePassWorker;
class SideJob;
class QComboBox;
class QLabel;
class QSpinBox;

// PSNR over the clip pair, one value per frame of A, under the frame bar.
class CompareGraph : public QWidget {
public:
    CompareGraph(frmMain& window, QWidget* parent);
    // Average PSNR per frame of A from `first` on (NaN: not measured yet).
    void SetValues(std::int32_t first, const std::vector<double>* values, double done);
    // The frame of A a click at `x` goes to.
    std::int32_t FrameAt(int x) const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    frmMain& window_;
    std::int32_t first_ = 0;
    const std::vector<double>* values_ = nullptr;
    double done_ = 0;
};

class CompareView : public QObject {
public:
    enum class View { A, B, SideBySide, Wipe, Difference };
    static constexpr int kGraphHeight = 40;  // pixels, under the key ticks
    static constexpr int kSideGap = 8;       // pixels between the pictures side by side

    explicit CompareView(frmMain& window);
    ~CompareView() override;

    QLabel* lblCompareWith = nullptr;
    QComboBox* cboCompare = nullptr;  // "none", then the other loaded clips
    QLabel* lblOffset = nullptr;
    QSpinBox* spnOffset = nullptr;
    QLabel* lblCompare = nullptr;     // the view, B's frame, PSNR and SSIM
    CompareGraph* Graph = nullptr;

    // A clip to compare with is chosen.
    bool Active() const { return b_ != nullptr; }
    // Draws frame `frame` of A with its partner in B as the view shows them;
    // false (drawing nothing) when comparing is off.
    bool ShowFrame(std::int32_t frame, bool useCatch);
    // The pixel readout for pixel `pixel` of the picture box while active:
    // A's and B's values at the frame position it shows.
    QString PixelText(QPoint pixel) const;
    // The window's current clip or its list of clips changed.
    void ClipChanged();
    // Ends the background work; the window is closing.
    void Stop();

    void SetView(View view);
    View CurrentView() const { return view_; }
    int Amplification() const { return amplification_; }
    // The first column of the wipe that shows B.
    int WipeAt() const { return wipeAt_; }
    void SetWipeAt(int x);
    // The metrics of the shown pair, once measured.
    const std::optional<FrameMetrics>& ShownMetrics() const { return shown_; }
    // The graph's values per frame of A from GraphFirst() on; the pass is done when PassDone().
    const std::vector<double>& GraphValues() const { return values_; }
    std::int32_t GraphFirst() const { return paired_.first; }
    bool PassDone() const { return passDone_ >= 1.0; }
    // The frame of A with the lowest PSNR measured so far, if any.
    std::optional<std::int32_t> WorstFrame() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void CreateControls();
    void PlaceControls();
    void CreateShortcuts();
    void Choose();           // "Compare with" changed
    void OffsetChanged();
    void Restart();          // new pair or offset: workers and graph start over
    void Compose();          // A and B into the picture box, as the view shows them
    void UpdateText();
    void ShowMetrics(const FrameMetrics& metrics);
    void TakeBatch(std::vector<FrameMetrics> batch, double done);
    void ToWorstFrame();
    void StepDifference();
    std::shared_ptr<cAVI> ClipA() const;
    std::unique_ptr<cAVI> OpenCopy(const cAVI& clip) const;
    QString PathOf(const cAVI& clip) const;
    std::int32_t FrameB(std::int32_t frameA) const;
    // The wipe's first column of B, within the pictures.
    int WipeDivider() const;

    frmMain& window_;
    std::shared_ptr<cAVI> b_;
    mutable MemorySurface surfaceA_, surfaceB_;  // Image() is not const
    bool hasA_ = false, hasB_ = false;  // the surfaces hold the shown frames
    View view_ = View::SideBySide;
    int amplification_ = 1;
    int wipeAt_ = -1;  // -1: the middle of A
    std::int32_t frame_ = 0;
    std::optional<FrameMetrics> shown_;
    PairedFrames paired_;
    std::vector<double> values_;
    double passDone_ = 0;
    // Shift+W before the pass was over: the frame it showed then. The pass's
    // end goes on to the worst frame of all unless the user moved meanwhile.
    std::optional<std::int32_t> worstPendingAt_;
    int generation_ = 0;  // results of workers started before the last restart are dropped
    std::unique_ptr<FrameMetricsWorker> metricsWorker_;
    std::unique_ptr<ComparePassWorker> passWorker_;
    std::unique_ptr<SideJob> sideB_;  // reads B's frame while A's is drawn
};
