#include "PictureView.h"

#include <QMouseEvent>
#include <QScrollBar>

PictureView::PictureView(PictureBox* picture, QWidget* parent) : QScrollArea(parent), picture_(picture) {
    // No frame, so that the picture stands where the box alone would.
    setFrameShape(QFrame::NoFrame);
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
    setWidgetResizable(false);
    // The keyboard reaches the picture box; the room itself is no tab stop.
    setFocusPolicy(Qt::NoFocus);
    // Around the picture the form's own face shows.
    viewport()->setBackgroundRole(QPalette::Window);
    // Also makes this view the picture's event filter, for dragging.
    setWidget(picture);
}

int PictureView::FitPower() const {
    const QSize room = maximumViewportSize() * devicePixelRatioF();
    int power = 0;
    while (power > PictureBox::kLeastZoomPower) {
        const QSize needed = picture_->DeviceSizeAt(power);
        if (needed.width() <= room.width() && needed.height() <= room.height()) break;
        --power;
    }
    return power;
}

void PictureView::ScrollHome() {
    horizontalScrollBar()->setValue(0);
    verticalScrollBar()->setValue(0);
}

void PictureView::ShowDraggable() {
    // An open hand where dragging moves the picture.
    if (horizontalScrollBar()->maximum() > 0 || verticalScrollBar()->maximum() > 0)
        picture_->setCursor(Qt::OpenHandCursor);
    else
        picture_->unsetCursor();
}

bool PictureView::eventFilter(QObject* watched, QEvent* event) {
    if (watched == picture_) {
        switch (event->type()) {
            case QEvent::MouseButtonPress: {
                auto* mouse = static_cast<QMouseEvent*>(event);
                if (mouse->button() != Qt::LeftButton) break;
                dragging_ = true;
                dragFrom_ = mouse->globalPosition();
                scrollFrom_ = QPoint(horizontalScrollBar()->value(), verticalScrollBar()->value());
                picture_->setCursor(Qt::ClosedHandCursor);
                break;
            }
            case QEvent::MouseMove: {
                auto* mouse = static_cast<QMouseEvent*>(event);
                if (!dragging_ || !(mouse->buttons() & Qt::LeftButton)) break;
                // The picture follows the pointer.
                const QPoint moved = (mouse->globalPosition() - dragFrom_).toPoint();
                horizontalScrollBar()->setValue(scrollFrom_.x() - moved.x());
                verticalScrollBar()->setValue(scrollFrom_.y() - moved.y());
                break;
            }
            case QEvent::MouseButtonRelease:
                if (static_cast<QMouseEvent*>(event)->button() != Qt::LeftButton) break;
                dragging_ = false;
                ShowDraggable();
                break;
            case QEvent::Enter: ShowDraggable(); break;
            default: break;
        }
    }
    return QScrollArea::eventFilter(watched, event);
}

void PictureView::resizeEvent(QResizeEvent* event) {
    QScrollArea::resizeEvent(event);
    if (RoomChanged) RoomChanged();
}

void PictureView::scrollContentsBy(int dx, int dy) {
    QScrollArea::scrollContentsBy(dx, dy);
    // The box moved by (dx, dy) under a pointer that stayed put.
    picture_->ShiftPointer(QPoint(-dx, -dy));
}
