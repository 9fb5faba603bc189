#pragma once
// The OS image file: loading, deciphering (by name), checking, the header fields and the
// prepared image with its pages. Plain C++: every outcome is a value the caller turns into
// the program's text.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace orv {

constexpr uint32_t kPageSize = 256;
constexpr uint32_t kMinImageSize = 0x22000;
// Images of this size or more are refused ("OS File Size Error!!"): page numbers travel in 16
// bits. A ciphered file may be two check bytes longer.
constexpr uint32_t kMaxImageSize = 0x1000000;
constexpr uint32_t kImageCrcStart = 0x8000;
constexpr size_t kImageHeaderSize = 284;
constexpr size_t kPageFrameSize = 266;

// The six-digit constant whose decimal text deciphers the program's images.
constexpr int kImagePassword = 730416;
std::string ImagePasswordText(); // "730416"

// True when the two characters after the last "." are exactly "os" (case-sensitive); a path
// without "." compares its first two characters.
bool IsCipheredName(const std::string& path);
// The name decides, so a ciphered image named "OS161.OS" is read as a plain one and fails its
// checks: text, with "; ciphered images must end in .os (lower case)" when the name ends in
// ".os" in another letter case.
std::string WithCipheredNameHint(const std::string& text, const std::string& path);

// Header fields as the status window shows them.
struct ImageInfo {
    std::string Version;     // "%X.%02X" of offsets 13, 12
    std::string ReleaseDate; // "%02X/20%02X" of offsets 14, 15
    std::string FlashType;   // FlashTypeNames of offset 25; "Unknown" for 7 and above
    int FlashCode = 0;
    int FirstPage = 0; // offset 23
};

enum class ShowOutcome {
    Shown,     // fields filled
    EmptyFile, // 0 bytes: nothing is said
    Illegal,   // "File corruption or Illegal OS file"
    ReadError, // file missing or unreadable: the error text says why
};

struct ShowResult {
    ShowOutcome Outcome = ShowOutcome::ReadError;
    ImageInfo Info;
    std::array<uint8_t, kImageHeaderSize> Header{}; // ImageHeader, zero-padded
    std::string Error;                              // for ReadError
};

// ShowImageInfo's file logic. A plain file is read only as far as its header.
ShowResult LoadImageInfo(const std::string& path);
// The same on bytes already in memory (ciphered says whether to decipher and check).
ShowResult CheckImageInfo(std::vector<uint8_t> bytes, bool ciphered);

// The fields of an image header as the status window shows them.
ImageInfo DecodeImageHeader(const std::array<uint8_t, kImageHeaderSize>& header);
// Flash type name by code; "Unknown" for anything outside 0..6.
std::string FlashTypeText(int code);

enum class PrepareOutcome {
    Ready,
    EmptyPath,      // no message
    NotExist,       // message box "OS File << path >> not Exist !!"
    EmptyFile,      // no message
    FileError,      // pnlStatus "OS File Error!!"
    SizeError,      // pnlStatus "OS File Size Error!!" (also 16 MiB or more)
    IdError,        // pnlStatus "OS File ID Error!!"
    FirstPageError, // pnlStatus "OS File First Page Error!!": FirstPage 0 or not below PageCount
    ReadError,      // exists but cannot be read: message box, Error says why (with the path)
};

struct PreparedImage {
    std::vector<uint8_t> Bytes; // deciphered, check bytes dropped, CRC patched at 26, 27
    int PageCount = 0;
    int FirstPage = 0;
    uint16_t ImageCrc = 0;
};

struct PrepareResult {
    PrepareOutcome Outcome = PrepareOutcome::ReadError;
    PreparedImage Image; // valid when Ready
    std::string Error;
};

// PrepareImage's file logic.
PrepareResult PrepareImageFile(const std::string& path);
// The same on bytes already in memory (ciphered says whether to decipher).
PrepareResult PrepareImageBytes(std::vector<uint8_t> bytes, bool ciphered);

// The text the window shows for an outcome ("" when nothing is said).
std::string PrepareOutcomeText(PrepareOutcome outcome, const std::string& path);
// The same, but for ReadError the system's reason held in result.Error.
std::string PrepareResultText(const PrepareResult& result, const std::string& path);
// True for the outcomes shown in a message box rather than in pnlStatus.
bool PrepareOutcomeIsMessageBox(PrepareOutcome outcome);

// The 266-byte frame of page p: station, 0x0D, 0x13, mark (0xFF for the last page, else
// 0x01), page high, page low, 0x01, 0x00, the 256 bytes, CRC low, CRC high. A page outside
// the image throws std::out_of_range.
std::array<uint8_t, kPageFrameSize> BuildPageFrame(const PreparedImage& image, uint8_t station,
                                                   int page);

// A page frame as BuildPageFrame makes it (its size, CR and DC3 after the station), whose
// answer is two bytes, the second a CR for an acknowledgement.
bool IsPageFrame(const uint8_t* frame, size_t count);
constexpr size_t kPageAnswerLength = 2;

// Page order on the line: 0, then FirstPage .. PageCount - 1.
std::vector<int> PageOrder(int pageCount, int firstPage);

// The gauge after sending page p: 0 for page 0, else (p - FirstPage) * 100 / (PageCount -
// FirstPage).
int PageGaugePercent(int page, int pageCount, int firstPage);

} // namespace orv
