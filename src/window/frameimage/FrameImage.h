// A bitmap as a Qt image, and a bitmap written as a frame file: BMP through the
// bitmap class's own writer, PNG through Qt.
#pragma once

#include <string>

#include <QImage>

#include "bitmap/cDIBx.h"

// A top-down copy of a 24-bit bitmap's pixels; a null image for any other
// bitmap, or one without pixels.
QImage FrameToImage(const cDIBx& dib);

// Whether `path` names a PNG file (by its extension, in any case); every other
// name is written as BMP.
bool IsPngPath(const std::string& path);

// Writes the bitmap to `path` as PNG or BMP (see IsPngPath). The file appears
// whole or not at all. On failure returns false with the writer's reason in
// `error`.
bool WriteFrameFile(const cDIBx& dib, const std::string& path, std::string& error);
