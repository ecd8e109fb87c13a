#include "bitmap/cDIBx.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <bit>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <new>
#include <optional>
#include <utility>

#include "platform/Memory.h"
#include "platform/MsgBox.h"

static_assert(std::endian::native == std::endian::little,
              "headers are copied byte for byte from little-endian files and frames");

namespace {

constexpr std::int32_t kInfoHeaderBytes = 40;
constexpr std::int32_t kHeadersBytes = kFileHeaderBytes + kInfoHeaderBytes;
constexpr std::int32_t kBiBitfields = 3;
// Wider or taller bitmaps are refused as hostile; nothing real comes near.
constexpr std::int64_t kMaxBitmapSide = 65536;

const std::string kNotSupported = "File is not a supported bitmap format:\r\n";
const std::string kLocked = "File is locked - cannot access:\r\n";
const std::string kMissing = "File does not exist:\r\n";

using Block = std::shared_ptr<std::uint8_t[]>;

// Every fill overwrites the whole block, so zero-filling would be wasted work
// on the playback path.
Block NewBlock(std::size_t bytes) { return std::make_shared_for_overwrite<std::uint8_t[]>(bytes); }

class FileDescriptor {
public:
    explicit FileDescriptor(int fd = -1) : fd_(fd) {}
    FileDescriptor(FileDescriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    FileDescriptor& operator=(FileDescriptor&& other) noexcept {
        std::swap(fd_, other.fd_);
        return *this;
    }
    ~FileDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    int Get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    // Closes now and reports whether the last writes reached the file.
    bool Close() { return ::close(std::exchange(fd_, -1)) == 0; }

private:
    int fd_;
};

// A file beside the target that becomes the target on Commit, and is removed
// otherwise.
class TempFile {
public:
    explicit TempFile(const std::string& target) {
        static std::atomic<unsigned> counter{0};
        for (int attempt = 0; attempt < 100 && !file_; ++attempt) {
            path_ = target + ".tmp." + std::to_string(::getpid()) + "." + std::to_string(counter++);
            file_ = FileDescriptor(::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
            if (!file_ && errno != EEXIST) break;
        }
        created_ = static_cast<bool>(file_);
        KeepPermissionsOf(target);
    }
    ~TempFile() {
        if (created_ && !committed_) ::unlink(path_.c_str());
    }
    bool IsOpen() const { return static_cast<bool>(file_); }
    int Fd() const { return file_.Get(); }
    bool Commit(const std::string& target) {
        if (::fsync(file_.Get()) != 0 || !file_.Close()) return false;
        committed_ = ::rename(path_.c_str(), target.c_str()) == 0;
        return committed_;
    }

private:
    // A replaced file keeps its permissions; a new one gets the umask's.
    void KeepPermissionsOf(const std::string& target) {
        struct stat status {};
        if (created_ && ::stat(target.c_str(), &status) == 0 && S_ISREG(status.st_mode)) {
            ::fchmod(file_.Get(), status.st_mode & 07777);
        }
    }

    std::string path_;
    FileDescriptor file_;
    bool created_ = false;
    bool committed_ = false;
};

// The file that writing to `path` replaces: a symbolic link is followed to
// its final target, so that the link stays a link and its target gets the new
// bytes. Nothing when the links do not end (a loop, or too many of them).
std::optional<std::string> FinalTarget(const std::string& path) {
    // The kernel's own limit on links followed in one lookup.
    constexpr int kMaxLinks = 40;
    std::filesystem::path file(path);
    std::error_code error;
    for (int links = 0; std::filesystem::is_symlink(file, error); ++links) {
        const std::filesystem::path next = std::filesystem::read_symlink(file, error);
        if (error || links == kMaxLinks) return std::nullopt;
        // A relative target is relative to the link's own folder; the path is
        // not normalised, so `..` resolves as the kernel resolves it.
        file = next.is_absolute() ? next : file.parent_path() / next;
    }
    return file.string();
}

bool WriteFully(int fd, const std::uint8_t* data, std::size_t bytes) {
    while (bytes > 0) {
        const ssize_t written = ::write(fd, data, bytes);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        data += written;
        bytes -= static_cast<std::size_t>(written);
    }
    return true;
}

// 0 when all bytes were read, -1 when the file ended first, else the errno.
int ReadFully(int fd, void* target, std::size_t bytes, std::int64_t offset) {
    auto* data = static_cast<std::uint8_t*>(target);
    while (bytes > 0) {
        const ssize_t got = ::pread(fd, data, bytes, offset);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return errno;
        if (got == 0) return -1;
        data += got;
        offset += got;
        bytes -= static_cast<std::size_t>(got);
    }
    return 0;
}

void PutLittleEndian(std::uint8_t* target, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) target[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::uint32_t GetLittleEndian(const std::uint8_t* source, int bytes) {
    std::uint32_t value = 0;
    for (int i = 0; i < bytes; ++i) value |= std::uint32_t{source[i]} << (8 * i);
    return value;
}

std::array<std::uint8_t, kFileHeaderBytes> SerializeFileHeader(const BITMAPFILEHEADER& header) {
    std::array<std::uint8_t, kFileHeaderBytes> bytes{};
    PutLittleEndian(&bytes[0], static_cast<std::uint16_t>(header.bfType), 2);
    PutLittleEndian(&bytes[2], static_cast<std::uint32_t>(header.bfSize), 4);
    PutLittleEndian(&bytes[6], static_cast<std::uint16_t>(header.bfReserved1), 2);
    PutLittleEndian(&bytes[8], static_cast<std::uint16_t>(header.bfReserved2), 2);
    PutLittleEndian(&bytes[10], static_cast<std::uint32_t>(header.bfOffBits), 4);
    return bytes;
}

BITMAPFILEHEADER ParseFileHeader(const std::uint8_t* bytes) {
    BITMAPFILEHEADER header;
    header.bfType = static_cast<std::int16_t>(GetLittleEndian(&bytes[0], 2));
    header.bfSize = static_cast<std::int32_t>(GetLittleEndian(&bytes[2], 4));
    header.bfReserved1 = static_cast<std::int16_t>(GetLittleEndian(&bytes[6], 2));
    header.bfReserved2 = static_cast<std::int16_t>(GetLittleEndian(&bytes[8], 2));
    header.bfOffBits = static_cast<std::int32_t>(GetLittleEndian(&bytes[10], 4));
    return header;
}

bool DimensionsPlausible(const BITMAPINFOHEADER& info) {
    const std::int64_t height = info.biHeight;
    return info.biWidth > 0 && info.biWidth <= kMaxBitmapSide && height != 0 && height >= -kMaxBitmapSide &&
           height <= kMaxBitmapSide;
}

// Bytes the rows of an uncompressed bitmap need (rows padded to 4 bytes), or
// nothing when the format does not say (compressed, unknown bit count).
std::optional<std::int64_t> UncompressedImageBytes(const BITMAPINFOHEADER& info) {
    if (info.biCompression != BI_RGB && info.biCompression != kBiBitfields) return std::nullopt;
    switch (info.biBitCount) {
        case 1: case 4: case 8: case 16: case 24: case 32: break;
        default: return std::nullopt;
    }
    const std::int64_t height = info.biHeight < 0 ? -std::int64_t{info.biHeight} : info.biHeight;
    const std::int64_t rowBytes = (std::int64_t{info.biWidth} * info.biBitCount + 31) / 32 * 4;
    return rowBytes * height;
}

struct FileLayout {
    std::int32_t infoBytes = 0;
    std::int32_t pixelBytes = 0;
};

// Where the blocks lie, when the headers agree with each other and with a file
// of `fileLength` bytes.
std::optional<FileLayout> CheckLayout(const BITMAPFILEHEADER& fileHeader, const BITMAPINFOHEADER& info,
                                      std::int64_t fileLength) {
    if (fileHeader.bfOffBits < kHeadersBytes || fileHeader.bfOffBits > fileLength) return std::nullopt;
    if (!DimensionsPlausible(info)) return std::nullopt;
    const std::optional<std::int64_t> rowsNeed = UncompressedImageBytes(info);
    std::int64_t pixelBytes = info.biSizeImage;
    if (pixelBytes == 0 && rowsNeed) pixelBytes = *rowsNeed;
    if (pixelBytes < 1 || pixelBytes > INT32_MAX || (rowsNeed && pixelBytes < *rowsNeed)) return std::nullopt;
    if (fileHeader.bfOffBits + pixelBytes > fileLength) return std::nullopt;
    return FileLayout{fileHeader.bfOffBits - kFileHeaderBytes, static_cast<std::int32_t>(pixelBytes)};
}

void ReportOpenError(int error, const std::string& Filename) {
    if (error == EACCES || error == EPERM) {
        MsgBox(kLocked + Filename, MB_ICONERROR);
    } else {
        MsgBox(std::strerror(error), MB_ICONINFORMATION);
    }
}

// Opens for reading and takes a shared lock, so a writer holding an exclusive
// lock makes the file count as locked. Shows the message on failure.
FileDescriptor OpenForReading(const std::string& Filename) {
    FileDescriptor file(::open(Filename.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!file) {
        ReportOpenError(errno, Filename);
        return file;
    }
    if (::flock(file.Get(), LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
        MsgBox(kLocked + Filename, MB_ICONERROR);
        return FileDescriptor();
    }
    return file;
}

bool RefuseFormat(const std::string& Filename) {
    MsgBox(kNotSupported + Filename, MB_ICONINFORMATION);
    return false;
}

// A read that found the file shorter than it was a moment ago counts as a
// malformed file; any other failure is shown as the system describes it.
bool RefuseRead(int error, const std::string& Filename) {
    if (error < 0) return RefuseFormat(Filename);
    MsgBox(std::strerror(error), MB_ICONINFORMATION);
    return false;
}

}  // namespace

std::int32_t cDIBx::MemUsed() const { return Bits ? BitsBytes : 0; }

void cDIBx::DrawOnPicBox(DisplaySurface& picBox) const {
    HDC dc = picBox.hDC();
    HBITMAP image = picBox.ImageHandle();
    if (!Bits) return;
    // A negative height (top-down rows) is handed on as it is; the line count
    // is clipped to the bitmap's rows there.
    SetDIBitsShared(dc, image, Bits, static_cast<std::size_t>(BitsBytes), &InfoHeader);
}

bool cDIBx::CreateFromFile(const std::string& Filename) {
    if (!FileExists(Filename)) {
        MsgBox(kMissing + Filename, MB_ICONERROR);
        return false;
    }
    const FileDescriptor file = OpenForReading(Filename);
    if (!file) return false;
    return ReadFromOpenFile(file.Get(), Filename);
}

bool cDIBx::ReadFromOpenFile(int fd, const std::string& Filename) {
    struct stat status {};
    if (::fstat(fd, &status) != 0) return RefuseRead(errno, Filename);
    if (!S_ISREG(status.st_mode) || status.st_size < kFileHeaderBytes) return RefuseFormat(Filename);

    std::uint8_t fileHeaderBytes[kFileHeaderBytes];
    if (const int error = ReadFully(fd, fileHeaderBytes, kFileHeaderBytes, 0)) return RefuseRead(error, Filename);
    FileHeader = ParseFileHeader(fileHeaderBytes);
    if (FileHeader.bfType != kBitmapFileType || status.st_size < kHeadersBytes) return RefuseFormat(Filename);

    if (const int error = ReadFully(fd, &InfoHeader, kInfoHeaderBytes, kFileHeaderBytes)) {
        return RefuseRead(error, Filename);
    }
    const std::optional<FileLayout> layout = CheckLayout(FileHeader, InfoHeader, status.st_size);
    if (!layout) return RefuseFormat(Filename);
    return ReadBlocks(fd, layout->infoBytes, layout->pixelBytes, Filename);
}

bool cDIBx::ReadBlocks(int fd, std::int32_t infoBytes, std::int32_t pixelBytes, const std::string& Filename) {
    Block bits, info;
    try {
        bits = NewBlock(static_cast<std::size_t>(pixelBytes));
        info = NewBlock(static_cast<std::size_t>(infoBytes));
    } catch (const std::bad_alloc&) {
        return RefuseRead(ENOMEM, Filename);
    }
    if (const int error = ReadFully(fd, bits.get(), pixelBytes, FileHeader.bfOffBits)) {
        return RefuseRead(error, Filename);
    }
    if (const int error = ReadFully(fd, info.get(), infoBytes, kFileHeaderBytes)) {
        return RefuseRead(error, Filename);
    }
    // An uncompressed file may leave biSizeImage 0; the object states the
    // size it holds. BitmapInfo keeps the file's bytes, so a rewrite matches.
    InfoHeader.biSizeImage = pixelBytes;
    Bits = std::move(bits);
    BitsBytes = pixelBytes;
    BitmapInfo = std::move(info);
    BitmapInfoBytes = infoBytes;
    return true;
}

// Takes the packed bitmap's header; true when its pixels can be imported.
bool cDIBx::TakePackedHeader(const std::uint8_t* packed) {
    RtlMoveMemory(&InfoHeader, packed, kInfoHeaderBytes);
    // bfSize must stay a 32-bit value.
    return InfoHeader.biBitCount >= 16 && InfoHeader.biSizeImage >= 1 &&
           InfoHeader.biSizeImage <= INT32_MAX - kHeadersBytes;
}

bool cDIBx::CreateFromSharedPackedDIB(std::shared_ptr<const std::uint8_t[]> packed) {
    if (!packed || !TakePackedHeader(packed.get())) return false;
    Block info;
    try {
        info = NewBlock(kInfoHeaderBytes);
    } catch (const std::bad_alloc&) {
        return false;
    }
    RtlMoveMemory(info.get(), &InfoHeader, kInfoHeaderBytes);
    // The pixels stay where they are: the block is shared, never written.
    const std::uint8_t* pixels = packed.get() + kInfoHeaderBytes;
    Bits = std::shared_ptr<const std::uint8_t[]>(std::move(packed), pixels);
    BitsBytes = InfoHeader.biSizeImage;
    BitmapInfo = std::move(info);
    BitmapInfoBytes = kInfoHeaderBytes;
    FileHeader = BITMAPFILEHEADER{kBitmapFileType, InfoHeader.biSizeImage + kHeadersBytes, 0, 0, kHeadersBytes};
    return true;
}

// Copies the packed bitmap into a block of its own, then takes that block.
bool cDIBx::CreateFromPackedDIBPointer(const void* const& pDIB) {
    if (pDIB == nullptr) return false;
    const auto* packed = static_cast<const std::uint8_t*>(pDIB);
    if (!TakePackedHeader(packed)) return false;
    const std::size_t packedBytes = kInfoHeaderBytes + static_cast<std::size_t>(InfoHeader.biSizeImage);
    Block copy;
    try {
        copy = NewBlock(packedBytes);
    } catch (const std::bad_alloc&) {
        return false;
    }
    RtlMoveMemory(copy.get(), packed, packedBytes);
    return CreateFromSharedPackedDIB(std::move(copy));
}

bool cDIBx::WriteToFile(const std::string& Filename) const {
    const std::optional<std::string> target = FinalTarget(Filename);
    if (!target) return false;
    TempFile temp(*target);
    if (!temp.IsOpen()) return false;
    const auto fileHeader = SerializeFileHeader(FileHeader);
    const bool written =
        WriteFully(temp.Fd(), fileHeader.data(), fileHeader.size()) &&
        (!BitmapInfo || WriteFully(temp.Fd(), BitmapInfo.get(), static_cast<std::size_t>(BitmapInfoBytes))) &&
        (!Bits || WriteFully(temp.Fd(), Bits.get(), static_cast<std::size_t>(BitsBytes)));
    return written && temp.Commit(*target);
}

bool cDIBx::FileExists(const std::string& Filename) {
    std::error_code error;
    [[maybe_unused]] const auto length = std::filesystem::file_size(Filename, error);
    return !error;
}
