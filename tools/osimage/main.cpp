// orv-osimage: for the people who prepare and check OS images. Nothing in the program makes
// a ciphered image, so this tool is where they come from.

#include "cipher/crypt_encrypt.h"
#include "cipher/crypt_lib.h"
#include "common/crc16.h"
#include "common/platform_io.h"
#include "update/os_image.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

using namespace orv;

constexpr int kExitOk = 0;
constexpr int kExitFail = 1;
constexpr int kExitUsage = 2;
// Generous, but keeps a typing slip from filling the disk.
constexpr uint64_t kMakeSizeMax = 256u << 20;
constexpr uint64_t kReadSizeMax = 1u << 30;

void Usage() {
    std::fputs(
        "usage:\n"
        "  orv-osimage info FILE\n"
        "  orv-osimage make OUT [--size BYTES] [--first-page N] [--version 1.61]\n"
        "                       [--date 03/2010] [--flash-type N] [--seed N]\n"
        "  orv-osimage encrypt IN OUT [--password P]\n"
        "  orv-osimage decrypt IN OUT [--password P]\n"
        "\n"
        "A name whose two characters after the last \".\" are \"os\" is ciphered; make writes\n"
        "such a file enciphered, with its check bytes. The default password is the program's.\n",
        stderr);
}

struct UsageError {
    std::string Text;
};

std::optional<uint64_t> ParseNumber(std::string_view text) {
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
        base = 16;
    }
    uint64_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

uint64_t NumberOption(std::string_view name, std::string_view text, uint64_t max) {
    const auto value = ParseNumber(text);
    if (!value || *value > max)
        throw UsageError{std::string(name) + " wants a number from 0 to " + std::to_string(max) +
                         ", not \"" + std::string(text) + "\""};
    return *value;
}

std::optional<uint8_t> HexPair(std::string_view text) {
    if (text.empty() || text.size() > 2)
        return std::nullopt;
    unsigned value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
    if (ec != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return static_cast<uint8_t>(value);
}

bool ReadFile(const std::string& path, std::vector<uint8_t>& bytes) {
    std::FILE* f = OpenFile(path, "rb");
    if (!f) {
        std::fprintf(stderr, "orv-osimage: cannot open %s: %s\n", path.c_str(),
                     std::strerror(errno));
        return false;
    }
    bytes.clear();
    uint8_t chunk[65536];
    size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof chunk, f)) > 0) {
        // The check bytes are a CRC over a 32-bit length; nothing near that is an image.
        if (bytes.size() + got > kReadSizeMax) {
            std::fprintf(stderr, "orv-osimage: %s is larger than %llu bytes\n", path.c_str(),
                         static_cast<unsigned long long>(kReadSizeMax));
            std::fclose(f);
            return false;
        }
        bytes.insert(bytes.end(), chunk, chunk + got);
    }
    const bool failed = std::ferror(f) != 0;
    const int error = errno;
    std::fclose(f);
    if (failed) {
        std::fprintf(stderr, "orv-osimage: cannot read %s: %s\n", path.c_str(),
                     std::strerror(error));
        return false;
    }
    return true;
}

// Writes beside the target and renames, so a failure never leaves half a file behind.
bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    const std::string temp = path + ".tmp";
    std::FILE* f = OpenFile(temp, "wb");
    if (!f) {
        std::fprintf(stderr, "orv-osimage: cannot write %s: %s\n", temp.c_str(),
                     std::strerror(errno));
        return false;
    }
    bool ok = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    int error = errno;
    if (std::fclose(f) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (ok && !RenameOver(temp, path)) {
        ok = false;
        error = errno;
    }
    if (!ok) {
        RemoveFile(temp);
        std::fprintf(stderr, "orv-osimage: cannot write %s: %s\n", path.c_str(),
                     std::strerror(error));
    }
    return ok;
}

void AppendCheckBytes(std::vector<uint8_t>& bytes) {
    const uint16_t crc = CRC16(bytes);
    bytes.push_back(static_cast<uint8_t>(crc & 0xFF));
    bytes.push_back(static_cast<uint8_t>(crc >> 8));
}

int Info(const std::string& path) {
    const ShowResult shown = LoadImageInfo(path);
    switch (shown.Outcome) {
    case ShowOutcome::ReadError:
        std::fprintf(stderr, "orv-osimage: %s\n", shown.Error.c_str());
        return kExitFail;
    case ShowOutcome::EmptyFile:
        std::fprintf(stderr, "orv-osimage: %s is empty\n", path.c_str());
        return kExitFail;
    case ShowOutcome::Illegal:
        std::fputs("File corruption or Illegal OS file\n", stderr);
        return kExitFail;
    case ShowOutcome::Shown:
        break;
    }
    const bool ciphered = IsCipheredName(path);
    std::printf("File:        %s\n", path.c_str());
    std::printf("Ciphered:    %s\n", ciphered ? "yes" : "no");
    std::printf("Version:     %s\n", shown.Info.Version.c_str());
    std::printf("Release:     %s\n", shown.Info.ReleaseDate.c_str());
    std::printf("Flash type:  %s (%d)\n", shown.Info.FlashType.c_str(), shown.Info.FlashCode);
    std::printf("First page:  %d\n", shown.Info.FirstPage);

    // The rest is what "Update OS" would find; an image it would refuse fails here too.
    const PrepareResult prepared = PrepareImageFile(path);
    if (prepared.Outcome != PrepareOutcome::Ready) {
        std::fprintf(stderr, "orv-osimage: refused for download: %s\n",
                     PrepareResultText(prepared, path).c_str());
        return kExitFail;
    }
    std::printf("Page count:  %d\n", prepared.Image.PageCount);
    std::printf("Image CRC:   0x%04X\n", prepared.Image.ImageCrc);
    return kExitOk;
}

int Make(const std::string& out, const std::vector<std::string_view>& options) {
    uint64_t size = kMinImageSize;
    uint64_t firstPage = 128;
    uint64_t flashType = 2;
    uint64_t seed = 1;
    uint8_t major = 0x01, minor = 0x61, month = 0x03, year = 0x10;
    for (size_t i = 0; i < options.size(); i += 2) {
        const std::string_view name = options[i];
        if (i + 1 >= options.size())
            throw UsageError{std::string(name) + " wants a value"};
        const std::string_view value = options[i + 1];
        if (name == "--size") {
            size = NumberOption(name, value, kMakeSizeMax);
        } else if (name == "--first-page") {
            firstPage = NumberOption(name, value, 255);
        } else if (name == "--flash-type") {
            flashType = NumberOption(name, value, 255);
        } else if (name == "--seed") {
            seed = NumberOption(name, value, UINT64_MAX);
        } else if (name == "--version") {
            // Shown as "%X.%02X": the digits are the header bytes' hexadecimal text.
            const size_t dot = value.find('.');
            const auto hi = HexPair(value.substr(0, dot));
            const auto lo =
                dot == std::string_view::npos ? std::nullopt : HexPair(value.substr(dot + 1));
            if (!hi || !lo || value.size() - dot - 1 != 2)
                throw UsageError{"--version wants MAJOR.MM in hexadecimal digits, like 1.61"};
            major = *hi;
            minor = *lo;
        } else if (name == "--date") {
            const auto mm = value.size() == 7 ? HexPair(value.substr(0, 2)) : std::nullopt;
            const auto yy = value.size() == 7 ? HexPair(value.substr(5, 2)) : std::nullopt;
            if (!mm || !yy || value.substr(2, 3) != "/20")
                throw UsageError{"--date wants MM/20YY, like 03/2010"};
            month = *mm;
            year = *yy;
        } else {
            throw UsageError{"unknown option " + std::string(name)};
        }
    }

    std::vector<uint8_t> image(size);
    uint64_t state = seed;
    for (auto& b : image) {
        // splitmix64: reproducible content for a given seed
        uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        b = static_cast<uint8_t>(z ^ (z >> 31));
    }
    auto put = [&](size_t at, uint8_t value) {
        if (at < image.size())
            image[at] = value;
    };
    put(8, 0x40);
    put(9, 0xA6);
    put(12, minor);
    put(13, major);
    put(14, month);
    put(15, year);
    put(23, static_cast<uint8_t>(firstPage));
    put(25, static_cast<uint8_t>(flashType));
    // The program writes the image CRC itself before sending; store the same value so that
    // the file already reads as it will be sent.
    if (image.size() > kImageCrcStart) {
        const uint16_t crc = CRC16(image.data() + kImageCrcStart,
                                   static_cast<uint32_t>(image.size() - kImageCrcStart), kCrcInit);
        put(26, static_cast<uint8_t>(crc >> 8));
        put(27, static_cast<uint8_t>(crc & 0xFF));
    }
    if (IsCipheredName(out)) {
        AppendCheckBytes(image);
        EncryptBuffer(image, ImagePasswordText());
    }
    return WriteFile(out, image) ? kExitOk : kExitFail;
}

std::string PasswordOption(const std::vector<std::string_view>& options) {
    if (options.empty())
        return ImagePasswordText();
    if (options.size() != 2 || options[0] != "--password")
        throw UsageError{"the only option is --password P"};
    if (options[1].size() > kCryptPasswordMax)
        throw UsageError{"a password has at most 12 characters"};
    return std::string(options[1]);
}

int Encrypt(const std::string& in, const std::string& out,
            const std::vector<std::string_view>& options) {
    const std::string password = PasswordOption(options);
    std::vector<uint8_t> bytes;
    if (!ReadFile(in, bytes))
        return kExitFail;
    AppendCheckBytes(bytes);
    EncryptBuffer(bytes, password);
    return WriteFile(out, bytes) ? kExitOk : kExitFail;
}

int Decrypt(const std::string& in, const std::string& out,
            const std::vector<std::string_view>& options) {
    const std::string password = PasswordOption(options);
    std::vector<uint8_t> bytes;
    if (!ReadFile(in, bytes))
        return kExitFail;
    TCryptLib crypt;
    crypt.SetCompression(false);
    crypt.SetPassword(password);
    crypt.DecryptStream(bytes);
    if (bytes.size() < 2 || CRC16(bytes) != 0) {
        std::fprintf(stderr,
                     "orv-osimage: %s fails its check: wrong password, or not a ciphered "
                     "image; nothing written\n",
                     in.c_str());
        return kExitFail;
    }
    bytes.resize(bytes.size() - 2);
    return WriteFile(out, bytes) ? kExitOk : kExitFail;
}

int Run(const std::vector<std::string_view>& args) {
    if (args.empty())
        throw UsageError{"no command given"};
    const std::string_view command = args[0];
    auto rest = [&](size_t from) {
        return std::vector<std::string_view>(args.begin() + static_cast<std::ptrdiff_t>(from),
                                             args.end());
    };
    if (command == "info") {
        if (args.size() != 2)
            throw UsageError{"info takes one FILE"};
        return Info(std::string(args[1]));
    }
    if (command == "make") {
        if (args.size() < 2 || args[1].starts_with("--"))
            throw UsageError{"make needs OUT"};
        return Make(std::string(args[1]), rest(2));
    }
    if (command == "encrypt" || command == "decrypt") {
        if (args.size() < 3 || args[1].starts_with("--") || args[2].starts_with("--"))
            throw UsageError{std::string(command) + " needs IN and OUT"};
        const std::string in(args[1]), out(args[2]);
        return command == "encrypt" ? Encrypt(in, out, rest(3)) : Decrypt(in, out, rest(3));
    }
    throw UsageError{"unknown command " + std::string(command)};
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> given = ProgramArguments(argc, argv);
    std::vector<std::string_view> args(given.begin(), given.end());
    try {
        return Run(args);
    } catch (const UsageError& e) {
        std::fprintf(stderr, "orv-osimage: %s\n", e.Text.c_str());
        Usage();
        return kExitUsage;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "orv-osimage: %s\n", e.what());
        return kExitFail;
    }
}
