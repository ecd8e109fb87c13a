// The picture box: a borderless widget that is a display surface. Drawing
// writes its persistent image; the widget shows that image whenever it paints.
// At zoom power p >= 0 one image pixel covers 2^p x 2^p device pixels at any
// screen scale; at p < 0 each device pixel shows the average of a 2^-p x 2^-p
// block of image pixels.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include <QImage>
#include <QPoint>
#include <QWidget>

#include "platform/Display.h"

class PictureBox : public QWidget, public DisplaySurface {
public:
    static constexpr int kLeastZoomPower = -5;
    static constexpr int kMostZoomPower = 3;

    explicit PictureBox(QWidget* parent = nullptr);

    HBITMAP ImageHandle() override { return &image_; }
    const PersistentImage& Image() const { return image_; }

    // Sizes the image to `width` x `height` pixels and the widget to cover it,
    // so that a frame drawn right after a resize lands in an image of the new
    // size even while hidden. The top left corner stays.
    void SetSize(int width, int height);
    // Clamped to kLeastZoomPower..kMostZoomPower; the widget covers the result.
    void SetZoomPower(int power);
    int ZoomPower() const { return power_; }
    // Device pixels per image pixel along each axis: 2^ZoomPower().
    double Zoom() const;
    // The widget's size in device pixels at `power`, for judging what fits.
    QSize DeviceSizeAt(int power) const;
    // The image pixel under the pointer, while the pointer is over the image.
    std::optional<QPoint> PointedPixel() const;
    // The widget moved by -offset under a pointer that stayed where it was
    // (the picture scrolled): the pointer now lies `offset` further in.
    void ShiftPointer(QPoint offset);

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
    // Covers the zoomed image in whole logical pixels.
    void FitWidget();
    void SetPointer(std::optional<QPointF> pointer);
    // The image reduced for a negative power: top row first, 32-bit, each
    // pixel the rounded mean of its block. Made again only after the image or
    // the power changed, so that scrolling only copies pixels.
    const QImage& Reduced();
    // Device pixels `part` of the image at a power >= 0 (within the device
    // size) as a 32-bit picture, in a buffer reused from paint to paint:
    // valid until the next call.
    QImage DevicePart(const QRect& part);

    PersistentImage image_;
    int power_ = 0;
    QImage reduced_;
    bool reducedStale_ = true;
    std::vector<std::uint32_t> partBuffer_;
    std::optional<QPointF> pointer_;
    int wheelAngle_ = 0;
};
