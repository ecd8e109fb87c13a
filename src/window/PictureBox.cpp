#include "PictureBox.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPalette>
#include <QWheelEvent>

namespace {

constexpr int kWheelNotch = 120;  // eighths of a degree per notch

// Image pixels per shown pixel along an axis, and how many shown pixels an
// image of `length` pixels needs (a partial block at the end still shows).
int Reduction(int power) { return power < 0 ? 1 << -power : 1; }
int Magnification(int power) { return power > 0 ? 1 << power : 1; }
int ShownLength(int length, int power) { return (length + Reduction(power) - 1) / Reduction(power); }

}  // namespace

PictureBox::PictureBox(QWidget* parent) : QWidget(parent) {
    // The system's window colours: those of a text window's face (Base),
    // not the grey of the form around it.
    setBackgroundRole(QPalette::Base);
    setForegroundRole(QPalette::Text);
    const QColor back = palette().color(QPalette::Base);
    image_.SetBackground(static_cast<std::uint8_t>(back.blue()), static_cast<std::uint8_t>(back.green()),
                         static_cast<std::uint8_t>(back.red()));
    // The image is opaque and covers the whole widget.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true);
    image_.SetChangedCallback([this] {
        shownStale_ = true;
        update();
    });
}

void PictureBox::SetSize(int width, int height) {
    image_.Resize(width, height);
    shownStale_ = true;
    FitWidget();
}

void PictureBox::SetZoomPower(int power) {
    power = std::clamp(power, kLeastZoomPower, kMostZoomPower);
    // Each reduction needs its own shown image.
    if (std::min(power, 0) != std::min(power_, 0)) shownStale_ = true;
    power_ = power;
    FitWidget();
}

double PictureBox::Zoom() const { return std::ldexp(1.0, power_); }

QSize PictureBox::DeviceSizeAt(int power) const {
    return QSize(ShownLength(image_.Width(), power), ShownLength(image_.Height(), power)) * Magnification(power);
}

void PictureBox::FitWidget() {
    // Whole logical pixels that hold every device pixel of the zoomed image;
    // a fractional scale may leave a sliver of background at the far edges.
    const QSize device = DeviceSizeAt(power_);
    const double perDevice = 1.0 / devicePixelRatioF();
    resize(static_cast<int>(std::ceil(device.width() * perDevice - 1e-9)),
           static_cast<int>(std::ceil(device.height() * perDevice - 1e-9)));
    update();
}

std::optional<QPoint> PictureBox::PointedPixel() const {
    if (!pointer_) return std::nullopt;
    // Device pixels first, so the answer is exact at a fractional scale.
    const double perDevice = devicePixelRatioF();
    const auto image = [this, perDevice](double logical) {
        const int device = static_cast<int>(std::floor(logical * perDevice + 1e-6));
        return device / Magnification(power_) * Reduction(power_);
    };
    const QPoint pixel(image(pointer_->x()), image(pointer_->y()));
    if (pointer_->x() < 0 || pointer_->y() < 0 || pixel.x() >= image_.Width() || pixel.y() >= image_.Height())
        return std::nullopt;
    return pixel;
}

void PictureBox::ShiftPointer(QPoint offset) {
    if (pointer_) SetPointer(*pointer_ + QPointF(offset));
}

bool PictureBox::event(QEvent* event) {
    // Another screen may have another scale.
    if (event->type() == QEvent::ScreenChangeInternal) FitWidget();
    return QWidget::event(event);
}

const QImage& PictureBox::Shown() {
    if (!shownStale_) return shown_;
    shownStale_ = false;
    if (image_.Width() <= 0 || image_.Height() <= 0) {
        shown_ = QImage();
        return shown_;
    }
    const QImage view(image_.Data(), image_.Width(), image_.Height(), image_.Stride(), QImage::Format_BGR888);
    QImage converted = view.convertToFormat(QImage::Format_RGB32);
    // A shared frame lies in memory bottom row first.
    if (image_.BottomUp()) converted = std::move(converted).mirrored(false, true);
    if (power_ < 0)
        converted = converted.scaled(ShownLength(image_.Width(), power_), ShownLength(image_.Height(), power_),
                                     Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    shown_ = std::move(converted);
    return shown_;
}

void PictureBox::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    painter.setClipRect(event->rect());
    const double dpr = devicePixelRatioF();
    const QSize device = DeviceSizeAt(power_);
    const QRegion uncovered = QRegion(rect()) - QRegion(0, 0, static_cast<int>(device.width() / dpr),
                                                         static_cast<int>(device.height() / dpr));
    for (const QRect& part : uncovered) painter.fillRect(part, palette().color(QPalette::Base));
    if (image_.Width() <= 0 || image_.Height() <= 0) return;
    if (power_ <= 0) {
        // One shown pixel to one device pixel, whatever the screen's scale.
        QImage view = Shown();
        view.setDevicePixelRatio(dpr);
        painter.drawImage(QPointF(0, 0), view);
        return;
    }
    // Enlarged straight from the image's rows, each pixel to 2^power x 2^power
    // device pixels: only the part being painted is scaled.
    QImage view(image_.Data(), image_.Width(), image_.Height(), image_.Stride(), QImage::Format_BGR888);
    view.setDevicePixelRatio(dpr / Magnification(power_));
    if (image_.BottomUp()) {
        // A shared frame lies in memory bottom row first: paint it flipped.
        painter.translate(0, device.height() / dpr);
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
    // Without Ctrl the wheel goes on to the view around, which scrolls.
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
