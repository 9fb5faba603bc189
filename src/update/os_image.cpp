#include "update/os_image.h"

#include "cipher/crypt_lib.h"
#include "common/crc16.h"
#include "common/platform_io.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace orv {

namespace {

// Kept here rather than borrowed from the station protocol so that the image code stands on
// its own; the two tables hold the same names.
constexpr std::array<const char*, 7> kFlashNames = {"Unknown", "W29C020", "AT29C020", "MA",
                                                    "MC",      "MN",      "MU"};

// A file larger than this cannot hold an acceptable image even with its check bytes, so it is
// refused without being read into memory.
constexpr uint64_t kMaxFileSize = kMaxImageSize + 1;

enum class ReadStatus { Ok, NotExist, TooBig, Failed };

struct FileBytes {
    ReadStatus Status = ReadStatus::Failed;
    std::vector<uint8_t> Bytes;
    std::string Error;
};

std::string SystemError(const std::string& path, int error) {
    return "Cannot read OS file \"" + path + "\": " + std::strerror(error);
}

// Reads the file whole, or (truncate) only its first limit bytes; without truncate a file
// longer than limit comes back as TooBig, unread.
FileBytes ReadFile(const std::string& path, uint64_t limit, bool truncate) {
    FileBytes result;
    std::FILE* f = OpenFile(path, "rb");
    if (!f) {
        result.Status =
            errno == ENOENT || errno == ENOTDIR ? ReadStatus::NotExist : ReadStatus::Failed;
        result.Error = SystemError(path, errno);
        return result;
    }
    const auto size = RegularFileSize(f);
    if (!truncate && size && *size > limit) {
        result.Status = ReadStatus::TooBig;
        std::fclose(f);
        return result;
    }
    uint8_t chunk[65536];
    for (;;) {
        const size_t got = std::fread(chunk, 1, sizeof chunk, f);
        if (got == 0) {
            if (std::ferror(f)) {
                result.Error = SystemError(path, errno);
                result.Bytes.clear();
                std::fclose(f);
                return result;
            }
            break;
        }
        const size_t room = limit - result.Bytes.size();
        if (truncate && got >= room) {
            result.Bytes.insert(result.Bytes.end(), chunk, chunk + room);
            break;
        }
        if (got > room) {
            // Something that is not a regular file kept growing past any acceptable image.
            result.Status = ReadStatus::TooBig;
            result.Bytes.clear();
            std::fclose(f);
            return result;
        }
        result.Bytes.insert(result.Bytes.end(), chunk, chunk + got);
    }
    std::fclose(f);
    result.Status = ReadStatus::Ok;
    return result;
}

void Decipher(std::vector<uint8_t>& bytes) {
    TCryptLib crypt;
    crypt.SetCompression(false);
    crypt.SetPassword(ImagePasswordText());
    crypt.DecryptStream(bytes);
}

bool HasImageId(const uint8_t* header) {
    return header[8] == 0x40 && header[9] == 0xA6;
}

PrepareResult Failed(PrepareOutcome outcome, std::string error = {}) {
    PrepareResult result;
    result.Outcome = outcome;
    result.Error = std::move(error);
    return result;
}

} // namespace

std::string ImagePasswordText() {
    return std::to_string(kImagePassword);
}

bool IsCipheredName(const std::string& path) {
    const size_t dot = path.rfind('.');
    const size_t from = dot == std::string::npos ? 0 : dot + 1;
    return path.compare(from, 2, "os") == 0;
}

std::string WithCipheredNameHint(const std::string& text, const std::string& path) {
    const size_t dot = path.rfind('.');
    if (dot == std::string::npos || path.size() - dot != 3 || IsCipheredName(path) ||
        std::tolower(static_cast<unsigned char>(path[dot + 1])) != 'o' ||
        std::tolower(static_cast<unsigned char>(path[dot + 2])) != 's')
        return text;
    return text + "; ciphered images must end in .os (lower case)";
}

std::string FlashTypeText(int code) {
    return code >= 0 && code < static_cast<int>(kFlashNames.size()) ? kFlashNames[code]
                                                                    : kFlashNames[0];
}

ImageInfo DecodeImageHeader(const std::array<uint8_t, kImageHeaderSize>& header) {
    ImageInfo info;
    char text[32];
    std::snprintf(text, sizeof text, "%X.%02X", header[13], header[12]);
    info.Version = text;
    std::snprintf(text, sizeof text, "%02X/20%02X", header[14], header[15]);
    info.ReleaseDate = text;
    info.FlashCode = header[25];
    info.FlashType = FlashTypeText(header[25]);
    info.FirstPage = header[23];
    return info;
}

ShowResult CheckImageInfo(std::vector<uint8_t> bytes, bool ciphered) {
    ShowResult result;
    if (bytes.empty()) {
        result.Outcome = ShowOutcome::EmptyFile;
        return result;
    }
    bool crcOk = true;
    if (ciphered) {
        Decipher(bytes);
        crcOk = CRC16(bytes) == 0;
    }
    std::copy_n(bytes.begin(), std::min(bytes.size(), kImageHeaderSize), result.Header.begin());
    if (!crcOk || !HasImageId(result.Header.data())) {
        result.Outcome = ShowOutcome::Illegal;
        return result;
    }
    result.Info = DecodeImageHeader(result.Header);
    result.Outcome = ShowOutcome::Shown;
    return result;
}

ShowResult LoadImageInfo(const std::string& path) {
    // A plain file is not checked beyond its header, so only the header is read. A ciphered
    // file must be deciphered and checked whole; one larger than any acceptable image is
    // refused unread.
    const bool ciphered = IsCipheredName(path);
    FileBytes file =
        ciphered ? ReadFile(path, kMaxFileSize, false) : ReadFile(path, kImageHeaderSize, true);
    if (file.Status == ReadStatus::TooBig) {
        ShowResult result;
        result.Outcome = ShowOutcome::Illegal;
        return result;
    }
    if (file.Status != ReadStatus::Ok) {
        ShowResult result;
        result.Outcome = ShowOutcome::ReadError;
        result.Error = file.Error;
        return result;
    }
    return CheckImageInfo(std::move(file.Bytes), ciphered);
}

PrepareResult PrepareImageFile(const std::string& path) {
    if (path.empty())
        return Failed(PrepareOutcome::EmptyPath);
    FileBytes file = ReadFile(path, kMaxFileSize, false);
    switch (file.Status) {
    case ReadStatus::NotExist:
        return Failed(PrepareOutcome::NotExist);
    case ReadStatus::TooBig:
        return Failed(PrepareOutcome::SizeError);
    case ReadStatus::Failed:
        return Failed(PrepareOutcome::ReadError, file.Error);
    case ReadStatus::Ok:
        break;
    }
    return PrepareImageBytes(std::move(file.Bytes), IsCipheredName(path));
}

PrepareResult PrepareImageBytes(std::vector<uint8_t> bytes, bool ciphered) {
    if (bytes.empty())
        return Failed(PrepareOutcome::EmptyFile);
    const size_t checkBytes = ciphered ? 2 : 0;
    // No page of an image this large can be numbered; don't decipher it only to refuse it.
    if (bytes.size() >= kMaxImageSize + checkBytes)
        return Failed(PrepareOutcome::SizeError);
    if (ciphered) {
        Decipher(bytes);
        const uint16_t crc = CRC16(bytes);
        bytes.resize(bytes.size() >= 2 ? bytes.size() - 2 : 0);
        if (bytes.empty() || crc != 0)
            return Failed(PrepareOutcome::FileError);
    }
    if (bytes.size() < kMinImageSize)
        return Failed(PrepareOutcome::SizeError);
    const int pageCount = static_cast<int>(bytes.size() / kPageSize);
    if (!HasImageId(bytes.data()))
        return Failed(PrepareOutcome::IdError);
    const int firstPage = bytes[23];
    // Page 0 is the header; the sequence needs FirstPage inside 1 .. PageCount - 1.
    if (firstPage == 0 || firstPage >= pageCount)
        return Failed(PrepareOutcome::FirstPageError);

    PrepareResult result;
    result.Outcome = PrepareOutcome::Ready;
    result.Image.ImageCrc = CRC16(bytes.data() + kImageCrcStart,
                                  static_cast<uint32_t>(bytes.size() - kImageCrcStart), kCrcInit);
    bytes[26] = static_cast<uint8_t>(result.Image.ImageCrc >> 8);
    bytes[27] = static_cast<uint8_t>(result.Image.ImageCrc & 0xFF);
    result.Image.Bytes = std::move(bytes);
    result.Image.PageCount = pageCount;
    result.Image.FirstPage = firstPage;
    return result;
}

std::string PrepareOutcomeText(PrepareOutcome outcome, const std::string& path) {
    switch (outcome) {
    case PrepareOutcome::Ready:
    case PrepareOutcome::EmptyPath:
    case PrepareOutcome::EmptyFile:
        return {};
    case PrepareOutcome::NotExist:
        return "OS File << " + path + " >> not Exist !!";
    case PrepareOutcome::FileError:
        return "OS File Error!!";
    case PrepareOutcome::SizeError:
        return "OS File Size Error!!";
    case PrepareOutcome::IdError:
        return "OS File ID Error!!";
    case PrepareOutcome::FirstPageError:
        return "OS File First Page Error!!";
    case PrepareOutcome::ReadError:
        return "Cannot read OS file \"" + path + "\"";
    }
    return {};
}

std::string PrepareResultText(const PrepareResult& result, const std::string& path) {
    if (result.Outcome == PrepareOutcome::ReadError && !result.Error.empty())
        return result.Error;
    const std::string text = PrepareOutcomeText(result.Outcome, path);
    const bool contentRefused = result.Outcome == PrepareOutcome::FileError ||
                                result.Outcome == PrepareOutcome::SizeError ||
                                result.Outcome == PrepareOutcome::IdError ||
                                result.Outcome == PrepareOutcome::FirstPageError;
    return contentRefused ? WithCipheredNameHint(text, path) : text;
}

bool PrepareOutcomeIsMessageBox(PrepareOutcome outcome) {
    return outcome == PrepareOutcome::NotExist || outcome == PrepareOutcome::ReadError;
}

std::array<uint8_t, kPageFrameSize> BuildPageFrame(const PreparedImage& image, uint8_t station,
                                                   int page) {
    std::array<uint8_t, kPageFrameSize> frame{};
    frame[0] = station;
    frame[1] = 0x0D;
    frame[2] = 0x13;
    frame[3] = page == image.PageCount - 1 ? 0xFF : 0x01;
    frame[4] = static_cast<uint8_t>(page >> 8 & 0xFF);
    frame[5] = static_cast<uint8_t>(page & 0xFF);
    frame[6] = 0x01;
    frame[7] = 0x00;
    const size_t from = static_cast<size_t>(page) * kPageSize;
    if (page < 0 || page > 0xFFFF || from + kPageSize > image.Bytes.size())
        throw std::out_of_range("Page " + std::to_string(page) + " is outside the OS image");
    std::copy_n(image.Bytes.begin() + static_cast<std::ptrdiff_t>(from), kPageSize,
                frame.begin() + 8);
    AppendCrc(frame.data(), kPageFrameSize - 2);
    return frame;
}

bool IsPageFrame(const uint8_t* frame, size_t count) {
    return frame != nullptr && count == kPageFrameSize && frame[1] == 0x0D && frame[2] == 0x13;
}

std::vector<int> PageOrder(int pageCount, int firstPage) {
    std::vector<int> order;
    if (pageCount <= 0)
        return order;
    order.push_back(0);
    for (int p = std::max(firstPage, 1); p < pageCount; ++p)
        order.push_back(p);
    return order;
}

int PageGaugePercent(int page, int pageCount, int firstPage) {
    if (page == 0 || pageCount <= firstPage)
        return 0;
    return (page - firstPage) * 100 / (pageCount - firstPage);
}

} // namespace orv
