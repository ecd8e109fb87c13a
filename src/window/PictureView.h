// The room the window gives the picture: shows the picture box at its top
// left, one to one, and scrolls it when it is larger than the room, with the
// scroll bars, the wheel, the arrow and page keys, or by dragging the picture.
// Scrolling only moves what the picture box already holds.
#pragma once

#include <functional>

#include <QPoint>
#include <QScrollArea>

#include "PictureBox.h"

class PictureView : public QScrollArea {
public:
    PictureView(PictureBox* picture, QWidget* parent);

    // The largest power-of-two reduction (zoom power 0 down to the box's
    // least) at which the whole picture fits the room without scroll bars;
    // the least one when nothing fits.
    int FitPower() const;
    // Back to the top left corner.
    void ScrollHome();

    // Called after the room changed size.
    std::function<void()> RoomChanged;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    void ShowDraggable();

    PictureBox* picture_;
    // While the left button drags the picture: where it went down, and the
    // scroll position then.
    QPointF dragFrom_;
    QPoint scrollFrom_;
    bool dragging_ = false;
};
