#include "frmMain.h"

#include "CompareView.h"
#include "FrameInspector.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <utility>
#include <vector>

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QMimeData>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QUrl>

#include "FocusKeys.h"
#include "platform/mAVIDecs.h"

namespace {

constexpr int kTwipsPerInch = 1440;

// Page Up and Page Down move one second of the clip.
int PageStepFor(float framesPerSecond) {
    if (!std::isfinite(framesPerSecond) || framesPerSecond < 1.0f) return 1;
    return static_cast<int>(std::nearbyint(std::min(framesPerSecond, 1000.0f)));
}

// A control of the window, named as the window's code and tests know it.
template <typename Control, typename... Args>
Control* MakeControl(const char* name, QWidget* window, Args&&... args) {
    auto* control = new Control(std::forward<Args>(args)..., window);
    control->setObjectName(QLatin1String(name));
    return control;
}

// Qt's scroll bar swaps the horizontal arrow keys (it inverts its controls
// for the wheel's sake, as scroll bars rarely have the focus). A frame bar
// that has the focus steps back with Left and forward with Right.
//
// A held arrow key repeats at the keyboard's rate whether or not the window
// keeps up with showing a frame per press. Repeated presses that reach the
// bar together move it as one, so that the frame is shown once, where they
// lead, instead of a queue of presses each showing a frame already passed.
// A press of its own moves the bar at once.
class FrameScrollBar : public QScrollBar {
public:
    using QScrollBar::QScrollBar;

protected:
    void keyPressEvent(QKeyEvent* event) override {
        if (orientation() == Qt::Horizontal && (event->key() == Qt::Key_Left || event->key() == Qt::Key_Right)) {
            const bool back = (event->key() == Qt::Key_Left) != isRightToLeft();
            const SliderAction step = back ? SliderSingleStepSub : SliderSingleStepAdd;
            event->accept();
            if (!event->isAutoRepeat()) {
                triggerAction(step);
                return;
            }
            repeated_.push_back(step);
            if (repeated_.size() == 1) QMetaObject::invokeMethod(this, [this] { MoveRepeated(); }, Qt::QueuedConnection);
            return;
        }
        QScrollBar::keyPressEvent(event);
    }

private:
    // The repeated presses taken since the last move, with the bar's signals
    // held, then the bar moved to where they lead: one change, one frame.
    void MoveRepeated() {
        const int from = value();
        QSignalBlocker quiet(this);
        for (const SliderAction step : std::exchange(repeated_, {})) triggerAction(step);
        const int to = value();
        setValue(from);
        quiet.unblock();
        setValue(to);
    }

    std::vector<SliderAction> repeated_;
};

}  // namespace

frmMain::frmMain(QWidget* parent) : QWidget(parent) {
    twipsPerPixelX_ = static_cast<float>(kTwipsPerInch) / static_cast<float>(logicalDpiX());
    twipsPerPixelY_ = static_cast<float>(kTwipsPerInch) / static_cast<float>(logicalDpiY());
    setWindowTitle(QStringLiteral("Form1"));
    setAcceptDrops(true);
    CreateControls();
    PlaceControls();
    SetTabOrder();
    ConnectEvents();
    CreateShortcuts();
    KeepKeysForFocusedControls(this);
    Inspector = std::make_unique<FrameInspector>(*this);
    Compare = std::make_unique<CompareView>(*this);
    Form_Load();
}

frmMain::~frmMain() { Form_Unload(); }

void frmMain::CreateControls() {
    cmdLoad = MakeControl<QPushButton>("cmdLoad", this, QStringLiteral("Load Video"));
    Combo1 = MakeControl<QComboBox>("Combo1", this);
    Combo1->setEditable(false);
    Combo1->setEnabled(false);
    cmdStop = MakeControl<QPushButton>("cmdStop", this, QStringLiteral("||"));
    cmdStop->setEnabled(false);
    cmdStop->setToolTip(QStringLiteral("Stop"));
    cmdPlay = MakeControl<QPushButton>("cmdPlay", this, QStringLiteral(">"));
    cmdPlay->setEnabled(false);
    cmdPlay->setToolTip(QStringLiteral("Play"));
    cmdClear = MakeControl<QPushButton>("cmdClear", this, QStringLiteral("Clear Catch"));
    lblMem = MakeControl<QLabel>("lblMem", this, QStringLiteral("Memory used: 0 bytes"));
    chkCatch = MakeControl<QCheckBox>("chkCatch", this, QStringLiteral("Use Catch"));
    chkCatch->setChecked(true);
    CreateTimeLine();
    picDisp = MakeControl<PictureBox>("picDisp", this);
    picView = MakeControl<PictureView>("picView", this, picDisp);
    // Reachable with Tab, as the tab order has it, but a click on the picture
    // leaves the keyboard with the scroll bar.
    picDisp->setFocusPolicy(Qt::TabFocus);
    CreateReadout();
}

void frmMain::CreateTimeLine() {
    TimeLine = MakeControl<FrameScrollBar>("TimeLine", this, Qt::Horizontal);
    TimeLine->setRange(0, 0);
    // A drag is handled once, when the thumb is released.
    TimeLine->setTracking(false);
    TimeLine->setFocusPolicy(Qt::StrongFocus);
}

void frmMain::PlaceControls() {
    cmdLoad->setGeometry(TwipsRect(240, 120, 1215, 375));
    Combo1->setGeometry(TwipsRect(1560, 120, 5415, 315));
    cmdStop->setGeometry(TwipsRect(7080, 120, 255, 255));
    cmdPlay->setGeometry(TwipsRect(7440, 120, 255, 255));
    cmdClear->setGeometry(TwipsRect(240, 600, 1215, 375));
    lblMem->setGeometry(TwipsRect(1560, 720, 5295, 255));
    chkCatch->setGeometry(TwipsRect(240, 1080, 3135, 255));
    TimeLine->setGeometry(TwipsRect(240, 2040, 11055, 255));
    // The design size until the first clip sizes the picture box to its frames.
    picDisp->resize(TwipsRect(240, 2400, 5175, 3855).size());
    resize(PixelsX(11835), PixelsY(11040));
    PlaceToWindow();
}

// What follows the window's size and the compare mode. The picture's room
// starts where the picture box does and takes the rest of the window, less
// the left margin on the right and at the bottom. The zoom stays at the end
// of the frame bar; the lines beside it end there too, the others grow with
// the window, so that a wider window shows a longer line whole. Comparing,
// the pixel line carries both pictures' values and the compare line the
// metrics: both start at the left margin, and the zoom moves up to the end
// of the frame line.
void frmMain::PlaceToWindow() {
    const QRect design = TwipsRect(240, 2400, 5175, 3855);
    const bool comparing = Compare && Compare->Active();
    // Comparing, the PSNR graph takes a strip above it.
    const int top = design.top() + (comparing ? CompareView::kGraphHeight + 2 : 0);
    picView->setGeometry(design.left(), top, std::max(0, width() - 2 * design.left()),
                         std::max(0, height() - top - design.left()));
    const int grown = std::max(0, width() - PixelsX(11835));
    QRect frame = TwipsRect(3480, 1080, 7815, 255).adjusted(0, 0, grown, 0);
    QRect zoom = TwipsRect(9360, 1440, 1935, 255);
    QRect pixel = TwipsRect(3480, 1440, 5775, 255);
    const int gap = zoom.left() - pixel.right();
    if (comparing) {
        pixel.setLeft(design.left());
        pixel.setRight(frame.right());
        zoom.moveTop(frame.top());
        frame.setRight(zoom.left() - gap);
    }
    lblFrame->setGeometry(frame);
    lblZoom->setGeometry(zoom);
    lblPixel->setGeometry(pixel);
    if (Inspector) Inspector->Place();
    if (Compare) Compare->lblCompare->setGeometry(QRect(pixel.left(), TwipsRect(0, 1740, 0, 255).top(),
                                                        pixel.width(), pixel.height()));
}

void frmMain::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    PlaceToWindow();
}

void frmMain::SetTabOrder() {
    QWidget* const chain[] = {cmdLoad, picDisp, TimeLine, Combo1, cmdStop, cmdPlay, cmdClear, chkCatch};
    for (std::size_t i = 0; i + 1 < std::size(chain); ++i) setTabOrder(chain[i], chain[i + 1]);
    cmdLoad->setFocus();
}

void frmMain::ConnectEvents() {
    connect(cmdLoad, &QPushButton::clicked, this, [this] { cmdLoad_Click(); });
    // activated comes from the user's choice only, so the index that
    // cmdLoad_Click sets does not run Combo1_Click a second time.
    connect(Combo1, &QComboBox::activated, this, [this] { Combo1_Click(); });
    connect(cmdClear, &QPushButton::clicked, this, [this] { cmdClear_Click(); });
    connect(TimeLine, &QScrollBar::valueChanged, this, [this] { TimeLine_Change(); });
    connect(cmdPlay, &QPushButton::clicked, this, [this] { cmdPlay_Click(); });
    connect(cmdStop, &QPushButton::clicked, this, [this] { cmdStop_Click(); });
    picDisp->PointerChanged = [this] { UpdatePixelLabel(); };
    picView->RoomChanged = [this] {
        if (zoomFit_) ZoomFit();
    };
    picDisp->ZoomWheel = [this](int notches) { notches > 0 ? ZoomIn() : ZoomOut(); };
}

void frmMain::Form_Load() { AVIFileInit(); }

void frmMain::cmdLoad_Click() {
    QStringList patterns;
    for (const std::string& extension : AVIFileExtensions())
        patterns << QStringLiteral("*.") + QString::fromStdString(extension);
    CDLoad.FileName.clear();
    CDLoad.Filter = QStringLiteral("Avi|*.avi|Video files|%1|All files|*").arg(patterns.join(QLatin1Char(';')));
    CDLoad.DialogTitle = QStringLiteral("Load AVI File");
    CDLoad.ShowOpen(this);
    if (CDLoad.FileName.isEmpty()) return;
    LoadFile(CDLoad.FileName);
}

bool frmMain::LoadFile(const QString& path) {
    if (unloaded_) return false;
    if (loading_) {
        QMetaObject::invokeMethod(this, [this, path] { LoadFile(path); }, Qt::QueuedConnection);
        return false;
    }
    ++AVICount;
    // After a failed load the spare entry is already there and is reused.
    AVIList.resize(static_cast<std::size_t>(AVICount));
    const auto index = static_cast<std::size_t>(AVICount - 1);
    const auto clip = std::make_shared<cAVI>();
    AVIList[index] = clip;
    bool opened = false;
    {
        const QScopedValueRollback<bool> busy(loading_, true);
        const LoadProgress progress(ShowProgress, path, this, ProgressAfterMs);
        opened = clip->LoadAVI(QFile::encodeName(path).toStdString());
    }
    // A window unloaded meanwhile (its progress handles events) takes no clip.
    if (!opened || unloaded_) {
        AVIList[index].reset();
        --AVICount;
        return false;
    }
    Combo1->setEnabled(true);
    cmdPlay->setEnabled(true);
    cmdStop->setEnabled(true);
    // The full path rides along for proposing where a frame is saved.
    Combo1->addItem(QFileInfo(path).fileName(), path);
    Combo1->setCurrentIndex(Combo1->count() - 1);
    Combo1_Click();
    TimeLine->setFocus();
    return true;
}

void frmMain::Combo1_Click() {
    CurrentAVI = Combo1->currentIndex();
    // Held here: a nested handler may replace entries while the bar's changes draw.
    const std::shared_ptr<cAVI> clip = AVIList.at(static_cast<std::size_t>(CurrentAVI));
    if (!clip) return;  // unloaded
    // A clip chosen during playback plays at its own interval.
    if (IsPlaying) newRun_ = true;
    SetTimeLineRange(*clip);
    SetZoomPower(StartZoomPower);
    Inspector->ClipChanged();
    Compare->ClipChanged();
    SizePicDisp(*clip);
    picView->ScrollHome();
    ShowFrame();
    UpdateMemLabel();
}

void frmMain::SetTimeLineRange(const cAVI& clip) {
    // The full 32-bit frame range. A clip without frames ends one below its
    // first frame; the bar then rests on that first frame.
    const std::int32_t first = clip.GetFirstFrame();
    const std::int32_t last = std::max(first, clip.GetLastFrame());
    TimeLine->setPageStep(PageStepFor(clip.GetFPS()));
    TimeLine->setMinimum(first);
    TimeLine->setMaximum(last);
    TimeLine->setValue(first);
}

// In the frame's own pixels: the picture box shows them one to one on the
// screen's device pixels, whatever its scale.
void frmMain::SizePicDisp(const cAVI& clip) { picDisp->SetSize(clip.GetWidth(), clip.GetHeight()); }

void frmMain::cmdClear_Click() {
    for (std::int32_t i = 0; i < AVICount; ++i)
        if (const auto& clip = AVIList[static_cast<std::size_t>(i)]) clip->ClearCatch();
    UpdateMemLabel();
}

void frmMain::Form_Unload() {
    if (unloaded_) return;
    unloaded_ = true;
    if (Compare) Compare->Stop();
    // First, so that a running playback loop stops before it meets a closed clip.
    IsPlaying = 0;
    for (std::int32_t i = 0; i < AVICount; ++i) {
        auto& clip = AVIList[static_cast<std::size_t>(i)];
        if (clip) clip->CloseAVI();
        clip.reset();
    }
    AVIFileExit();
}

void frmMain::TimeLine_Change() {
    ShowFrame();
    UpdateMemLabel();
}

void frmMain::ShowFrame() {
    const std::int32_t frame = TimeLine->value();
    const std::shared_ptr<cAVI> clip = CurrentClip();
    if (!clip) return;  // after unloading
    const bool useCatch = chkCatch->checkState() != Qt::Unchecked;
    if (!Compare || !Compare->ShowFrame(frame, useCatch)) clip->DrawFrame(frame, *picDisp, useCatch);
    UpdateFrameLabel();
    UpdatePixelLabel();
    Inspector->FrameChanged();
}

void frmMain::UpdateMemLabel() {
    std::int64_t total = 0;
    for (std::int32_t i = 0; i < AVICount; ++i)
        if (const auto& clip = AVIList[static_cast<std::size_t>(i)]) total += clip->GetCatchSize();
    lblMem->setText(QStringLiteral("Memory used: ") + FormatBytes(total, 1));
}

QString frmMain::FormatBytes(std::int64_t bytes, std::int32_t places) {
    static const char* const kUnits[] = {" bytes", " KB", " MB", " GB", " TB", " PB", " EB"};
    double x = static_cast<double>(bytes);
    std::size_t unit = 0;
    // The unit is chosen before rounding: 1048535 bytes read "1024 KB".
    while (x > 1024.0 && unit + 1 < std::size(kUnits)) {
        x /= 1024.0;
        ++unit;
    }
    const double scale = std::pow(10.0, places);
    const double rounded = std::nearbyint(x * scale) / scale;  // the default mode rounds halves to even
    QLocale locale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    return locale.toString(rounded, 'f', QLocale::FloatingPointShortest) + QLatin1String(kUnits[unit]);
}

float frmMain::PicDispWidth() const { return static_cast<float>(picDisp->width()) * twipsPerPixelX_; }

float frmMain::PicDispHeight() const { return static_cast<float>(picDisp->height()) * twipsPerPixelY_; }

int frmMain::PixelsX(double twips) const { return static_cast<int>(std::nearbyint(twips / twipsPerPixelX_)); }

int frmMain::PixelsY(double twips) const { return static_cast<int>(std::nearbyint(twips / twipsPerPixelY_)); }

QRect frmMain::TwipsRect(int left, int top, int width, int height) const {
    return {PixelsX(left), PixelsY(top), PixelsX(width), PixelsY(height)};
}

void frmMain::closeEvent(QCloseEvent* event) {
    Form_Unload();
    event->accept();
}

void frmMain::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls() && !FilesIn(event->mimeData()->urls()).isEmpty())
        event->acceptProposedAction();
}

void frmMain::dropEvent(QDropEvent* event) {
    const QStringList files = FilesIn(event->mimeData()->urls());
    if (files.isEmpty()) return;
    event->acceptProposedAction();
    // Loaded after the drop has finished, so that a message box about a file
    // does not keep the dragging application waiting.
    QMetaObject::invokeMethod(
        this,
        [this, files] {
            for (const QString& file : files) LoadFile(file);
        },
        Qt::QueuedConnection);
}

QStringList FilesIn(const QList<QUrl>& urls) {
    QStringList files;
    for (const QUrl& url : urls) {
        if (!url.isLocalFile()) continue;
        // Any container is tried; what is not a video gets the usual message.
        const QFileInfo info(url.toLocalFile());
        if (!info.isDir()) files << info.absoluteFilePath();
    }
    return files;
}
