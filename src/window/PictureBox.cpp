#include "PictureBox.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>
#include <vector>

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

// 0xFFRRGGBB (QImage::Format_RGB32) from pixels stored blue, green, red.
void ConvertRow(const std::uint8_t* bgr, std::uint32_t* out, int pixels) {
    for (int x = 0; x < pixels; ++x, bgr += 3)
        out[x] = 0xFF000000u | (std::uint32_t{bgr[2]} << 16) | (std::uint32_t{bgr[1]} << 8) | bgr[0];
}

// Device pixels [left, left + pixels) of a row enlarged 2^shift times.
void ConvertRowEnlarged(const std::uint8_t* bgr, int left, int shift, std::uint32_t* out, int pixels) {
    for (int x = 0; x < pixels; ++x) {
        const std::uint8_t* pixel = bgr + static_cast<std::size_t>((left + x) >> shift) * 3;
        out[x] = 0xFF000000u | (std::uint32_t{pixel[2]} << 16) | (std::uint32_t{pixel[1]} << 8) | pixel[0];
    }
}

// Adds a row's bytes to the column sums: each channel of each pixel sums
// apart, so the loop runs over plain bytes, 16 at a time.
void AddRow(const std::uint8_t* bytes, int count, std::uint16_t* sums) {
    using Bytes = std::uint8_t __attribute__((vector_size(16)));
    using Sums = std::uint16_t __attribute__((vector_size(32)));
    int i = 0;
    for (; i + 16 <= count; i += 16) {
        Bytes row;
        Sums sum;
        std::memcpy(&row, bytes + i, sizeof row);
        std::memcpy(&sum, sums + i, sizeof sum);
        sum += __builtin_convertvector(row, Sums);
        std::memcpy(sums + i, &sum, sizeof sum);
    }
    for (; i < count; ++i) sums[i] = static_cast<std::uint16_t>(sums[i] + bytes[i]);
}

// Each pixel of the result is the mean of a block of 2^-power x 2^-power
// image pixels, rounded to the nearest; the blocks at the right and bottom
// edges average the pixels they have.
QImage ReduceImage(const PersistentImage& image, int power) {
    const int shift = -power, block = 1 << shift;
    const int width = ShownLength(image.Width(), power), height = ShownLength(image.Height(), power);
    const int rowBytes = image.Width() * 3;
    QImage reduced(width, height, QImage::Format_RGB32);
    // A column of a block sums at most 2^5 rows of 255: 16 bits hold it.
    static_assert((255 << -PictureBox::kLeastZoomPower) <= 0xFFFF);
    std::vector<std::uint16_t> columnSums(static_cast<std::size_t>(rowBytes));
    for (int shownY = 0; shownY < height; ++shownY) {
        std::fill(columnSums.begin(), columnSums.end(), std::uint16_t{0});
        const int top = shownY << shift, rows = std::min(block, image.Height() - top);
        for (int y = top; y < top + rows; ++y) AddRow(image.Row(y), rowBytes, columnSums.data());
        auto* out = reinterpret_cast<std::uint32_t*>(reduced.scanLine(shownY));
        for (int shownX = 0; shownX < width; ++shownX) {
            const int left = shownX << shift, columns = std::min(block, image.Width() - left);
            std::uint32_t sum[3] = {};
            const std::uint16_t* column = &columnSums[static_cast<std::size_t>(left) * 3];
            for (int x = 0; x < columns; ++x, column += 3) {
                sum[0] += column[0];
                sum[1] += column[1];
                sum[2] += column[2];
            }
            const auto count = static_cast<std::uint32_t>(rows * columns);
            const auto mean = [&](int channel) { return (sum[channel] + count / 2) / count; };
            out[shownX] = 0xFF000000u | (mean(2) << 16) | (mean(1) << 8) | mean(0);
        }
    }
    return reduced;
}

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
        reducedStale_ = true;
        update();
    });
}

void PictureBox::SetSize(int width, int height) {
    image_.Resize(width, height);
    reducedStale_ = true;
    FitWidget();
}

void PictureBox::SetZoomPower(int power) {
    power = std::clamp(power, kLeastZoomPower, kMostZoomPower);
    // Each reduction needs its own shown image.
    if (std::min(power, 0) != std::min(power_, 0)) reducedStale_ = true;
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

const QImage& PictureBox::Reduced() {
    if (!reducedStale_) return reduced_;
    reducedStale_ = false;
    reduced_ = ReduceImage(image_, power_);
    return reduced_;
}

QImage PictureBox::DevicePart(const QRect& part) {
    partBuffer_.resize(static_cast<std::size_t>(part.width()) * static_cast<std::size_t>(part.height()));
    const PersistentImage& image = image_;  // reading a shared frame keeps it shared
    const int shift = std::max(power_, 0);
    for (int y = 0; y < part.height(); ++y) {
        const std::uint8_t* row = image.Row((part.top() + y) >> shift);
        std::uint32_t* out = partBuffer_.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(part.width());
        if (shift == 0)
            ConvertRow(row + static_cast<std::size_t>(part.left()) * 3, out, part.width());
        else
            ConvertRowEnlarged(row, part.left(), shift, out, part.width());
    }
    return QImage(reinterpret_cast<uchar*>(partBuffer_.data()), part.width(), part.height(),
                  static_cast<qsizetype>(part.width()) * 4, QImage::Format_RGB32);
}

// Only the exposed part is painted, and only the image pixels under it are
// read: a frame of any size costs what the room shows of it.
void PictureBox::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    const QRect exposed = event->rect();
    painter.setClipRect(exposed);
    const double dpr = devicePixelRatioF();
    const QSize device = DeviceSizeAt(power_);
    const QRegion uncovered = QRegion(rect()) - QRegion(0, 0, static_cast<int>(device.width() / dpr),
                                                         static_cast<int>(device.height() / dpr));
    for (const QRect& part : uncovered) painter.fillRect(part, palette().color(QPalette::Base));
    if (image_.Width() <= 0 || image_.Height() <= 0) return;
    if (power_ < 0) {
        // One reduced pixel to one device pixel; the clip limits the copy.
        Reduced();
        reduced_.setDevicePixelRatio(dpr);
        painter.drawImage(QPointF(0, 0), reduced_);
        return;
    }
    // The exposed device pixels, rounded outwards, made one to one.
    const QPoint topLeft(static_cast<int>(std::floor(exposed.left() * dpr)),
                         static_cast<int>(std::floor(exposed.top() * dpr)));
    const QPoint end(static_cast<int>(std::ceil((exposed.right() + 1) * dpr)),
                     static_cast<int>(std::ceil((exposed.bottom() + 1) * dpr)));
    const QRect part = QRect(topLeft, end - QPoint(1, 1)) & QRect(QPoint(), device);
    if (part.isEmpty()) return;
    QImage view = DevicePart(part);
    view.setDevicePixelRatio(dpr);
    painter.drawImage(QPointF(part.left() / dpr, part.top() / dpr), view);
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
