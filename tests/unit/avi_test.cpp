// The copy animation (scripts/gen_avi.py) taken apart independently of the generator: what would stop the
// animation control or garble a frame, and the frames against the generator's unencoded pictures.
#include "scratch_folder.h"

namespace {

typedef std::vector<uint8_t> Bytes;
const int kWidth = 260, kHeight = 40;

uint32_t U32(const Bytes& b, size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | (uint32_t)b[at + 3] << 24;
}

// Every chunk of the RIFF tree in file order as "ID" or "LIST:type", with the offset
// and size of its data; false when a chunk runs past its list.
struct Chunk { std::string name; size_t data, size; };
bool Walk(const Bytes& f, size_t at, size_t end, std::vector<Chunk>* out) {
    while (at < end) {
        if (end - at < 8 || U32(f, at + 4) > end - at - 8) return false;
        std::string id(f.begin() + at, f.begin() + at + 4);
        size_t size = U32(f, at + 4);
        bool list = id == "RIFF" || id == "LIST";
        out->push_back({list ? id + ":" + std::string(&f[at + 8], &f[at + 12]) : id, at + 8, size});
        if (list && !Walk(f, at + 12, at + 8 + size, out)) return false;
        at += 8 + size + (size & 1);
    }
    return at == end;
}

// Strict RLE8 of one bottom-up frame, rows returned top first: a run across
// a row end, a short row, a delta or data after the end code is refused.
bool DecodeRle8(const uint8_t* in, size_t size, Bytes* pixels) {
    pixels->assign((size_t)kWidth * kHeight, 0xEE);
    int x = 0, row = 0;
    auto put = [&](uint8_t value) {
        if (x >= kWidth || row >= kHeight) return false;
        (*pixels)[(size_t)(kHeight - 1 - row) * kWidth + x++] = value;
        return true;
    };
    for (size_t at = 0; at + 2 <= size;) {
        uint8_t count = in[at], value = in[at + 1];
        at += 2;
        if (count > 0) {
            for (int i = 0; i < count; ++i)
                if (!put(value)) return false;
        } else if (value <= 1) {
            if (x != kWidth) return false;
            x = 0;
            if (++row, value == 1) return row == kHeight && at == size;
        } else {
            size_t padded = value + (value & 1);
            if (value == 2 || padded > size - at) return false;
            for (int i = 0; i < value; ++i)
                if (!put(in[at + i])) return false;
            at += padded;
        }
    }
    return false;
}

TEST(CopyAnimation, EveryFrameDecodesToTheDrawnPictureWithinTheDeclaredBuffers) {
    ScratchFolder scratch;
    std::string base = (scratch.path() / "filecopy").string();
    std::string command = std::string(VN_TEST_PYTHON) + " " + VN_SOURCE_DIR +
                          "/scripts/gen_avi.py " + base + ".avi --raw " + base + ".raw";
    ASSERT_EQ(0, system(command.c_str()));
    const std::string avi = ReadAll(base + ".avi"), drawn = ReadAll(base + ".raw");
    const Bytes file(avi.begin(), avi.end()), raw(drawn.begin(), drawn.end());
    std::vector<Chunk> chunks;
    ASSERT_TRUE(Walk(file, 0, file.size(), &chunks));
    std::map<std::string, std::vector<const Chunk*>> named;
    for (const Chunk& c : chunks) named[c.name].push_back(&c);
    EXPECT_EQ(named["LIST:strl"].size(), 1u) << "a second stream (sound) stops the control";
    ASSERT_TRUE(named["strh"].size() == 1 && named["strf"].size() == 1);
    const Chunk *strh = named["strh"][0], *strf = named["strf"][0];
    const std::vector<const Chunk*>& frames = named["00dc"];
    EXPECT_EQ(U32(file, strf->data + 16), 1u) << "BI_RLE8";
    const size_t frame_size = (size_t)kWidth * kHeight;
    ASSERT_EQ(raw.size(), frames.size() * frame_size);
    // GDI reads at most biSizeImage of a frame, the control dwSuggestedBufferSize.
    for (size_t i = 0; i < frames.size(); ++i) {
        EXPECT_LE(frames[i]->size, U32(file, strf->data + 20)) << i;
        EXPECT_LE(frames[i]->size, U32(file, strh->data + 36)) << i;
        Bytes pixels;
        ASSERT_TRUE(DecodeRle8(&file[frames[i]->data], frames[i]->size, &pixels)) << i;
        EXPECT_TRUE(std::equal(pixels.begin(), pixels.end(), raw.begin() + i * frame_size)) << i;
        EXPECT_TRUE(i == 0 || !std::equal(pixels.begin(), pixels.end(), raw.begin() + (i - 1) * frame_size))
            << "a still frame " << i;
        // The first frame's top-left pixel is transparent: keep off the top and bottom rows.
        for (int x = 0; x < kWidth; ++x)
            ASSERT_TRUE(pixels[x] == raw[0] && pixels[frame_size - 1 - x] == raw[0]) << i;
    }
}

}  // namespace
