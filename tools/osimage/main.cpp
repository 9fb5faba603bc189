// orv-osimage: for the people who prepare and check OS images. Nothing in the program makes
// a ciphered image, so this tool is where they come from.

#include "cipher/crypt_encrypt.h"
#include "cipher/crypt_lib.h"
#include "command_line.h"
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

const char* const kSynopsis =
    "usage:\n"
    "  orv-osimage info FILE\n"
    "  orv-osimage make OUT [--size BYTES] [--first-page N] [--version 1.61]\n"
    "                       [--date 03/2010] [--flash-type N] [--seed N]\n"
    "  orv-osimage encrypt IN OUT [--password P]\n"
    "  orv-osimage decrypt IN OUT [--password P]\n"
    "\n"
    "A name whose two characters after the last \".\" are \"os\" is ciphered; make writes\n"
    "such a file enciphered, with its check bytes. The default password is the program's.";

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
        std::fprintf(stderr, "%s\n",
                     WithCipheredNameHint("File corruption or Illegal OS file", path).c_str());
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

// What make writes into the header, as typed and checked.
struct MakeRecipe {
    std::string Out;
    uint64_t Size = kMinImageSize;
    uint64_t FirstPage = 128;
    uint64_t FlashType = 2;
    uint64_t Seed = 1;
    std::string Version = "1.61";
    std::string Date = "03/2010";
};

// "1.61": shown as "%X.%02X", so the digits are the header bytes' hexadecimal text.
std::optional<std::pair<uint8_t, uint8_t>> VersionBytes(std::string_view value) {
    const size_t dot = value.find('.');
    const auto hi = HexPair(value.substr(0, dot));
    const auto lo = dot == std::string_view::npos ? std::nullopt : HexPair(value.substr(dot + 1));
    if (!hi || !lo || value.size() - dot - 1 != 2)
        return std::nullopt;
    return std::make_pair(*hi, *lo);
}

// "03/2010": month and year as the header's two bytes of hexadecimal text.
std::optional<std::pair<uint8_t, uint8_t>> DateBytes(std::string_view value) {
    const auto mm = value.size() == 7 ? HexPair(value.substr(0, 2)) : std::nullopt;
    const auto yy = value.size() == 7 ? HexPair(value.substr(5, 2)) : std::nullopt;
    if (!mm || !yy || value.substr(2, 3) != "/20")
        return std::nullopt;
    return std::make_pair(*mm, *yy);
}

int Make(const MakeRecipe& recipe) {
    const uint64_t size = recipe.Size, firstPage = recipe.FirstPage, flashType = recipe.FlashType,
                   seed = recipe.Seed;
    const auto [major, minor] = *VersionBytes(recipe.Version);
    const auto [month, year] = *DateBytes(recipe.Date);
    const std::string& out = recipe.Out;
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

int Encrypt(const std::string& in, const std::string& out, const std::string& password) {
    std::vector<uint8_t> bytes;
    if (!ReadFile(in, bytes))
        return kExitFail;
    AppendCheckBytes(bytes);
    EncryptBuffer(bytes, password);
    return WriteFile(out, bytes) ? kExitOk : kExitFail;
}

int Decrypt(const std::string& in, const std::string& out, const std::string& password) {
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

using cli::Check;

// Decimal or 0x hexadecimal; handed on in decimal, as CLI11 would read a leading 0 as octal.
CLI::Validator Number(uint64_t max) {
    return CLI::Validator(
        [max](std::string& v) {
            const auto value = ParseNumber(v);
            if (!value || *value > max)
                return "wants a number from 0 to " + std::to_string(max) + ", not \"" + v + "\"";
            v = std::to_string(*value);
            return std::string();
        },
        "", "N");
}

int Run(int argc, char** argv) {
    CLI::App app("", "orv-osimage");
    cli::Configure(app, kSynopsis, "");
    app.require_subcommand(1);

    std::string file, in, out, password = ImagePasswordText();
    MakeRecipe recipe;
    CLI::App* info =
        app.add_subcommand("info", "show an image's header and what a download would find");
    info->add_option("FILE", file, "the image")->required();

    CLI::App* make = app.add_subcommand("make", "make a test image with random content");
    make->add_option("OUT", recipe.Out, "the image to write")->required();
    make->add_option("--size", recipe.Size, "its size in bytes")
        ->type_name("BYTES")
        ->transform(Number(kMakeSizeMax));
    make->add_option("--first-page", recipe.FirstPage, "first page sent after the header page")
        ->type_name("N")
        ->transform(Number(255));
    make->add_option("--flash-type", recipe.FlashType, "flash type code")
        ->type_name("N")
        ->transform(Number(255));
    make->add_option("--seed", recipe.Seed, "the content's seed: the same seed, the same image")
        ->type_name("N")
        ->transform(Number(UINT64_MAX));
    make->add_option("--version", recipe.Version, "OS version, hexadecimal digits")
        ->type_name("M.MM")
        ->check(Check("M.MM", [](const std::string& v) {
            return VersionBytes(v) ? std::string()
                                   : "wants MAJOR.MM in hexadecimal digits, like 1.61";
        }));
    make->add_option("--date", recipe.Date, "release date")
        ->type_name("MM/20YY")
        ->check(Check("MM/20YY", [](const std::string& v) {
            return DateBytes(v) ? std::string() : "wants MM/20YY, like 03/2010";
        }));

    CLI::App* encrypt = app.add_subcommand("encrypt", "encipher a plain image, with check bytes");
    CLI::App* decrypt = app.add_subcommand("decrypt", "decipher an image that passes its check");
    for (CLI::App* sub : {encrypt, decrypt}) {
        sub->add_option("IN", in, "the image to read")->required();
        sub->add_option("OUT", out, "the image to write")->required();
        sub->add_option("--password", password, "at most 12 characters")
            ->type_name("P")
            ->check(Check("P", [](const std::string& v) {
                return v.size() > kCryptPasswordMax
                           ? std::string("a password has at most 12 characters")
                           : std::string();
            }));
    }

    // UTF-8 on every platform (the wide command line on Windows).
    const std::vector<std::string> args = ProgramArguments(argc, argv);
    cli::TOutcome parsed = cli::Parse(app, args);
    // CLI11 says only that a subcommand is required; say which there are.
    const auto isCommand = [&](const std::string& arg) {
        return !app.get_subcommands([&](const CLI::App* sub) { return sub->get_name() == arg; })
                    .empty();
    };
    if (parsed.Kind == cli::TOutcome::TKind::Refused && (args.empty() || !isCommand(args[0])))
        parsed.Text = (args.empty() || args[0].starts_with("-") ? "no command given"
                                                                : "unknown command " + args[0]) +
                      ": info, make, encrypt or decrypt";
    if (parsed.Kind == cli::TOutcome::TKind::Print) {
        std::fputs(parsed.Text.c_str(), stdout);
        return kExitOk;
    }
    if (parsed.Kind == cli::TOutcome::TKind::Refused) {
        std::fprintf(stderr, "orv-osimage: %s\n\n%s", parsed.Text.c_str(), app.help().c_str());
        return kExitUsage;
    }
    if (info->parsed())
        return Info(file);
    if (make->parsed())
        return Make(recipe);
    return encrypt->parsed() ? Encrypt(in, out, password) : Decrypt(in, out, password);
}

} // namespace

int main(int argc, char** argv) {
    try {
        return Run(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "orv-osimage: %s\n", e.what());
        return kExitFail;
    }
}
