// The main window: loads video files as clips, lists them, shows the frame the
// scroll bar points at, and switches, empties and reports the frame caches.
// Beside the picture it tells which frame is shown and the value of the pixel
// under the pointer; keys go to a frame, save or copy it, and zoom.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include <QString>
#include <QStringList>
#include <QWidget>

#include "CommonDialog.h"
#include "GoToDialog.h"
#include "LoadProgress.h"
#include "PictureBox.h"
#include "PictureView.h"
#include "clip/cAVI.h"

class CompareView;
class FrameInspector;
class QCheckBox;
class QKeySequence;
class QComboBox;
class QLabel;
class QPushButton;
class QScrollBar;

class frmMain : public QWidget {
public:
    explicit frmMain(QWidget* parent = nullptr);
    // Unloads the window if it was never closed, so every clip gets closed.
    ~frmMain() override;

    // The controls, public as a form's controls are, for the program and its tests.
    QPushButton* cmdLoad = nullptr;
    QComboBox* Combo1 = nullptr;
    QPushButton* cmdStop = nullptr;
    QPushButton* cmdPlay = nullptr;
    QPushButton* cmdClear = nullptr;
    QLabel* lblMem = nullptr;
    QCheckBox* chkCatch = nullptr;
    QScrollBar* TimeLine = nullptr;
    PictureBox* picDisp = nullptr;
    // The room for picDisp, which scrolls it; grows with the window.
    PictureView* picView = nullptr;
    CommonDialog CDLoad;
    // Right of "Use Catch": the shown frame, the pixel under the pointer, the zoom.
    QLabel* lblFrame = nullptr;
    QLabel* lblPixel = nullptr;
    QLabel* lblZoom = nullptr;
    CommonDialog CDSave;
    // What asks for a frame to go to (Ctrl+G) and what shows a long load's
    // progress (after ProgressAfterMs); tests replace them.
    GoToPresenter AskGoTo = AskGoToWithDialog;
    LoadProgress::Presenter ShowProgress = LoadProgress::ShowProgressDialog;
    int ProgressAfterMs = 500;
    // The zoom power a chosen clip starts at: 0 (one to one), or the zoom the
    // last run ended with (WindowSettings).
    int StartZoomPower = 0;
    // Key-frame ticks, marks and the frame facts panel.
    std::unique_ptr<FrameInspector> Inspector;
    // "Compare with" another clip: views, metrics and their graph.
    std::unique_ptr<CompareView> Compare;

    void cmdLoad_Click();
    void Combo1_Click();
    void cmdClear_Click();
    // Clears the playing flag, closes every clip, then ends the AVI file service.
    // Runs once; later calls do nothing.
    void Form_Unload();
    void TimeLine_Change();
    // Plays the current clip until the playing flag is cleared; returns only
    // then. Ignored while playing.
    void cmdPlay_Click();
    // Clears the playing flag; a running loop ends at its next pass.
    void cmdStop_Click();

    // Adds the file as a clip exactly as if it had been chosen in the dialog;
    // `path` is the full path. Returns whether the clip opened. Does nothing
    // once the window has unloaded; a load asked for while another runs (from
    // the events handled during its progress) follows when that one ends.
    bool LoadFile(const QString& path);

    // "1.2 KB": the count in the largest unit it exceeds, rounded to `places`
    // decimals (halves to even) in the user's locale.
    static QString FormatBytes(std::int64_t bytes, std::int32_t places);

    float TwipsPerPixelX() const { return twipsPerPixelX_; }
    float TwipsPerPixelY() const { return twipsPerPixelY_; }
    // picDisp's size in the window's unit, twips.
    float PicDispWidth() const;
    float PicDispHeight() const;
    // The clips in list order; an entry is empty after a failed load (the
    // spare entry) and after unloading.
    const std::vector<std::shared_ptr<cAVI>>& Clips() const { return AVIList; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    friend class CompareView;
    void Form_Load();
    void CreateControls();
    void CreateTimeLine();
    void PlaceControls();
    void PlaceToWindow();
    void SetTabOrder();
    void ConnectEvents();
    void CreateReadout();
    void CreateShortcuts();
    void AddShortcut(const QList<QKeySequence>& keys, void (frmMain::*command)());
    void ShowFrame();
    void UpdateMemLabel();
    void UpdateFrameLabel();
    void UpdatePixelLabel();
    // The keyboard's commands; each does nothing without a clip.
    void GoToFrame();
    void ToFirstFrame();
    void ToLastFrame();
    void PlayOrStop();
    void SaveFrame();
    void CopyFrame();
    void ZoomIn();
    void ZoomOut();
    void ZoomActual();
    void ZoomFit();
    // Leaves Fit, which follows the room, for a fixed zoom.
    void SetZoomPower(int power);
    void ShowZoom();
    // The shown frame as a bitmap, or false after telling the user why not.
    bool ReadShownFrame(cDIBx& dib);
    void PlayLoop();
    void AdvanceTimeLine();
    void ShowPlaybackRate(double seconds);
    std::shared_ptr<cAVI> CurrentClip() const;
    void SetTimeLineRange(const cAVI& clip);
    void SizePicDisp(const cAVI& clip);
    int PixelsX(double twips) const;
    int PixelsY(double twips) const;
    QRect TwipsRect(int left, int top, int width, int height) const;

    std::vector<std::shared_ptr<cAVI>> AVIList;
    std::int32_t AVICount = 0;
    std::int32_t CurrentAVI = 0;
    std::int16_t IsPlaying = 0;

    float twipsPerPixelX_ = 15.0f;
    float twipsPerPixelY_ = 15.0f;
    bool unloaded_ = false;
    bool loading_ = false;
    // Fit chooses the zoom again whenever the room changes.
    bool zoomFit_ = false;
    // Set when another clip becomes current during playback: the loop then
    // starts a new run at that clip's interval.
    bool newRun_ = false;
};

// The files among dropped URLs, as local paths in their order; folders are
// never clips.
QStringList FilesIn(const QList<QUrl>& urls);
