// vnpack rct and vnpack png: title pictures from PNG to RCT and back, the
// way back through the updater's own decoder; and the conversion that
// vnpack build applies to insttscr.png.
#include "picture.h"

#include <errno.h>
#include <string.h>

#include "base/platform.h"
#include "base/text.h"
#include "image/rct.h"
#include "lint.h"
#include "png.h"
#include "rct_encode.h"
#include "vnpack.h"

namespace {

// Input files beyond this are refused before they are read: a PNG or RCT
// file of the largest picture vnpack converts is far smaller.
const uint64_t kLargestInputFile = 256u * 1024 * 1024;

std::string Lower(std::string text) {
    if (!text.empty()) LowerCaseCp932(&text[0]);
    return text;
}

// Reads a whole file. Empty string, or the problem.
std::string ReadWholeFile(const fs::path& path, std::vector<unsigned char>* bytes) {
    std::error_code error;
    if (fs::is_directory(path, error)) return "is a folder";
    FILE* in = OpenPath(path, "rb");
    if (!in) return strerror(errno);
    bytes->clear();
    unsigned char block[65536];
    size_t got;
    std::string problem;
    while ((got = fread(block, 1, sizeof block, in)) > 0) {
        if (bytes->size() + got > kLargestInputFile) {
            problem = "file too large";
            break;
        }
        bytes->insert(bytes->end(), block, block + got);
    }
    if (problem.empty() && ferror(in)) problem = "read error";
    fclose(in);
    return problem;
}

// Writes bytes under a temporary sibling of path and renames it into place,
// so that a failure leaves nothing half-written. Empty string, or the problem.
std::string WriteWholeFile(const fs::path& path, const std::vector<unsigned char>& bytes) {
    fs::path part = path;
    part += ".vnpack-part";
    FILE* out = OpenPath(part, "wb");
    if (!out) return strerror(errno);
    bool ok = fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
    ok = fclose(out) == 0 && ok;
    std::error_code error;
    if (ok) fs::rename(part, path, error);
    if (!ok || error) {
        fs::remove(part, error);
        return ok ? "cannot replace it" : "write error";
    }
    return "";
}

// PNG file to RCT file bytes. Empty string, or the problem.
// *damaged (when given) is set when the file was read but is no good PNG.
std::string ConvertPngToRct(const fs::path& png, const std::string* name,
                            std::vector<unsigned char>* rct, bool* damaged = nullptr) {
    std::vector<unsigned char> bytes;
    std::string problem = ReadWholeFile(png, &bytes);
    if (!problem.empty()) return problem;
    std::vector<unsigned char> pixels;
    int32_t width = 0, height = 0;
    if (!DecodePng(bytes.data(), bytes.size(), &pixels, &width, &height, &problem)) {
        if (damaged) *damaged = true;
        return problem;
    }
    *rct = EncodeRctFile(pixels.data(), width, height, name);
    return "";
}

}  // namespace

int RctCommand(const Arguments& args) {
    const std::vector<std::string>& files = args.operands;
    bool named = args.Has("--name");
    std::string name_utf8 = args.Get("--name");
    std::string name;
    if (named) {
        // Code page 932 never takes more bytes than UTF-8 for the same text.
        std::vector<char> buffer(name_utf8.size() + 1);
        if (!OsUtf8ToCp932(name_utf8.c_str(), buffer.data(), buffer.size()))
            return Complain(name_utf8, "name cannot be written in code page 932");
        name = buffer.data();
        if (name.size() > 0xFFFF) return Complain("--name", "name longer than 65,535 bytes");
    }
    std::vector<unsigned char> rct;
    bool damaged = false;
    std::string problem =
        ConvertPngToRct(PathFromUtf8(files[0]), named ? &name : nullptr, &rct, &damaged);
    if (!problem.empty()) return damaged ? Refuse(files[0], problem) : Complain(files[0], problem);
    problem = WriteWholeFile(PathFromUtf8(files[1]), rct);
    if (!problem.empty()) return Complain(files[1], problem);
    RctHeader header;
    ReadRctHeader(rct.data(), &header);
    printf("wrote %s: %d x %d pixels\n", files[1].c_str(), (int)header.width, (int)header.height);
    std::string fit = TitlePictureFit(header.width, header.height);
    if (!fit.empty()) fprintf(stderr, "vnpack: %s: warning: %s\n", files[1].c_str(), fit.c_str());
    return 0;
}

int PngCommand(const Arguments& args) {
    const std::string& input = args.operands[0];
    const std::string& output = args.operands[1];
    std::vector<unsigned char> bytes;
    std::string problem = ReadWholeFile(PathFromUtf8(input), &bytes);
    if (!problem.empty()) return Complain(input, problem);
    RctHeader header;
    const unsigned char* stream = nullptr;
    if (bytes.size() < kRctHeaderLength || ReadRctHeader(bytes.data(), &header) == kRctNotRct)
        return Refuse(input, "not an RCT picture");
    if (LocateRctStream(bytes.data(), bytes.size(), &header, &stream) != 0)
        return Refuse(input, "damaged RCT picture (bad size, or the file is cut short)");
    if ((uint64_t)header.width * (uint64_t)header.height > kLargestPicturePixels)
        return Complain(input, "picture too large: " + std::to_string(header.width) + " x " +
                                   std::to_string(header.height) + " (at most " +
                                   std::to_string(kLargestPicturePixels) + " pixels)");
    int32_t stride = ImageStride(header.width, 0);
    std::vector<unsigned char> pixels(RctPictureSize(header));
    if (DecodeRctPixels(stream, header.data_size, header.width, header.height, pixels.data(),
                        stride) != 0)
        return Refuse(input,
                      "damaged RCT picture (the pixel commands run outside the picture "
                      "or the data)");
    std::vector<unsigned char> png;
    if (!EncodePng(pixels.data(), header.width, header.height, stride, &png))
        return Complain(output, "cannot encode the PNG picture");
    problem = WriteWholeFile(PathFromUtf8(output), png);
    if (!problem.empty()) return Complain(output, problem);
    printf("wrote %s: %d x %d pixels\n", output.c_str(), (int)header.width, (int)header.height);
    return 0;
}

bool TitlePictureName(const fs::path& folder, std::string* name) {
    if (Lower(*name) != kTitlePictureSource) return true;
    std::error_code error;
    for (const auto& item : fs::directory_iterator(folder, error)) {
        if (Lower(PathToUtf8(item.path().filename())) == kTitlePictureName) return false;
    }
    *name = kTitlePictureName;
    return true;
}

FILE* OpenEntrySource(const fs::path& source, const std::string& name,
                      const fs::path& scratch_folder, std::string* problem) {
    if (name != kTitlePictureName || Lower(PathToUtf8(source.extension())) != ".png")
        return OpenPath(source, "rb");
    std::vector<unsigned char> rct;
    std::string why = ConvertPngToRct(source, nullptr, &rct);
    fs::path converted = scratch_folder / kTitlePictureName;
    if (why.empty()) why = WriteWholeFile(converted, rct);
    FILE* in = why.empty() ? OpenPath(converted, "rb") : nullptr;
    if (!in) *problem = why.empty() ? "cannot read the converted picture" : why;
    return in;
}
