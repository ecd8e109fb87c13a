#include "PictureBox.h"

#include <QImage>
#include <QPaintEvent>
#include <QPainter>
#include <QPalette>

PictureBox::PictureBox(QWidget* parent) : QWidget(parent) {
    const QColor back = palette().color(QPalette::Window);
    image_.SetBackground(static_cast<std::uint8_t>(back.blue()), static_cast<std::uint8_t>(back.green()),
                         static_cast<std::uint8_t>(back.red()));
    // The image is opaque and covers the whole widget.
    setAttribute(Qt::WA_OpaquePaintEvent);
    image_.SetChangedCallback([this] { update(); });
}

void PictureBox::SetSize(int width, int height) {
    resize(width, height);
    image_.Resize(width, height);
    update();
}

void PictureBox::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    painter.setClipRect(event->rect());
    if (image_.Width() > 0 && image_.Height() > 0) {
        const QImage view(image_.Data(), image_.Width(), image_.Height(), image_.Stride(),
                          QImage::Format_BGR888);
        if (image_.BottomUp()) {
            // A shared frame lies in memory bottom row first: paint it flipped.
            painter.translate(0, image_.Height());
            painter.scale(1, -1);
        }
        painter.drawImage(0, 0, view);
        painter.resetTransform();
    }
    // Empty unless the widget was resized other than through SetSize.
    const QRegion uncovered = QRegion(rect()) - QRegion(0, 0, image_.Width(), image_.Height());
    for (const QRect& part : uncovered) painter.fillRect(part, palette().color(QPalette::Window));
}
