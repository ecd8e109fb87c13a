// The picture box: a borderless widget that is a display surface. Drawing
// writes its persistent image; the widget shows that image whenever it paints.
#pragma once

#include <QWidget>

#include "platform/Display.h"

class PictureBox : public QWidget, public DisplaySurface {
public:
    explicit PictureBox(QWidget* parent = nullptr);

    HBITMAP ImageHandle() override { return &image_; }
    const PersistentImage& Image() const { return image_; }

    // Sizes the widget and its image together, so that a frame drawn right
    // after a resize lands in an image of the new size even while hidden.
    void SetSize(int width, int height);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    PersistentImage image_;
};
