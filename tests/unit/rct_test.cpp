// RCT pictures; the encoder's round trips are rct_fuzz's and vnpack_test's.
#include "image/rct.h"

#include "filelayer/filelayer.h"
#include "rct_encode.h"
#include "scratch_folder.h"

namespace {

typedef std::vector<unsigned char> Bytes;

const size_t kGuard = 64;  // bytes after the pixel memory that must stay untouched

// Decodes into rows of the surface's stride followed by a guard; *rows gets the pixels.
int Decode(const Bytes& stream, int32_t width, int32_t height, Bytes* rows = nullptr) {
    int32_t stride = ImageStride(width, 0);
    Bytes memory((size_t)stride * (height > 0 ? height : 0) + kGuard, 0xA5);
    int result = DecodeRctPixels(stream.data(), stream.size(), width, height, memory.data(), stride);
    EXPECT_EQ(Bytes(memory.end() - kGuard, memory.end()), Bytes(kGuard, 0xA5));
    for (int32_t y = 0; rows && y < height; ++y)
        rows->insert(rows->end(), &memory[(size_t)y * stride], &memory[(size_t)y * stride] + 3 * width);
    return result;
}

// Pixels 'A'.. as 3 equal bytes each.
Bytes Px(const char* names) {
    Bytes out;
    for (; *names; ++names) out.insert(out.end(), 3, (unsigned char)*names);
    return out;
}
Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}
Bytes Repeat(const char* pattern, size_t count) {
    std::string text;
    while (text.size() < count) text += pattern;
    return Px(text.substr(0, count).c_str());
}

TEST(Rct, HandMadeStreams) {
    // pixels empty: damaged, no picture; damage is found before any overrun
    const struct { const char* what; int32_t width, height; Bytes stream, pixels; } cases[] = {
        {"1x1 is its first pixel, no command", 1, 1, Px("A"), Px("A")},
        {"bytes after the last pixel are ignored", 1, 1, Cat({Px("A"), {0x7F}}), Px("A")},
        {"long literal v=0 is 128 pixels", 129, 1, Cat({Px("A"), {0x7F, 0, 0}, Repeat("BC", 128)}),
         Cat({Px("A"), Repeat("BC", 128)})},
        {"long copy v=0 is 4 pixels", 5, 1, Cat({Px("A"), {0x83, 0, 0}}), Px("AAAAA")},
        {"index 0 count 20 after one pixel", 21, 1, Cat({Px("A"), {0x83, 16, 0}}), Repeat("A", 21)},
        {"overlapping copy repeats a period of 2", 8, 1, Cat({Px("A"), {0x00}, Px("B"), {0x87, 2, 0}}),
         Px("ABABABAB")},
        {"long overlapping copy, period 3", 43, 1, Cat({Px("A"), {0x01}, Px("BC"), {0x8B, 36, 0}}),
         Repeat("ABC", 43)},
        // Row 1 copies row 0 from straight above (index 9), then index 6
        // (+3 - W) at the row's last pixel reaches the third pixel of row 1.
        {"index 6 at the end of a row", 6, 2, Cat({Px("A"), {0x04}, Px("BCDEF"), {0xA7, 1, 0, 0x98}}),
         Px("ABCDEFABCDEC")},
        // Short copies (up to 16 bytes) from further back than their length:
        // 3 and 1 pixels from straight above (index 9), 12 bytes back.
        {"short copies from the row above", 4, 2, Cat({Px("A"), {0x02}, Px("BCD"), {0xA6, 0xA4}}),
         Px("ABCDABCD")},
        {"first pixel cut", 1, 1, Bytes{1, 2}, {}},
        {"command missing", 2, 1, Px("A"), {}},
        {"long literal count cut", 200, 1, Cat({Px("A"), {0x7F, 0}}), {}},
        {"literal beyond the data", 3, 1, Cat({Px("A"), {0x01}, Px("B")}), {}},
        {"long copy count cut", 9, 1, Cat({Px("A"), {0x83, 0}}), {}},
        {"copy from before pixel 0", 4, 2, Cat({Px("A"), {0x02}, Px("BCD"), {0xEC}}), {}},
        {"copy from above in row 0", 4, 2, Cat({Px("A"), {0xA4}}), {}},
        {"index 6 forward, W = 2", 2, 2, Cat({Px("A"), {0x00}, Px("B"), {0x98, 0x80}}), {}},
        {"index 6 onto itself, W = 3", 3, 2, Cat({Px("A"), {0x01}, Px("BC"), {0x98}}), {}},
        {"literal past the end", 2, 1, Cat({Px("A"), {0x01}, Px("BC")}), {}},
        {"long literal past the end", 99, 1, Cat({Px("A"), {0x7F, 0, 0}, Repeat("B", 128)}), {}},
        {"copy past the end", 2, 1, Cat({Px("A"), {0x81}}), {}},
        {"long copy past the end", 300, 1, Cat({Px("A"), {0x83, 0xFF, 0xFF}}), {}},
        {"zero width", 0, 1, Px("A"), {}},
        {"negative height", 1, -1, Px("A"), {}},
    };
    for (const auto& c : cases) {
        Bytes rows;
        EXPECT_EQ(Decode(c.stream, c.width, c.height, &rows), c.pixels.empty() ? -1 : 0) << c.what;
        EXPECT_EQ(c.pixels.empty() ? c.pixels : rows, c.pixels) << c.what;
    }
}

// The encoder takes long copies: a flat picture packs to under 1 %.
TEST(Rct, EncoderPacksAFlatPicture) {
    Bytes flat(3 * 256 * 256, 0x40);
    EXPECT_LT(EncodeRctStream(flat.data(), 256, 256).size() * 100, flat.size());
}

Bytes Picture(int32_t width, int32_t height) {
    Bytes pixels(3 * (size_t)width * height);
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = (unsigned char)(i * i / 7);
    return pixels;
}

class RctFile : public ScratchFolderTest {
   protected:
    void SetUp() override {
        ScratchFolderTest::SetUp();
        Ffsetdirect(1);
    }
    ImageSurface* Load(const Bytes& file) {
        WriteAll("p.rct", std::string(file.begin(), file.end()));
        bool declined;
        return LoadRctImage("p.rct", &declined);
    }
};

TEST_F(RctFile, ReadsBothKindsIntoTheSurfaceRows) {
    Bytes pixels = Picture(255, 4);
    const std::string star = "\x90\xaf";  // 星
    for (const std::string* name : {(const std::string*)nullptr, &star}) {
        ImageSurface* surface = Load(EncodeRctFile(pixels.data(), 255, 4, name));
        ASSERT_NE(surface, nullptr);
        EXPECT_TRUE(surface->width == 255 && surface->height == 4 && surface->stride == 768);
        for (int y = 0; y < 4; ++y)
            EXPECT_EQ(0, memcmp(surface->pixels + 768 * y, &pixels[765 * y], 765)) << y;
        FreeImageSurface(surface, 0);
    }
    // By hand: "六丁TC01", 1 x 1, 3 bytes of data, a name of length 0, the pixel at 22.
    ImageSurface* surface = Load(Cat({Bytes(kRctMagicNamed, kRctMagicNamed + 8),
                                      {1, 0, 0, 0, 1, 0, 0, 0, 3, 0, 0, 0, 0, 0}, Px("Z")}));
    ASSERT_NE(surface, nullptr);
    EXPECT_EQ(Bytes(surface->pixels, surface->pixels + 3), Px("Z"));
    FreeImageSurface(surface, 0);
}

TEST_F(RctFile, NoPictureFromWhatIsNotAWholeRctPicture) {
    Bytes pixels = Picture(16, 16);
    std::string name = "title";
    Bytes plain = EncodeRctFile(pixels.data(), 16, 16, nullptr);
    Bytes named = EncodeRctFile(pixels.data(), 16, 16, &name);
    auto with = [&](Bytes file, size_t at, std::initializer_list<unsigned char> bytes) {
        std::copy(bytes.begin(), bytes.end(), file.begin() + at);
        return file;
    };
    const std::pair<const char*, Bytes> cases[] = {
        {"empty file", {}},
        {"header cut short", Bytes(plain.begin(), plain.begin() + 12)},
        {"name length cut short", Bytes(named.begin(), named.begin() + 21)},
        {"name cut short", Bytes(named.begin(), named.begin() + 24)},
        {"stream cut short", Bytes(plain.begin(), plain.end() - 1)},
        {"other magic", with(plain, 7, {'2'})},
        {"width 0", with(plain, 8, {0, 0, 0, 0})},
        {"height -1", with(plain, 12, {0xFF, 0xFF, 0xFF, 0xFF})},
        {"pixel memory beyond 32 bits", with(plain, 8, {0, 0, 1, 0, 0, 0, 1, 0})},
        {"data size beyond the file", with(plain, 16, {0xFF, 0xFF, 0xFF, 0xFF})},
        {"damaged stream", with(plain, 20 + 3, {0xA4})},
    };
    // The in-memory reader must agree with this one: rct_fuzz's promise.
    for (const auto& c : cases) EXPECT_EQ(Load(c.second), nullptr) << c.first;
}

TEST(ImageSurface, StridesAndInfoBlock) {
    const struct { int32_t width, height; int paletted; int32_t stride; } cases[] = {
        {1, 2, 0, 4}, {255, 2, 0, 768}, {256, -2, 0, 768}, {1, 2, 1, 4}, {255, -2, 1, 256}, {256, 2, 1, 256}};
    for (const auto& c : cases) {
        ImageSurface* surface = CreateImageSurface(c.width, c.height, c.paletted, 0);
        ASSERT_NE(surface, nullptr);
        EXPECT_EQ(surface->stride, c.stride) << c.width;
        EXPECT_EQ(surface->height, 2);
        int32_t info_height;
        memcpy(&info_height, surface->info + 8, 4);
        EXPECT_EQ(info_height, -c.height);  // top-down when asked with a positive height
        EXPECT_EQ(surface->info[14], c.paletted ? 8 : 24);
        EXPECT_EQ(surface->colours, c.paletted ? surface->info + 40 : nullptr);
        FreeImageSurface(surface, 0);
    }
    EXPECT_EQ(CreateImageSurface24(0x7FFFFFFF, 2, 0), nullptr);
    EXPECT_EQ(CreateImageSurface24(0, 2, 0), nullptr);
}

}  // namespace
