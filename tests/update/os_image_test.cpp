#include "cipher/crypt_encrypt.h"
#include "common/crc16.h"
#include "unreadable_file.h"
#include "update/os_image.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

using namespace orv;
namespace fs = std::filesystem;

std::vector<uint8_t> PlainImage(size_t size, uint8_t firstPage = 128) {
    std::vector<uint8_t> image(size);
    for (size_t i = 0; i < size; ++i)
        image[i] = static_cast<uint8_t>(i * 7 + (i >> 8));
    image[8] = 0x40;
    image[9] = 0xA6;
    image[12] = 0x61;
    image[13] = 0x01;
    image[14] = 0x03;
    image[15] = 0x10;
    image[23] = firstPage;
    image[25] = 2;
    image[26] = 0xAA; // whatever the file holds here is overwritten
    image[27] = 0x55;
    return image;
}

std::vector<uint8_t> Cipher(std::vector<uint8_t> image) {
    const uint16_t crc = CRC16(image);
    image.push_back(static_cast<uint8_t>(crc & 0xFF));
    image.push_back(static_cast<uint8_t>(crc >> 8));
    EncryptBuffer(image, ImagePasswordText());
    return image;
}

class TempDir : public testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("os_image_test_" + std::to_string(::getpid()) + "_" +
                testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir_);
    }
    void TearDown() override {
        std::error_code ec;
        fs::permissions(dir_, fs::perms::owner_all, ec);
        fs::remove_all(dir_, ec);
    }
    std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) {
        const fs::path path = dir_ / name;
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        return path.string();
    }
    fs::path dir_;
};

TEST(OsImage, CipheredNameRule) {
    EXPECT_TRUE(IsCipheredName("/data/image.os"));
    EXPECT_TRUE(IsCipheredName("image.osx"));
    EXPECT_TRUE(IsCipheredName("os_image")); // no ".": the first two characters
    EXPECT_FALSE(IsCipheredName("image.bin"));
    EXPECT_FALSE(IsCipheredName("image.OS"));
    EXPECT_FALSE(IsCipheredName("image.o"));
    EXPECT_FALSE(IsCipheredName("image."));
    EXPECT_FALSE(IsCipheredName(""));
    EXPECT_FALSE(IsCipheredName("/home/a.os/image.bin")); // the last "." decides
    EXPECT_TRUE(IsCipheredName("/home/a.bin/image.os"));
    EXPECT_EQ(ImagePasswordText(), std::to_string(kImagePassword));
    EXPECT_EQ(ImagePasswordText().size(), 6u);
}

TEST(OsImage, HeaderFieldsAsShown) {
    std::array<uint8_t, kImageHeaderSize> header{};
    header[12] = 0x61;
    header[13] = 0x01;
    header[14] = 0x03;
    header[15] = 0x10;
    header[25] = 6;
    ImageInfo info = DecodeImageHeader(header);
    EXPECT_EQ(info.Version, "1.61");
    EXPECT_EQ(info.ReleaseDate, "03/2010");
    EXPECT_EQ(info.FlashType, "MU");
    header[13] = 0xAB;
    header[12] = 0x05;
    header[25] = 7;
    info = DecodeImageHeader(header);
    EXPECT_EQ(info.Version, "AB.05");
    EXPECT_EQ(info.FlashType, "Unknown");
    EXPECT_EQ(info.FlashCode, 7);
    EXPECT_EQ(FlashTypeText(255), "Unknown");
    EXPECT_EQ(FlashTypeText(1), "W29C020");
}

TEST(OsImage, CipheredImageOfMinimumSize) {
    const auto plain = PlainImage(kMinImageSize);
    auto ciphered = Cipher(plain);
    ASSERT_EQ(ciphered.size(), 0x22002u);
    PrepareResult r = PrepareImageBytes(ciphered, true);
    ASSERT_EQ(r.Outcome, PrepareOutcome::Ready);
    EXPECT_EQ(r.Image.PageCount, 544);
    EXPECT_EQ(r.Image.FirstPage, 128);
    EXPECT_EQ(r.Image.Bytes.size(), kMinImageSize);

    for (size_t at : {size_t{0}, size_t{100}, ciphered.size() - 1}) {
        auto damaged = ciphered;
        damaged[at] ^= 0x01;
        EXPECT_EQ(PrepareImageBytes(damaged, true).Outcome, PrepareOutcome::FileError) << at;
        EXPECT_EQ(CheckImageInfo(damaged, true).Outcome, ShowOutcome::Illegal) << at;
    }
    // Taken as plain, the ciphered bytes fail on their identification bytes.
    EXPECT_EQ(PrepareImageBytes(ciphered, false).Outcome, PrepareOutcome::IdError);
}

TEST(OsImage, CheckOrderOfPlainImages) {
    EXPECT_EQ(PrepareImageBytes({}, false).Outcome, PrepareOutcome::EmptyFile);
    EXPECT_EQ(PrepareImageBytes(PlainImage(0x21FFF), false).Outcome, PrepareOutcome::SizeError);
    auto wrongId = PlainImage(0x22000);
    wrongId[9] = 0xA7;
    EXPECT_EQ(PrepareImageBytes(wrongId, false).Outcome, PrepareOutcome::IdError);
    // Size is tested before identification.
    wrongId.resize(0x21FFF);
    EXPECT_EQ(PrepareImageBytes(wrongId, false).Outcome, PrepareOutcome::SizeError);
    // A plain image has no check bytes: its last two bytes are image.
    EXPECT_EQ(PrepareImageBytes(PlainImage(0x22001), false).Image.Bytes.size(), 0x22001u);
}

TEST(OsImage, CipheredFilesTooShortForCheckBytes) {
    for (size_t n : {1, 2, 3}) {
        std::vector<uint8_t> bytes(n, 0x5A);
        EXPECT_EQ(PrepareImageBytes(bytes, true).Outcome, PrepareOutcome::FileError) << n;
    }
    // Two check bytes over nothing: a CRC-correct but empty image.
    std::vector<uint8_t> onlyCheck = Cipher({});
    ASSERT_EQ(onlyCheck.size(), 2u);
    EXPECT_EQ(PrepareImageBytes(onlyCheck, true).Outcome, PrepareOutcome::FileError);
}

TEST(OsImage, FirstPageMustLieInsideTheImage) {
    EXPECT_EQ(PrepareImageBytes(PlainImage(0x22000, 0), false).Outcome,
              PrepareOutcome::FirstPageError);
    EXPECT_EQ(PrepareImageBytes(PlainImage(0x22000, 1), false).Outcome, PrepareOutcome::Ready);
    // The header holds the first page in one byte and images have at least 544 pages, so
    // only 0 can fall outside; 255 is the largest a header can name.
    auto r = PrepareImageBytes(PlainImage(0x22000, 255), false);
    ASSERT_EQ(r.Outcome, PrepareOutcome::Ready);
    EXPECT_EQ(r.Image.FirstPage, 255);
    EXPECT_FALSE(PrepareOutcomeText(PrepareOutcome::FirstPageError, "x").empty());
}

TEST(OsImage, ImageCrcPatchedHighByteFirst) {
    auto plain = PlainImage(0x22080); // a last, incomplete page of 128 bytes
    auto r = PrepareImageBytes(plain, false);
    ASSERT_EQ(r.Outcome, PrepareOutcome::Ready);
    EXPECT_EQ(r.Image.PageCount, 544);
    const uint16_t crc = CRC16(std::span<const uint8_t>(plain).subspan(kImageCrcStart), kCrcInit);
    EXPECT_EQ(r.Image.ImageCrc, crc);
    EXPECT_EQ(r.Image.Bytes[26], crc >> 8);
    EXPECT_EQ(r.Image.Bytes[27], crc & 0xFF);
    // Everything else is sent as the file held it.
    plain[26] = r.Image.Bytes[26];
    plain[27] = r.Image.Bytes[27];
    EXPECT_EQ(r.Image.Bytes, plain);

    // The unsent tail is covered by the CRC; bytes before 0x8000 are not.
    auto tail = PlainImage(0x22080);
    tail.back() ^= 0xFF;
    EXPECT_NE(PrepareImageBytes(tail, false).Image.ImageCrc, crc);
    auto head = PlainImage(0x22080);
    head[0x7FFF] ^= 0xFF;
    EXPECT_EQ(PrepareImageBytes(head, false).Image.ImageCrc, crc);
}

TEST(OsImage, SixteenMebibytesIsRefused) {
    auto r = PrepareImageBytes(PlainImage(kMaxImageSize - 1), false);
    ASSERT_EQ(r.Outcome, PrepareOutcome::Ready);
    EXPECT_EQ(r.Image.PageCount, 65535);
    EXPECT_EQ(PrepareImageBytes(PlainImage(kMaxImageSize), false).Outcome,
              PrepareOutcome::SizeError);
    EXPECT_EQ(PrepareImageBytes(std::vector<uint8_t>(kMaxImageSize + 2), true).Outcome,
              PrepareOutcome::SizeError);
}

TEST(OsImage, OutcomeTexts) {
    EXPECT_EQ(PrepareOutcomeText(PrepareOutcome::NotExist, "/x/a.os"),
              "OS File << /x/a.os >> not Exist !!");
    EXPECT_EQ(PrepareOutcomeText(PrepareOutcome::FileError, ""), "OS File Error!!");
    EXPECT_EQ(PrepareOutcomeText(PrepareOutcome::SizeError, ""), "OS File Size Error!!");
    EXPECT_EQ(PrepareOutcomeText(PrepareOutcome::IdError, ""), "OS File ID Error!!");
    for (auto silent :
         {PrepareOutcome::Ready, PrepareOutcome::EmptyPath, PrepareOutcome::EmptyFile})
        EXPECT_EQ(PrepareOutcomeText(silent, "p"), "");
    EXPECT_TRUE(PrepareOutcomeIsMessageBox(PrepareOutcome::NotExist));
    EXPECT_TRUE(PrepareOutcomeIsMessageBox(PrepareOutcome::ReadError));
    EXPECT_FALSE(PrepareOutcomeIsMessageBox(PrepareOutcome::FileError));
    EXPECT_FALSE(PrepareOutcomeIsMessageBox(PrepareOutcome::FirstPageError));
}

TEST_F(TempDir, PrepareFromFiles) {
    EXPECT_EQ(PrepareImageFile("").Outcome, PrepareOutcome::EmptyPath);
    EXPECT_EQ(PrepareImageFile((dir_ / "missing.os").string()).Outcome, PrepareOutcome::NotExist);
    EXPECT_EQ(PrepareImageFile(Write("empty.bin", {})).Outcome, PrepareOutcome::EmptyFile);

    const auto plain = PlainImage(kMinImageSize);
    auto ready = PrepareImageFile(Write("image.os", Cipher(plain)));
    ASSERT_EQ(ready.Outcome, PrepareOutcome::Ready);
    EXPECT_EQ(ready.Image.Bytes, PrepareImageBytes(plain, false).Image.Bytes);
    // The name decides: the same plain bytes under a ciphered name fail their check.
    EXPECT_EQ(PrepareImageFile(Write("plain.os", plain)).Outcome, PrepareOutcome::FileError);
    EXPECT_EQ(PrepareImageFile(Write("plain.bin", plain)).Outcome, PrepareOutcome::Ready);
    // A ciphered image under an upper-case name is read as plain: the refusal says why.
    const std::string upper = Write("IMAGE.OS", Cipher(plain));
    EXPECT_EQ(PrepareResultText(PrepareImageFile(upper), upper),
              "OS File ID Error!!; ciphered images must end in .os (lower case)");
    EXPECT_EQ(WithCipheredNameHint("t", "a.bin"), "t");
    EXPECT_EQ(WithCipheredNameHint("t", "a.os"), "t");
    // Too large to be an image even with its check bytes: refused without being loaded.
    EXPECT_EQ(PrepareImageFile(Write("huge.os", std::vector<uint8_t>(kMaxImageSize + 2))).Outcome,
              PrepareOutcome::SizeError);

    auto dir = PrepareImageFile(dir_.string());
    EXPECT_EQ(dir.Outcome, PrepareOutcome::ReadError);
    EXPECT_NE(dir.Error.find("Is a directory"), std::string::npos) << dir.Error;
    EXPECT_EQ(PrepareResultText(dir, dir_.string()), dir.Error);

    const std::string locked = Write("locked.bin", plain);
    UnreadableFile unreadable(locked);
    if (unreadable.Made()) {
        auto r = PrepareImageFile(locked);
        EXPECT_EQ(r.Outcome, PrepareOutcome::ReadError);
        EXPECT_NE(r.Error.find("Permission denied"), std::string::npos) << r.Error;
        EXPECT_NE(r.Error.find(locked), std::string::npos) << r.Error;
    }
}

TEST_F(TempDir, ShowInfoFromFiles) {
    ShowResult shown = LoadImageInfo(Write("image.os", Cipher(PlainImage(kMinImageSize))));
    ASSERT_EQ(shown.Outcome, ShowOutcome::Shown);
    EXPECT_EQ(shown.Info.Version, "1.61");
    EXPECT_EQ(shown.Info.ReleaseDate, "03/2010");
    EXPECT_EQ(shown.Info.FlashType, "AT29C020");
    EXPECT_EQ(shown.Info.FirstPage, 128);
    EXPECT_EQ(shown.Header[8], 0x40);

    EXPECT_EQ(LoadImageInfo(Write("empty.os", {})).Outcome, ShowOutcome::EmptyFile);
    EXPECT_EQ(LoadImageInfo((dir_ / "none.bin").string()).Outcome, ShowOutcome::ReadError);
    EXPECT_EQ(LoadImageInfo(Write("bad.os", PlainImage(kMinImageSize))).Outcome,
              ShowOutcome::Illegal);

    // A short plain file: its header copy is zero-padded, and the display only needs the id.
    std::vector<uint8_t> shortFile = {0, 1, 2, 3, 4, 5, 6, 7, 0x40, 0xA6, 0, 0, 0x61, 0x01};
    shown = LoadImageInfo(Write("short.bin", shortFile));
    ASSERT_EQ(shown.Outcome, ShowOutcome::Shown);
    EXPECT_EQ(shown.Info.Version, "1.61");
    EXPECT_EQ(shown.Info.ReleaseDate, "00/2000");
    EXPECT_EQ(shown.Header[13], 0x01);
    EXPECT_EQ(shown.Header[14], 0x00);
    EXPECT_EQ(shown.Header[283], 0x00);
    shortFile.resize(9);
    EXPECT_EQ(LoadImageInfo(Write("tiny.bin", shortFile)).Outcome, ShowOutcome::Illegal);
}

TEST(PageFrames, FramesOfA544PageImage) {
    auto r = PrepareImageBytes(PlainImage(kMinImageSize), false);
    ASSERT_EQ(r.Outcome, PrepareOutcome::Ready);
    const PreparedImage& image = r.Image;

    const std::vector<int> order = PageOrder(image.PageCount, image.FirstPage);
    ASSERT_EQ(order.size(), 1u + 544 - 128);
    EXPECT_EQ(order[0], 0);
    EXPECT_EQ(order[1], 128);
    EXPECT_EQ(order.back(), 543);

    for (int page : order) {
        const auto frame = BuildPageFrame(image, 0x01, page);
        ASSERT_EQ(CRC16(frame), 0) << page;
        EXPECT_EQ(frame[0], 0x01);
        EXPECT_EQ(frame[1], 0x0D);
        EXPECT_EQ(frame[2], 0x13);
        EXPECT_EQ(frame[3], page == 543 ? 0xFF : 0x01) << page;
        EXPECT_EQ(frame[4] << 8 | frame[5], page);
        EXPECT_EQ(frame[6], 0x01);
        EXPECT_EQ(frame[7], 0x00);
        ASSERT_TRUE(std::equal(frame.begin() + 8, frame.begin() + 264,
                               image.Bytes.begin() + static_cast<std::ptrdiff_t>(page) * 256))
            << page;
    }
    // The header page carries the image CRC at frame offsets 34 and 35.
    const auto header = BuildPageFrame(image, 0xFE, 0);
    EXPECT_EQ(header[0], 0xFE);
    EXPECT_EQ(header[34] << 8 | header[35], image.ImageCrc);
    const auto p300 = BuildPageFrame(image, 1, 300);
    EXPECT_EQ(p300[4], 0x01);
    EXPECT_EQ(p300[5], 0x2C);

    EXPECT_THROW(BuildPageFrame(image, 1, 544), std::out_of_range);
    EXPECT_THROW(BuildPageFrame(image, 1, -1), std::out_of_range);
}

TEST(PageFrames, GaugeAndOrderEdges) {
    EXPECT_EQ(PageGaugePercent(0, 544, 128), 0);
    EXPECT_EQ(PageGaugePercent(128, 544, 128), 0);
    EXPECT_EQ(PageGaugePercent(129, 544, 128), 0); // 100 / 416 rounds toward zero
    EXPECT_EQ(PageGaugePercent(133, 544, 128), 1);
    EXPECT_EQ(PageGaugePercent(543, 544, 128), 99);
    EXPECT_EQ(PageOrder(3, 2), (std::vector<int>{0, 2}));
    EXPECT_TRUE(PageOrder(0, 1).empty());
    // A first page of 0 never repeats the header page.
    EXPECT_EQ(PageOrder(3, 0), (std::vector<int>{0, 1, 2}));
}

} // namespace
