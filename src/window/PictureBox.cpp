#include "PictureBox.h"

#include <cmath>

#include <QImage>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPalette>
#include <QWheelEvent>

namespace {

constexpr int kWheelNotch = 120;  // eighths of a degree per notch

}  // namespace

PictureBox::PictureBox(QWidget* parent) : QWidget(parent) {
    const QColor back = palette().color(QPalette::Window);
    image_.SetBackground(static_cast<std::uint8_t>(back.blue()), static_cast<std::uint8_t>(back.green()),
                         static_cast<std::uint8_t>(back.red()));
    // The image is opaque and covers the whole widget.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true);
    image_.SetChangedCallback([this] { update(); });
}

void PictureBox::SetSize(int width, int height) {
    image_.Resize(width, height);
    FitWidget();
}

void PictureBox::SetZoom(int zoom) {
    zoom_ = std::max(1, zoom);
    FitWidget();
}

void PictureBox::FitWidget() {
    // Whole logical pixels that hold every device pixel of the zoomed image;
    // a fractional scale may leave a sliver of background at the far edges.
    const double perPixel = zoom_ / devicePixelRatioF();
    resize(static_cast<int>(std::ceil(image_.Width() * perPixel - 1e-9)),
           static_cast<int>(std::ceil(image_.Height() * perPixel - 1e-9)));
    update();
}

std::optional<QPoint> PictureBox::PointedPixel() const {
    if (!pointer_) return std::nullopt;
    // Device pixels first, so the answer is exact at a fractional scale.
    const double perDevice = devicePixelRatioF();
    const auto device = [perDevice](double logical) {
        return static_cast<int>(std::floor(logical * perDevice + 1e-6));
    };
    const QPoint pixel(device(pointer_->x()) / zoom_, device(pointer_->y()) / zoom_);
    if (pointer_->x() < 0 || pointer_->y() < 0 || pixel.x() >= image_.Width() || pixel.y() >= image_.Height())
        return std::nullopt;
    return pixel;
}

bool PictureBox::event(QEvent* event) {
    // Another screen may have another scale.
    if (event->type() == QEvent::ScreenChangeInternal) FitWidget();
    return QWidget::event(event);
}

void PictureBox::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    painter.setClipRect(event->rect());
    const double perPixel = zoom_ / devicePixelRatioF();
    const QSizeF covered(image_.Width() * perPixel, image_.Height() * perPixel);
    const QRegion uncovered = QRegion(rect()) - QRegion(0, 0, static_cast<int>(covered.width()),
                                                         static_cast<int>(covered.height()));
    for (const QRect& part : uncovered) painter.fillRect(part, palette().color(QPalette::Window));
    if (image_.Width() <= 0 || image_.Height() <= 0) return;
    QImage view(image_.Data(), image_.Width(), image_.Height(), image_.Stride(), QImage::Format_BGR888);
    // One image pixel to zoom x zoom device pixels, whatever the screen's scale.
    view.setDevicePixelRatio(devicePixelRatioF() / zoom_);
    if (image_.BottomUp()) {
        // A shared frame lies in memory bottom row first: paint it flipped.
        painter.translate(0, covered.height());
        painter.scale(1, -1);
    }
    painter.drawImage(QPointF(0, 0), view);
}

void PictureBox::SetPointer(std::optional<QPointF> pointer) {
    pointer_ = pointer;
    if (PointerChanged) PointerChanged();
}

void PictureBox::mouseMoveEvent(QMouseEvent* event) {
    SetPointer(event->position());
    QWidget::mouseMoveEvent(event);
}

void PictureBox::leaveEvent(QEvent* event) {
    SetPointer(std::nullopt);
    QWidget::leaveEvent(event);
}

void PictureBox::wheelEvent(QWheelEvent* event) {
    if (!(event->modifiers() & Qt::ControlModifier) || !ZoomWheel) {
        event->ignore();
        return;
    }
    // Fine-grained wheels send parts of a notch; whole notches zoom.
    wheelAngle_ += event->angleDelta().y();
    for (; wheelAngle_ >= kWheelNotch; wheelAngle_ -= kWheelNotch) ZoomWheel(+1);
    for (; wheelAngle_ <= -kWheelNotch; wheelAngle_ += kWheelNotch) ZoomWheel(-1);
    event->accept();
}
