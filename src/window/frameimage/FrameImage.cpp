#include "FrameImage.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <QFile>
#include <QImageWriter>
#include <QSaveFile>
#include <QString>

QImage FrameToImage(const cDIBx& dib) {
    const std::uint8_t* bits = dib.PointerToBits();
    const int width = dib.Width();
    const int height = std::abs(dib.Height());
    if (!bits || dib.BitCount() != 24 || width <= 0 || height <= 0) return {};
    const qsizetype stride = (qsizetype{width} * 3 + 3) & ~qsizetype{3};
    if (stride * height > dib.SizeImage()) return {};
    QImage image(width, height, QImage::Format_BGR888);
    if (image.isNull()) return {};
    const bool bottomUp = dib.Height() > 0;
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* row = bits + (bottomUp ? height - 1 - y : y) * stride;
        std::memcpy(image.scanLine(y), row, static_cast<std::size_t>(width) * 3);
    }
    return image;
}

bool IsPngPath(const std::string& path) {
    return QString::fromStdString(path).endsWith(QLatin1String(".png"), Qt::CaseInsensitive);
}

namespace {

bool WritePng(const cDIBx& dib, const std::string& path, std::string& error) {
    const QImage image = FrameToImage(dib);
    if (image.isNull()) {
        error = "the frame has no 24-bit pixels";
        return false;
    }
    // Written beside the target and renamed over it only when complete.
    QSaveFile file(QFile::decodeName(path.c_str()));
    if (!file.open(QIODevice::WriteOnly)) {
        error = file.errorString().toStdString();
        return false;
    }
    QImageWriter writer(&file, "png");
    if (!writer.write(image)) {
        error = writer.errorString().toStdString();
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        error = file.errorString().toStdString();
        return false;
    }
    return true;
}

}  // namespace

bool WriteFrameFile(const cDIBx& dib, const std::string& path, std::string& error) {
    if (IsPngPath(path)) return WritePng(dib, path, error);
    // The bitmap writer replaces the file whole or leaves it alone, and says
    // why only through errno.
    errno = 0;
    if (dib.WriteToFile(path)) return true;
    error = errno != 0 ? std::strerror(errno) : "the file could not be written";
    return false;
}
