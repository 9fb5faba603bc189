// orv-osimage run as a process, the way image makers use it.
#include "child_process.h"
#include "cipher/crypt_encrypt.h"
#include "cipher/crypt_lib.h"
#include "common/crc16.h"
#include "update/os_image.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <random>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

using ToolRun = orv::test::ProgramRun;

class OsImageTool : public testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("osimage_test_" + std::to_string(::getpid()) + "_" +
                testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    ToolRun Tool(const std::vector<std::string>& args) {
        return orv::test::RunProgram(ORV_OSIMAGE_PATH, args);
    }

    std::string Path(const std::string& name) const { return (dir_ / name).string(); }

    void Write(const std::string& path, const std::vector<uint8_t>& bytes) {
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
    }
    std::vector<uint8_t> Read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    fs::path dir_;
};

std::vector<uint8_t> RandomBytes(size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    std::vector<uint8_t> v(n);
    for (auto& b : v)
        b = static_cast<uint8_t>(gen());
    return v;
}

TEST_F(OsImageTool, EncryptDecryptRoundTrip) {
    for (size_t size : {size_t{0}, size_t{1}, size_t{32768}, size_t{32769}, size_t{0xFFFFFF}}) {
        SCOPED_TRACE(size);
        const auto plain = RandomBytes(size, static_cast<unsigned>(size));
        Write(Path("in.bin"), plain);
        ASSERT_EQ(Tool({"encrypt", Path("in.bin"), Path("c.os"), "--password", "s3cret"}).Exit, 0);
        const auto ciphered = Read(Path("c.os"));
        ASSERT_EQ(ciphered.size(), size + 2);

        // The program's own decipherer agrees with the tool's encipherer.
        orv::TCryptLib crypt;
        crypt.SetCompression(false);
        crypt.SetPassword("s3cret");
        auto deciphered = ciphered;
        crypt.DecryptStream(deciphered);
        EXPECT_EQ(orv::CRC16(deciphered), 0);

        ASSERT_EQ(Tool({"decrypt", Path("c.os"), Path("out.bin"), "--password", "s3cret"}).Exit, 0);
        EXPECT_TRUE(Read(Path("out.bin")) == plain);
        fs::remove(Path("out.bin"));
    }
}

TEST_F(OsImageTool, DecryptRefusesAFailedCheckAndWritesNothing) {
    Write(Path("in.bin"), RandomBytes(5000, 1));
    ASSERT_EQ(Tool({"encrypt", Path("in.bin"), Path("c.os")}).Exit, 0);
    ToolRun wrong = Tool({"decrypt", Path("c.os"), Path("out.bin"), "--password", "000000"});
    EXPECT_EQ(wrong.Exit, 1);
    EXPECT_NE(wrong.Output.find("check"), std::string::npos) << wrong.Output;
    EXPECT_FALSE(fs::exists(Path("out.bin")));
    EXPECT_FALSE(fs::exists(Path("out.bin.tmp")));

    Write(Path("one.os"), {0x42});
    EXPECT_EQ(Tool({"decrypt", Path("one.os"), Path("out.bin")}).Exit, 1);
    EXPECT_FALSE(fs::exists(Path("out.bin")));

    // Without --password the program's own password is used.
    auto bytes = Read(Path("c.os"));
    orv::TCryptLib crypt;
    crypt.SetCompression(false);
    crypt.SetPassword(orv::ImagePasswordText());
    crypt.DecryptStream(bytes);
    EXPECT_EQ(orv::CRC16(bytes), 0);
}

TEST_F(OsImageTool, MadeImagesPassTheProgramsChecks) {
    ASSERT_EQ(Tool({"make", Path("a.os")}).Exit, 0);
    EXPECT_EQ(fs::file_size(Path("a.os")), 0x22002u);
    auto prepared = orv::PrepareImageFile(Path("a.os"));
    ASSERT_EQ(prepared.Outcome, orv::PrepareOutcome::Ready);
    EXPECT_EQ(prepared.Image.PageCount, 544);
    EXPECT_EQ(prepared.Image.FirstPage, 128);

    ToolRun info = Tool({"info", Path("a.os")});
    EXPECT_EQ(info.Exit, 0) << info.Output;
    EXPECT_NE(info.Output.find("1.61"), std::string::npos) << info.Output;
    EXPECT_NE(info.Output.find("03/2010"), std::string::npos);
    EXPECT_NE(info.Output.find("544"), std::string::npos);
    char crc[16];
    std::snprintf(crc, sizeof crc, "0x%04X", prepared.Image.ImageCrc);
    EXPECT_NE(info.Output.find(crc), std::string::npos) << info.Output;
    EXPECT_NE(info.Output.find("Ciphered:    yes"), std::string::npos);

    // Same seed, same content. Numbers are decimal or 0x hexadecimal, never octal.
    const std::vector<std::string> options = {"--seed",       "7",       "--size",       "0x30000",
                                              "--first-page", "0200",    "--version",    "2.05",
                                              "--date",       "12/2024", "--flash-type", "9"};
    for (const char* name : {"b.bin", "c.bin"}) {
        std::vector<std::string> args = {"make", Path(name)};
        args.insert(args.end(), options.begin(), options.end());
        ASSERT_EQ(Tool(args).Exit, 0);
    }
    EXPECT_TRUE(Read(Path("b.bin")) == Read(Path("c.bin")));
    const orv::ShowResult shown = orv::LoadImageInfo(Path("b.bin"));
    ASSERT_EQ(shown.Outcome, orv::ShowOutcome::Shown);
    EXPECT_EQ(shown.Info.Version, "2.05");
    EXPECT_EQ(shown.Info.ReleaseDate, "12/2024");
    EXPECT_EQ(shown.Info.FlashType, "Unknown");
    EXPECT_EQ(shown.Info.FirstPage, 200);
    EXPECT_EQ(orv::PrepareImageFile(Path("b.bin")).Image.PageCount, 0x300);
}

// Names are UTF-8 to the tool on every platform; Windows hands them over as UTF-16.
TEST_F(OsImageTool, NamesBeyondAsciiAndFilesMadeAgain) {
    const fs::path image = dir_ / fs::path(u8"Jürgen €.os");
    const std::u8string u8 = image.u8string();
    const std::string name(u8.begin(), u8.end());
    ASSERT_EQ(Tool({"make", name, "--seed", "1"}).Exit, 0);
    ToolRun again = Tool({"make", name, "--seed", "2"});
    ASSERT_EQ(again.Exit, 0) << again.Output;
    EXPECT_EQ(fs::file_size(image), 0x22002u);
    EXPECT_EQ(Tool({"info", name}).Exit, 0);
}

TEST_F(OsImageTool, InfoReportsBadImages) {
    ASSERT_EQ(Tool({"make", Path("a.os")}).Exit, 0);
    auto bytes = Read(Path("a.os"));
    bytes[1000] ^= 0x10;
    Write(Path("bad.os"), bytes);
    ToolRun bad = Tool({"info", Path("bad.os")});
    EXPECT_EQ(bad.Exit, 1);
    EXPECT_NE(bad.Output.find("File corruption or Illegal OS file"), std::string::npos)
        << bad.Output;

    // Shown by the status window, but refused by "Update OS": info says why and fails.
    ASSERT_EQ(Tool({"make", Path("first0.bin"), "--first-page", "0"}).Exit, 0);
    ToolRun refused = Tool({"info", Path("first0.bin")});
    EXPECT_EQ(refused.Exit, 1);
    EXPECT_NE(refused.Output.find("1.61"), std::string::npos) << refused.Output;
    EXPECT_NE(refused.Output.find(orv::PrepareOutcomeText(orv::PrepareOutcome::FirstPageError, "")),
              std::string::npos)
        << refused.Output;

    ToolRun missing = Tool({"info", Path("none.os")});
    EXPECT_EQ(missing.Exit, 1);
    EXPECT_NE(missing.Output.find("No such file"), std::string::npos) << missing.Output;
}

TEST_F(OsImageTool, BadArgumentsPrintUsage) {
    const std::vector<std::vector<std::string>> bad = {
        {},
        {"frobnicate"},
        {"info"},
        {"info", "a", "b"},
        {"make"},
        {"make", Path("x.bin"), "--size"},
        {"make", Path("x.bin"), "--size", "12abc"},
        {"make", Path("x.bin"), "--first-page", "256"},
        {"make", Path("x.bin"), "--version", "1.6"},
        {"make", Path("x.bin"), "--date", "03/1910"},
        {"make", Path("x.bin"), "--colour", "red"},
        {"encrypt", Path("x.bin")},
        {"encrypt", Path("x.bin"), Path("y.os"), "--password", "1234567890123"},
        {"decrypt", Path("x.os"), Path("y.bin"), "--pass", "1"},
    };
    for (const auto& args : bad) {
        ToolRun run = Tool(args);
        EXPECT_EQ(run.Exit, 2) << testing::PrintToString(args) << run.Output;
        EXPECT_NE(run.Output.find("usage:"), std::string::npos) << run.Output;
    }
    EXPECT_FALSE(fs::exists(Path("x.bin")));
}

} // namespace
