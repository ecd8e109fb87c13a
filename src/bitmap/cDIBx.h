// One device-independent bitmap in memory: pixel block, information block,
// and the information and file headers as records.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/Display.h"
#include "platform/WinTypes.h"

class cDIBx {
public:
    // Bytes of the pixel block (biSizeImage of the last successful fill); 0
    // when the object holds no bitmap.
    std::int32_t MemUsed() const;
    // Draws the pixels into the picture box's persistent image; draws nothing
    // when the object holds no bitmap.
    void DrawOnPicBox(DisplaySurface& picBox) const;
    // Fills the object from a BMP file. Shows a message and returns false for a
    // missing, locked or unsupported file.
    bool CreateFromFile(const std::string& Filename);
    // Copies a packed bitmap (40-byte header, then biSizeImage pixel bytes).
    // Refuses a null address, fewer than 16 bits per pixel and biSizeImage < 1.
    bool CreateFromPackedDIBPointer(const void* const& pDIB);
    // The same import for a packed bitmap held in a shared block that is never
    // written again: the pixels are shared instead of copied.
    bool CreateFromSharedPackedDIB(std::shared_ptr<const std::uint8_t[]> packed);
    // Writes the bitmap as a BMP file, replacing any file of that name whole
    // and at once (a reader sees the old file or the new one, never a part).
    // A symbolic link stays: its target is replaced. Returns false when the
    // file cannot be written.
    bool WriteToFile(const std::string& Filename) const;

    std::int32_t BitCount() const { return InfoHeader.biBitCount; }
    std::int32_t Height() const { return InfoHeader.biHeight; }
    std::int32_t Width() const { return InfoHeader.biWidth; }
    std::int32_t Compression() const { return InfoHeader.biCompression; }
    std::int32_t SizeInfoHeader() const { return InfoHeader.biSize; }
    std::int32_t SizeImage() const { return InfoHeader.biSizeImage; }
    std::int32_t Planes() const { return InfoHeader.biPlanes; }
    std::int32_t ClrImportant() const { return InfoHeader.biClrImportant; }
    std::int32_t ClrUsed() const { return InfoHeader.biClrUsed; }
    std::int32_t XPPM() const { return InfoHeader.biXPelsPerMeter; }
    std::int32_t YPPM() const { return InfoHeader.biYPelsPerMeter; }
    std::int32_t FileType() const { return FileHeader.bfType; }
    std::int32_t SizeFileHeader() const { return FileHeader.bfSize; }
    std::int32_t BitOffset() const { return FileHeader.bfOffBits; }
    // Null / 0 when the block is absent.
    const std::uint8_t* PointerToBits() const { return Bits.get(); }
    const std::uint8_t* PointerToBitmapInfo() const { return BitmapInfo.get(); }
    std::int32_t SizeBitmapInfo() const { return BitmapInfo ? BitmapInfoBytes : 0; }

private:
    static bool FileExists(const std::string& Filename);
    bool TakePackedHeader(const std::uint8_t* packed);
    // The steps of CreateFromFile after the open; each shows its own message.
    bool ReadFromOpenFile(int fd, const std::string& Filename);
    bool ReadBlocks(int fd, std::int32_t infoBytes, std::int32_t pixelBytes, const std::string& Filename);

    // Blocks are replaced whole by a fill, never written in place, so sharing
    // them (copies of the object) is safe.
    std::shared_ptr<const std::uint8_t[]> Bits;
    std::shared_ptr<std::uint8_t[]> BitmapInfo;
    BITMAPINFOHEADER InfoHeader;
    BITMAPFILEHEADER FileHeader;
    std::int32_t BitsBytes = 0;
    std::int32_t BitmapInfoBytes = 0;
};
