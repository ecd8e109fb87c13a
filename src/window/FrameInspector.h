// What the window tells about the frames of a clip beyond the picture: ticks
// under the frame bar at every key frame, keys to the previous and next key
// frame, marks the user sets on frames, and a panel of the shown frame's
// facts (I). Everything comes from the frame table and from what the reader
// has already decoded; nothing here decodes a frame.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <vector>

#include <QString>
#include <QWidget>

class cAVI;
class frmMain;
class QLabel;
class QScrollBar;

// Where the frame bar's thumb centre stands at each frame, read once from
// the bar's style, for strips that place many frames along it.
struct BarScale {
    int left = 0;   // the thumb centre's x at the first frame
    int span = 0;   // pixels it travels to the last
    std::int32_t minimum = 0, maximum = 0;
    bool rightToLeft = false;
    int X(std::int32_t frame) const;
};

// A strip under the frame bar with a tick at each key frame.
class KeyTicks : public QWidget {
public:
    KeyTicks(QScrollBar& bar, QWidget* parent);
    void SetKeys(const std::vector<std::int32_t>* keys);
    // Follows the bar's place and width.
    void Follow();
    // The strip's x of each frame, where the bar's thumb centre stands at it.
    BarScale Scale() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QScrollBar& bar_;
    const std::vector<std::int32_t>* keys_ = nullptr;
};

class FrameInspector {
public:
    explicit FrameInspector(frmMain& window);

    // The window shows another clip (after its bar's range is set).
    void ClipChanged();
    // The window shows another frame.
    void FrameChanged();
    // The ticks follow the frame bar, the panel the picture and its room.
    void Place();

    // The marked frames of the shown clip, in order.
    std::vector<std::int32_t> Marks() const;
    // The key frames of the shown clip, in order (empty without a clip).
    const std::vector<std::int32_t>& KeyFrames() const;
    // The panel's text for the shown frame.
    QString PanelText() const;

    KeyTicks* Ticks = nullptr;
    QLabel* Panel = nullptr;

private:
    // The keys' commands; each does nothing without a clip.
    void PreviousKey();
    void NextKey();
    void ToggleMark();
    void PreviousMark();
    void NextMark();
    void CopyMarks();
    void TogglePanel();
    void Go(std::int32_t frame);
    std::shared_ptr<cAVI> Clip() const;
    void Forget();  // drops what belongs to clips no longer loaded

    frmMain& window_;
    // Per loaded clip: its key frames and its marks.
    std::map<const cAVI*, std::vector<std::int32_t>> keys_;
    std::map<const cAVI*, std::set<std::int32_t>> marks_;
};
