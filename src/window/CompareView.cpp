#include "CompareView.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <utility>

#include <QAction>
#include <QComboBox>
#include <QFile>
#include <QKeySequence>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScrollBar>
#include <QSpinBox>

#include "FrameInspector.h"
#include "FrameReadout.h"
#include "clip/CompareWorkers.h"
#include "clip/cAVI.h"
#include "frmMain.h"
#include "platform/mAVIDecs.h"

namespace {

const QString& kDot = kReadoutDot;
constexpr int kOffsetLimit = 1000000;

QString Decibels(double value) {
    return std::isinf(value) ? QStringLiteral("inf") : QString::number(value, 'f', 2);
}

QString MetricsText(const PictureMetrics& m) {
    if (!m.valid) return QStringLiteral("no PSNR/SSIM: ") + QString::fromStdString(m.reason);
    if (m.Identical()) return QStringLiteral("PSNR identical") + kDot + QStringLiteral("SSIM Y 1.0000");
    QString text = QStringLiteral("PSNR Y ") + Decibels(m.psnr[0]);
    if (m.components >= 3)
        text += QStringLiteral(" U ") + Decibels(m.psnr[1]) + QStringLiteral(" V ") + Decibels(m.psnr[2]);
    return text + QStringLiteral(" avg ") + Decibels(m.psnrAverage) + QStringLiteral(" dB") + kDot +
           QStringLiteral("SSIM Y ") + QString::number(m.ssimY, 'f', 4);
}

QString RgbText(const PersistentImage& image, QPoint p) {
    if (p.x() < 0 || p.y() < 0 || p.x() >= image.Width() || p.y() >= image.Height()) return QStringLiteral("none");
    const std::uint32_t rgb = image.PixelAt(p.x(), p.y());
    return QStringLiteral("R %1 G %2 B %3").arg(rgb >> 16 & 0xFF).arg(rgb >> 8 & 0xFF).arg(rgb & 0xFF);
}

// One row of the composed picture, written left to right: every pixel once,
// black where no picture lies (a composed frame of 4K pictures side by side
// is 25 MB; clearing it first doubled the UI thread's writes on every step).
class RowWriter {
public:
    explicit RowWriter(std::uint8_t* row) : row_(row) {}
    // `count` pixels of `from` (BGR) at column `x`, not left of what is written.
    void Put(int x, const std::uint8_t* from, int count) {
        if (count <= 0) return;
        Black(x);
        std::memcpy(row_ + 3 * x, from, static_cast<std::size_t>(count) * 3);
        done_ = x + count;
    }
    // Pixels up to column `x` that nothing was put in are black.
    void Black(int x) {
        if (x > done_) std::memset(row_ + 3 * done_, 0, static_cast<std::size_t>(x - done_) * 3);
        done_ = std::max(done_, x);
    }
    std::uint8_t* At(int x) { return row_ + 3 * x; }
    void Written(int x) { done_ = std::max(done_, x); }

private:
    std::uint8_t* row_;
    int done_ = 0;
};

}  // namespace

// ---- The graph ----------------------------------------------------------------

CompareGraph::CompareGraph(frmMain& window, QWidget* parent) : QWidget(parent), window_(window) {
    setObjectName(QStringLiteral("CompareGraph"));
    setToolTip(
        QStringLiteral("PSNR of each frame (average of the planes); click to go to a frame, Shift+W to the worst"));
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void CompareGraph::SetValues(std::int32_t first, const std::vector<double>* values, double done) {
    first_ = first;
    values_ = values;
    done_ = done;
    update();
}

std::int32_t CompareGraph::FrameAt(int x) const {
    const QScrollBar& bar = *window_.TimeLine;
    const BarScale scale = window_.Inspector->Ticks->Scale();
    // The x of a frame grows with the frame: the first frame at or right of x.
    std::int32_t low = bar.minimum(), high = bar.maximum();
    while (low < high) {
        const std::int32_t mid = low + (high - low) / 2;
        if (scale.X(mid) < x) low = mid + 1;
        else high = mid;
    }
    if (low > bar.minimum() && x - scale.X(low - 1) < scale.X(low) - x) --low;
    return low;
}

void CompareGraph::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Base));
    painter.setPen(palette().color(QPalette::Mid));
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
    if (!values_ || values_->empty()) return;
    double low = std::numeric_limits<double>::infinity(), high = -low;
    bool measured = false;  // some pair had metrics: finite, or identical (inf)
    for (double v : *values_) {
        measured = measured || !std::isnan(v);
        if (std::isfinite(v)) low = std::min(low, v), high = std::max(high, v);
    }
    QString label = QStringLiteral("PSNR %1\u2013%2 dB").arg(low, 0, 'f', 1).arg(high, 0, 'f', 1);
    if (!std::isfinite(low)) {  // nothing measured, or every frame identical
        label = measured     ? QStringLiteral("PSNR identical")
                : done_ < 1.0 ? QStringLiteral("PSNR")
                              : QStringLiteral("no PSNR");
        low = 0, high = 1;
    }
    if (high - low < 1) high = low + 1;
    const BarScale scale = window_.Inspector->Ticks->Scale();
    const int top = 2, bottom = height() - 3;
    const auto yOf = [&](double v) {
        const double share = std::isinf(v) ? 1.0 : (v - low) / (high - low);
        return bottom - static_cast<int>(std::lround(share * (bottom - top)));
    };
    // Each frame covers the columns nearer to it than to its neighbours, so
    // that the bars close up and a single bad frame shows as a notch; where
    // frames share a column, it shows the worst of them.
    const std::size_t count = values_->size();
    std::vector<int> xs(count);
    for (std::size_t i = 0; i < count; ++i) xs[i] = scale.X(first_ + static_cast<std::int32_t>(i));
    const auto span = [&](std::size_t i) {
        const int left = i == 0 ? xs[i] : (xs[i - 1] + xs[i] + 1) / 2;
        const int right = i + 1 == count ? xs[i] : std::max(left, (xs[i] + xs[i + 1] - 1) / 2);
        return std::pair(std::clamp(left, 0, width() - 1), std::clamp(right, 0, width() - 1));
    };
    std::vector<double> column(static_cast<std::size_t>(width()), std::numeric_limits<double>::quiet_NaN());
    std::optional<std::size_t> worst;  // the lowest finite value, marked over the whole height
    for (std::size_t i = 0; i < count; ++i) {
        const double v = (*values_)[i];
        if (std::isnan(v)) continue;
        if (std::isfinite(v) && (!worst || v < (*values_)[*worst])) worst = i;
        const auto [left, right] = span(i);
        for (int x = left; x <= right; ++x) {
            double& c = column[static_cast<std::size_t>(x)];
            if (std::isnan(c) || v < c) c = v;
        }
    }
    painter.setPen(palette().color(QPalette::Highlight));
    for (int x = 0; x < width(); ++x)
        if (const double v = column[static_cast<std::size_t>(x)]; !std::isnan(v))
            painter.drawLine(x, bottom, x, yOf(v));
    QRect mark;
    if (worst) {
        const auto [left, right] = span(*worst);
        const int x = xs[*worst];
        mark = QRect(QPoint(std::min(left, x - 1), top), QPoint(std::max(right, x + 1), bottom));
        painter.fillRect(mark, QColor(220, 0, 0));
        label += QStringLiteral(" \u00B7 worst frame %1").arg(first_ + static_cast<std::int32_t>(*worst));
    }
    if (done_ < 1.0) label += QStringLiteral(" \u00B7 measuring %1%").arg(static_cast<int>(done_ * 100));
    // On a ground of its own, so that the bars under it do not cross it; at
    // the left end where it would hide the worst frame's mark.
    const QRect text = painter.fontMetrics().boundingRect(label).adjusted(-3, 0, 3, 0);
    QRect box(width() - 1 - 4 - text.width(), 1, text.width(), text.height());
    if (box.intersects(mark)) box.moveLeft(1 + 4);
    painter.fillRect(box, palette().color(QPalette::Base));
    painter.setPen(palette().color(QPalette::Text));
    painter.drawText(box, Qt::AlignCenter, label);
}

void CompareGraph::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    window_.TimeLine->setValue(FrameAt(static_cast<int>(event->position().x())));
    window_.TimeLine->setFocus();
}

// ---- The comparison -------------------------------------------------------------

CompareView::CompareView(frmMain& window) : window_(window) {
    surfaceA_.Image().SetBackground(0, 0, 0);
    surfaceB_.Image().SetBackground(0, 0, 0);
    CreateControls();
    CreateShortcuts();
    window_.picDisp->installEventFilter(this);
    ClipChanged();
}

CompareView::~CompareView() { Stop(); }

void CompareView::Stop() {
    metricsWorker_.reset();
    passWorker_.reset();
}

void CompareView::CreateControls() {
    lblCompareWith = new QLabel(QStringLiteral("Compare with"), &window_);
    cboCompare = new QComboBox(&window_);
    cboCompare->setObjectName(QStringLiteral("cboCompare"));
    lblOffset = new QLabel(QStringLiteral("Offset"), &window_);
    spnOffset = new QSpinBox(&window_);
    spnOffset->setObjectName(QStringLiteral("spnOffset"));
    spnOffset->setRange(-kOffsetLimit, kOffsetLimit);
    spnOffset->setToolTip(QStringLiteral("B shows frame N + offset"));
    spnOffset->setKeyboardTracking(false);
    lblCompare = new QLabel(&window_);
    lblCompare->setObjectName(QStringLiteral("lblCompare"));
    lblCompare->setTextFormat(Qt::PlainText);
    // Outside the Tab chain, which stays the window's own; a click reaches them.
    cboCompare->setFocusPolicy(Qt::ClickFocus);
    spnOffset->setFocusPolicy(Qt::ClickFocus);
    for (QWidget* part : spnOffset->findChildren<QWidget*>()) part->setFocusPolicy(Qt::ClickFocus);
    Graph = new CompareGraph(window_, &window_);
    Graph->hide();
    PlaceControls();
    connect(cboCompare, &QComboBox::activated, this, [this] { Choose(); });
    connect(spnOffset, &QSpinBox::valueChanged, this, [this] { OffsetChanged(); });
}

void CompareView::PlaceControls() {
    const auto rect = [this](int left, int top, int width, int height) {
        const auto x = [this](double t) { return static_cast<int>(std::nearbyint(t / window_.TwipsPerPixelX())); };
        const auto y = [this](double t) { return static_cast<int>(std::nearbyint(t / window_.TwipsPerPixelY())); };
        return QRect(x(left), y(top), x(width), y(height));
    };
    lblCompareWith->setGeometry(rect(7800, 120, 1320, 315));
    cboCompare->setGeometry(rect(9180, 120, 2115, 315));
    lblOffset->setGeometry(rect(7800, 600, 1320, 315));
    spnOffset->setGeometry(rect(9180, 600, 1335, 315));
    // The compare line's width follows the window (frmMain::PlaceToWindow).
}

void CompareView::CreateShortcuts() {
    const auto add = [this](const QKeySequence& key, auto command) {
        auto* action = new QAction(&window_);
        action->setShortcut(key);
        // Only while comparing: otherwise the keys are what they always were.
        action->setEnabled(false);
        connect(cboCompare, &QComboBox::currentIndexChanged, action,
                [this, action] { action->setEnabled(cboCompare->currentIndex() > 0); });
        connect(action, &QAction::triggered, this, command);
        window_.addAction(action);
    };
    add(QKeySequence(Qt::Key_A), [this] { SetView(View::A); });
    add(QKeySequence(Qt::Key_B), [this] { SetView(View::B); });
    add(QKeySequence(Qt::Key_S), [this] { SetView(View::SideBySide); });
    add(QKeySequence(Qt::Key_W), [this] { SetView(View::Wipe); });
    add(QKeySequence(Qt::Key_D), [this] { StepDifference(); });
    add(QKeySequence(Qt::SHIFT | Qt::Key_W), [this] { ToWorstFrame(); });
}

std::shared_ptr<cAVI> CompareView::ClipA() const {
    const auto& clips = window_.Clips();
    const int index = window_.Combo1->currentIndex();
    if (index < 0 || index >= static_cast<int>(clips.size())) return nullptr;
    return clips[static_cast<std::size_t>(index)];
}

QString CompareView::PathOf(const cAVI& clip) const {
    const auto& clips = window_.Clips();
    for (std::size_t i = 0; i < clips.size(); ++i)
        if (clips[i].get() == &clip) return window_.Combo1->itemData(static_cast<int>(i)).toString();
    return {};
}

// The workers read the same files through clips of their own.
std::unique_ptr<cAVI> CompareView::OpenCopy(const cAVI& clip) const {
    const QString path = PathOf(clip);
    auto copy = std::make_unique<cAVI>();
    if (path.isEmpty() || !copy->LoadAVI(QFile::encodeName(path).toStdString())) return nullptr;
    return copy;
}

std::int32_t CompareView::FrameB(std::int32_t frameA) const {
    const std::int64_t b = std::int64_t{frameA} + spnOffset->value();
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(b, std::numeric_limits<std::int32_t>::min(),
                                                              std::numeric_limits<std::int32_t>::max()));
}

void CompareView::ClipChanged() {
    const std::shared_ptr<cAVI> a = ClipA();
    const auto& clips = window_.Clips();
    std::shared_ptr<cAVI> keep = b_ != a ? b_ : nullptr;
    cboCompare->clear();
    cboCompare->addItem(QStringLiteral("none"), -1);
    for (std::size_t i = 0; i < clips.size(); ++i) {
        if (!clips[i] || clips[i] == a) continue;
        cboCompare->addItem(window_.Combo1->itemText(static_cast<int>(i)), static_cast<int>(i));
        if (clips[i] == keep) cboCompare->setCurrentIndex(cboCompare->count() - 1);
    }
    if (cboCompare->currentIndex() <= 0) keep = nullptr;
    cboCompare->setEnabled(cboCompare->count() > 1);
    const bool wasActive = Active();
    b_ = keep;
    if (wasActive != Active()) window_.PlaceToWindow();
    Restart();
}

void CompareView::Choose() {
    const int index = cboCompare->currentData().toInt();
    const auto& clips = window_.Clips();
    const bool wasActive = Active();
    b_ = index >= 0 && index < static_cast<int>(clips.size()) ? clips[static_cast<std::size_t>(index)] : nullptr;
    if (wasActive != Active()) window_.PlaceToWindow();
    Restart();
    if (!Active()) {
        // Back to the window as it is without a comparison.
        lblCompare->clear();
        if (const auto a = ClipA()) window_.SizePicDisp(*a);
    }
    window_.TimeLine_Change();
}

void CompareView::OffsetChanged() {
    Restart();
    if (Active()) window_.TimeLine_Change();
}

void CompareView::Restart() {
    Stop();
    shown_.reset();
    values_.clear();
    paired_ = {};
    passDone_ = 0;
    worstPendingAt_.reset();
    ++generation_;
    const std::shared_ptr<cAVI> a = ClipA();
    Graph->setVisible(Active());
    if (!Active() || !a) {
        Graph->SetValues(0, nullptr, 0);
        return;
    }
    const QRect bar = window_.TimeLine->geometry();
    const QRect view = window_.picView->geometry();
    Graph->setGeometry(bar.x(), view.top() - kGraphHeight - 1, bar.width(), kGraphHeight);
    Graph->raise();
    const std::int32_t offset = spnOffset->value();
    paired_ = PairFrames(*a, *b_, offset, std::numeric_limits<std::int32_t>::min(),
                         std::numeric_limits<std::int32_t>::max());
    values_.assign(static_cast<std::size_t>(paired_.Count()), std::numeric_limits<double>::quiet_NaN());
    Graph->SetValues(paired_.first, &values_, paired_.Count() ? 0.0 : 1.0);
    const int generation = generation_;
    auto a1 = OpenCopy(*a), b1 = OpenCopy(*b_);
    if (a1 && b1)
        metricsWorker_ = std::make_unique<FrameMetricsWorker>(std::move(a1), std::move(b1),
                                                              [this, generation](const FrameMetrics& m) {
            QMetaObject::invokeMethod(this, [this, generation, m] {
                if (generation == generation_) ShowMetrics(m);
            }, Qt::QueuedConnection);
        });
    if (paired_.Count() == 0) return;
    // The background pass decodes with one thread per clip, keeps nothing and
    // reads in order (nothing to decode ahead), leaving the rest of the
    // machine to the frames being looked at.
    AVISetReaderSettings(1, 0);
    AVISetDecodeAhead(false);
    auto a2 = OpenCopy(*a), b2 = OpenCopy(*b_);
    AVISetDecodeAhead(true);
    AVISetReaderSettings(0, ReaderKeepBytes());
    if (a2 && b2)
        passWorker_ = std::make_unique<ComparePassWorker>(
            std::move(a2), std::move(b2), offset, paired_,
            [this, generation](std::vector<FrameMetrics> batch, double done) {
                QMetaObject::invokeMethod(this, [this, generation, batch = std::move(batch), done]() mutable {
                    if (generation == generation_) TakeBatch(std::move(batch), done);
                }, Qt::QueuedConnection);
            });
}

bool CompareView::ShowFrame(std::int32_t frame, bool useCatch) {
    const std::shared_ptr<cAVI> a = ClipA();
    if (!Active() || !a) return false;
    frame_ = frame;
    if (worstPendingAt_ != frame) worstPendingAt_.reset();
    const std::int32_t frameB = FrameB(frame);
    if (passWorker_) passWorker_->Hold();  // the pass waits while the user steps
    // What is not in the cache is read first: B's frame on the side job while
    // A's is read here. Both are then shown together, so a view never pairs
    // A's frame with another B frame.
    const auto toRead = [&](const cAVI& clip, std::int32_t n) {
        return clip.HasFrame(n) && !(useCatch && clip.IsCaught(n)) ? std::make_shared<cDIBx>() : nullptr;
    };
    auto readA = toRead(*a, frame), readB = toRead(*b_, frameB);
    if (readB && !sideB_) sideB_ = std::make_unique<SideJob>();  // a thread only once comparing
    if (readB)
        sideB_->Start([clip = b_, frameB, &readB] {
            if (!clip->ReadFrame(frameB, *readB)) readB.reset();
        });
    if (readA && !a->ReadFrame(frame, *readA)) readA.reset();
    if (sideB_) sideB_->Wait();
    // A surface keeps its size, and a picture drawn into it shares the
    // reader's rows without a copy; with nothing to show (outside the clip,
    // undecodable) it is black.
    const auto draw = [useCatch](cAVI& clip, std::int32_t n, MemorySurface& surface, std::shared_ptr<cDIBx> read) {
        PersistentImage& image = surface.Image();
        const bool caught = useCatch && clip.IsCaught(n);
        if (!caught && !read) image.Resize(0, 0);
        image.Resize(clip.GetWidth(), clip.GetHeight());
        if (caught) clip.DrawFrame(n, surface, true);
        else clip.DrawRead(n, std::move(read), surface, useCatch);
    };
    draw(*a, frame, surfaceA_, std::move(readA));
    draw(*b_, frameB, surfaceB_, std::move(readB));
    hasA_ = a->HasFrame(frame);
    hasB_ = b_->HasFrame(frameB);
    Compose();
    if (shown_ && (shown_->frameA != frame || shown_->frameB != frameB)) shown_.reset();
    if (hasA_ && hasB_ && metricsWorker_) {
        // The pictures just drawn, when the readers still hold them: no decoding twice.
        metricsWorker_->Request(frame, frameB, AVIStreamGetSourcePicture(a->FrameReader(), frame, false),
                                AVIStreamGetSourcePicture(b_->FrameReader(), frameB, false));
    } else if (!hasB_) {
        FrameMetrics none{frame, frameB, {}};
        none.metrics.reason = "B has no frame " + std::to_string(frameB);
        shown_ = none;
    }
    UpdateText();
    return true;
}

void CompareView::Compose() {
    const PersistentImage& a = surfaceA_.Image();
    const PersistentImage& b = surfaceB_.Image();
    const int wa = a.Width(), ha = a.Height(), wb = b.Width(), hb = b.Height();
    int width = wa, height = ha;
    switch (view_) {
        case View::A: break;
        case View::B: width = wb, height = hb; break;
        case View::SideBySide: width = wa + kSideGap + wb, height = std::max(ha, hb); break;
        case View::Wipe:
        case View::Difference: width = std::max(wa, wb), height = std::max(ha, hb); break;
    }
    PictureBox& box = *window_.picDisp;
    if (box.Image().Width() != width || box.Image().Height() != height) box.SetSize(width, height);
    PersistentImage& out = *box.ImageHandle();
    const int divider = std::min(WipeDivider(), width);
    for (int y = 0; y < height; ++y) {
        RowWriter row(out.Row(y));
        const std::uint8_t* ra = y < ha ? a.Row(y) : nullptr;
        const std::uint8_t* rb = y < hb ? b.Row(y) : nullptr;
        switch (view_) {
            case View::A: row.Put(0, ra, ra ? wa : 0); break;
            case View::B: row.Put(0, rb, rb ? wb : 0); break;
            case View::SideBySide:
                row.Put(0, ra, ra ? wa : 0);
                row.Put(wa + kSideGap, rb, rb ? wb : 0);
                break;
            case View::Wipe:
                row.Put(0, ra, ra ? std::min(divider, wa) : 0);
                if (rb && divider < wb) row.Put(divider, rb + 3 * divider, wb - divider);
                break;
            case View::Difference:
                if (ra && rb) {
                    const int n = 3 * std::min(wa, wb);
                    std::uint8_t* d = row.At(0);
                    for (int i = 0; i < n; ++i)
                        d[i] = static_cast<std::uint8_t>(std::min(255, std::abs(ra[i] - rb[i]) * amplification_));
                    row.Written(std::min(wa, wb));
                }
                break;
        }
        row.Black(width);
    }
    out.NotifyChanged();
}

void CompareView::SetView(View view) {
    if (!Active()) return;
    view_ = view;
    if (view != View::Difference) amplification_ = 1;
    window_.TimeLine_Change();
}

void CompareView::StepDifference() {
    if (!Active()) return;
    // D shows the difference; again, it amplifies it: x1, x4, x16, x1, ...
    amplification_ = view_ != View::Difference ? 1 : amplification_ == 16 ? 1 : amplification_ * 4;
    view_ = View::Difference;
    window_.TimeLine_Change();
}

int CompareView::WipeDivider() const {
    const int wa = surfaceA_.Image().Width(), wb = surfaceB_.Image().Width();
    return std::clamp(wipeAt_ < 0 ? wa / 2 : wipeAt_, 0, std::max(wa, wb));
}

void CompareView::SetWipeAt(int x) {
    wipeAt_ = std::max(0, x);
    if (Active() && view_ == View::Wipe) {
        Compose();
        UpdateText();
    }
}

QString CompareView::PixelText(QPoint pixel) const {
    // The frame position under the pointer: side by side, the right half is B's.
    QPoint at = pixel;
    const int wa = surfaceA_.Image().Width();
    if (view_ == View::SideBySide && pixel.x() >= wa) {
        at.setX(pixel.x() - wa - kSideGap);
        if (at.x() < 0) return {};
    }
    const std::shared_ptr<cAVI> a = ClipA();
    QString text = QStringLiteral("x %1 y %2").arg(at.x()).arg(at.y()) + kDot + QStringLiteral("A ") +
                   RgbText(surfaceA_.Image(), at);
    if (a && hasA_) {
        const std::string source = AVIStreamSourceValues(a->FrameReader(), frame_, at.x(), at.y());
        if (!source.empty()) text += QStringLiteral(" (") + QString::fromStdString(source) + QStringLiteral(")");
    }
    text += kDot + QStringLiteral("B ") + RgbText(surfaceB_.Image(), at);
    if (b_ && hasB_) {
        const std::string source = AVIStreamSourceValues(b_->FrameReader(), FrameB(frame_), at.x(), at.y());
        if (!source.empty()) text += QStringLiteral(" (") + QString::fromStdString(source) + QStringLiteral(")");
    }
    return text;
}

void CompareView::UpdateText() {
    if (!Active()) return;
    QString view;
    switch (view_) {
        case View::A: view = QStringLiteral("A"); break;
        case View::B: view = QStringLiteral("B"); break;
        case View::SideBySide: view = QStringLiteral("side by side"); break;
        case View::Wipe: view = QStringLiteral("wipe at x %1").arg(WipeDivider()); break;
        case View::Difference: view = QStringLiteral("difference \u00D7%1").arg(amplification_); break;
    }
    const std::int32_t frameB = FrameB(frame_);
    QString text = QStringLiteral("View ") + view + kDot + QStringLiteral("B frame %1").arg(frameB);
    if (shown_ && shown_->frameA == frame_ && shown_->frameB == frameB) text += kDot + MetricsText(shown_->metrics);
    else text += kDot + QStringLiteral("PSNR \u2026");
    lblCompare->setText(text);
}

void CompareView::ShowMetrics(const FrameMetrics& metrics) {
    if (metrics.frameA != frame_ || metrics.frameB != FrameB(frame_)) return;  // stepped on meanwhile
    shown_ = metrics;
    UpdateText();
}

void CompareView::TakeBatch(std::vector<FrameMetrics> batch, double done) {
    for (const FrameMetrics& f : batch) {
        const std::int64_t i = std::int64_t{f.frameA} - paired_.first;
        if (i < 0 || i >= static_cast<std::int64_t>(values_.size())) continue;
        values_[static_cast<std::size_t>(i)] =
            f.metrics.valid ? f.metrics.psnrAverage : std::numeric_limits<double>::quiet_NaN();
    }
    passDone_ = done;
    Graph->SetValues(paired_.first, &values_, done);
    if (PassDone() && worstPendingAt_) ToWorstFrame();
}

std::optional<std::int32_t> CompareView::WorstFrame() const {
    std::optional<std::int32_t> worst;
    double lowest = std::numeric_limits<double>::infinity();
    for (std::size_t i = 0; i < values_.size(); ++i)
        if (!std::isnan(values_[i]) && (!worst || values_[i] < lowest)) {
            lowest = values_[i];
            worst = paired_.first + static_cast<std::int32_t>(i);
        }
    return worst;
}

// Before the pass is over, the worst frame so far, and the worst of all once
// the pass ends (if the user is still there).
void CompareView::ToWorstFrame() {
    if (const std::optional<std::int32_t> worst = WorstFrame()) window_.TimeLine->setValue(*worst);
    worstPendingAt_ = PassDone() ? std::nullopt : std::optional(window_.TimeLine->value());
}

bool CompareView::eventFilter(QObject* watched, QEvent* event) {
    // In the wipe the left button moves the divider instead of the picture.
    const bool press = event->type() == QEvent::MouseButtonPress;
    if (watched == window_.picDisp && Active() && view_ == View::Wipe &&
        (press || event->type() == QEvent::MouseMove)) {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (press ? mouse->button() == Qt::LeftButton : (mouse->buttons() & Qt::LeftButton) != 0) {
            const PictureBox& box = *window_.picDisp;
            const int device = static_cast<int>(std::floor(mouse->position().x() * box.devicePixelRatioF() + 1e-6));
            const int power = box.ZoomPower();
            SetWipeAt(power >= 0 ? device >> power : device << -power);
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}
