// The picture box: a borderless widget that is a display surface. Drawing
// writes its persistent image; the widget shows that image whenever it paints,
// one image pixel to `Zoom()` x `Zoom()` device pixels at any screen scale.
#pragma once

#include <functional>
#include <optional>

#include <QPoint>
#include <QWidget>

#include "platform/Display.h"

class PictureBox : public QWidget, public DisplaySurface {
public:
    explicit PictureBox(QWidget* parent = nullptr);

    HBITMAP ImageHandle() override { return &image_; }
    const PersistentImage& Image() const { return image_; }

    // Sizes the image to `width` x `height` pixels and the widget to cover it,
    // so that a frame drawn right after a resize lands in an image of the new
    // size even while hidden. The top left corner stays.
    void SetSize(int width, int height);
    // Shows each image pixel as zoom x zoom device pixels, nearest neighbour.
    void SetZoom(int zoom);
    int Zoom() const { return zoom_; }
    // The image pixel under the pointer, while the pointer is over the image.
    std::optional<QPoint> PointedPixel() const;

    // Called when the pointer moves over the picture or leaves it.
    std::function<void()> PointerChanged;
    // Called with +1 or -1 per wheel notch turned with Ctrl held.
    std::function<void(int notches)> ZoomWheel;

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    // Covers the zoomed image in whole device pixels.
    void FitWidget();
    void SetPointer(std::optional<QPointF> pointer);

    PersistentImage image_;
    int zoom_ = 1;
    std::optional<QPointF> pointer_;
    int wheelAngle_ = 0;
};
