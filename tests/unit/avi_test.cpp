// The copy animation as the animation control will read it: scripts/gen_avi.py
// is run, and its clip is taken apart by a reader written here from the AVI
// and RLE8 layouts, independently of the generator. The decoded frames must
// equal the generator's unencoded frames.
#include <gtest/gtest.h>

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

namespace {

const int kWidth = 260;
const int kHeight = 40;
const int kFrames = 17;

typedef std::vector<uint8_t> Bytes;

bool ReadWholeFile(const std::string& path, Bytes* out) {
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) return false;
    uint8_t buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, f)) > 0)
        out->insert(out->end(), buffer, buffer + n);
    fclose(f);
    return true;
}

uint32_t U32(const Bytes& b, size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | ((uint32_t)b[at + 3] << 24);
}
uint16_t U16(const Bytes& b, size_t at) {
    return (uint16_t)(b[at] | (b[at + 1] << 8));
}
std::string FourCc(const Bytes& b, size_t at) {
    return std::string((const char*)&b[at], 4);
}

// One chunk or list of a RIFF file.
struct Chunk {
    std::string id;
    std::string list_type;  // for RIFF and LIST only
    size_t data;            // offset of the data (after the list type for lists)
    size_t size;            // size of the data
};

// The chunks directly inside [begin, end); false when one runs past the end.
bool ListChunks(const Bytes& file, size_t begin, size_t end, std::vector<Chunk>* out) {
    size_t at = begin;
    while (at < end) {
        if (end - at < 8) return false;
        Chunk chunk;
        chunk.id = FourCc(file, at);
        uint32_t size = U32(file, at + 4);
        if (size > end - at - 8) return false;
        chunk.data = at + 8;
        chunk.size = size;
        if (chunk.id == "LIST" || chunk.id == "RIFF") {
            if (size < 4) return false;
            chunk.list_type = FourCc(file, at + 8);
            chunk.data += 4;
            chunk.size -= 4;
        }
        out->push_back(chunk);
        at += 8 + size + (size & 1);
    }
    return at == end;
}

const Chunk* Find(const std::vector<Chunk>& chunks, const char* id, const char* list_type = "") {
    for (const Chunk& c : chunks) {
        if (c.id == id && c.list_type == list_type) return &c;
    }
    return nullptr;
}

// Strict RLE8 decoder of one bottom-up frame into rows top first. Rejects
// what a careful encoder never writes: a run across the end of a row, a row
// ended short, a delta, data after the end of the bitmap.
bool DecodeRle8(const uint8_t* in, size_t size, int width, int height, Bytes* pixels,
                std::string* why) {
    pixels->assign((size_t)width * height, 0xEE);
    int x = 0, row = 0;  // row counts from the bottom
    size_t at = 0;
    auto put = [&](uint8_t value) {
        if (x >= width || row >= height) return false;
        (*pixels)[(size_t)(height - 1 - row) * width + x++] = value;
        return true;
    };
    while (at + 2 <= size) {
        uint8_t count = in[at], value = in[at + 1];
        at += 2;
        if (count > 0) {
            for (int i = 0; i < count; ++i) {
                if (!put(value)) return *why = "run past the end of a row", false;
            }
            continue;
        }
        if (value == 0 || value == 1) {  // end of line, end of bitmap
            if (x != width) return *why = "row ended short", false;
            x = 0;
            ++row;
            if (value == 1) {
                if (row != height) return *why = "bitmap ended early", false;
                if (at != size) return *why = "data after the end of the bitmap", false;
                return true;
            }
            continue;
        }
        if (value == 2) return *why = "delta", false;
        size_t padded = value + (value & 1);
        if (padded > size - at) return *why = "absolute block past the data", false;
        for (int i = 0; i < value; ++i) {
            if (!put(in[at + i])) return *why = "absolute block past the end of a row", false;
        }
        at += padded;
    }
    return *why = "no end-of-bitmap code", false;
}

// The clip is generated and taken apart into its lists once for all tests.
class CopyAnimation : public ::testing::Test {
   protected:
    static void SetUpTestSuite() {
        char folder[] = "/tmp/vn_avi_XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(folder));
        std::string avi = std::string(folder) + "/filecopy.avi";
        std::string raw = std::string(folder) + "/frames.raw";
        std::string command = std::string(VN_TEST_PYTHON) + " " + VN_SOURCE_DIR +
                              "/scripts/gen_avi.py " + avi + " --raw " + raw;
        ASSERT_EQ(0, system(command.c_str()));
        ASSERT_TRUE(ReadWholeFile(avi, &file_));
        ASSERT_TRUE(ReadWholeFile(raw, &raw_));
        remove(avi.c_str());
        remove(raw.c_str());
        remove(folder);

        ASSERT_TRUE(ListChunks(file_, 0, file_.size(), &top_));
        ASSERT_EQ(1u, top_.size());
        ASSERT_EQ("AVI ", top_[0].list_type);
        ASSERT_TRUE(Children(top_[0], &riff_));
        const Chunk* hdrl = Find(riff_, "LIST", "hdrl");
        ASSERT_TRUE(hdrl && Children(*hdrl, &header_));
        const Chunk* strl = Find(header_, "LIST", "strl");
        ASSERT_TRUE(strl && Children(*strl, &stream_));
    }
    static bool Children(const Chunk& list, std::vector<Chunk>* out) {
        return ListChunks(file_, list.data, list.data + list.size, out);
    }
    static Bytes file_;
    static Bytes raw_;
    static std::vector<Chunk> top_, riff_, header_, stream_;
};
Bytes CopyAnimation::file_;
Bytes CopyAnimation::raw_;
std::vector<Chunk> CopyAnimation::top_, CopyAnimation::riff_, CopyAnimation::header_,
    CopyAnimation::stream_;

TEST_F(CopyAnimation, HeadersDescribeOneSilentRle8Stream) {
    const Chunk* avih = Find(header_, "avih");
    ASSERT_TRUE(avih);
    ASSERT_EQ(56u, avih->size);
    EXPECT_EQ(100000u, U32(file_, avih->data));  // microseconds per frame
    EXPECT_EQ((uint32_t)kFrames, U32(file_, avih->data + 16));
    EXPECT_EQ(1u, U32(file_, avih->data + 24));  // streams: video only
    EXPECT_EQ((uint32_t)kWidth, U32(file_, avih->data + 32));
    EXPECT_EQ((uint32_t)kHeight, U32(file_, avih->data + 36));

    int stream_lists = 0;
    for (const Chunk& c : header_) stream_lists += c.list_type == "strl";
    EXPECT_EQ(1, stream_lists) << "a second stream (sound) stops the control";
    const Chunk* strh = Find(stream_, "strh");
    const Chunk* strf = Find(stream_, "strf");
    ASSERT_TRUE(strh && strf);
    EXPECT_EQ("vids", FourCc(file_, strh->data));
    std::string handler = FourCc(file_, strh->data + 4);
    EXPECT_TRUE(handler == std::string(4, '\0') || handler == "RLE " || handler == "mrle");
    EXPECT_EQ(10u, U32(file_, strh->data + 24) / U32(file_, strh->data + 20));  // rate / scale
    EXPECT_EQ((uint32_t)kFrames, U32(file_, strh->data + 32));

    ASSERT_EQ(40u + 16 * 4, strf->size);
    EXPECT_EQ(40u, U32(file_, strf->data));
    EXPECT_EQ((uint32_t)kWidth, U32(file_, strf->data + 4));
    EXPECT_EQ((uint32_t)kHeight, U32(file_, strf->data + 8));  // positive: bottom-up
    EXPECT_EQ(8, U16(file_, strf->data + 14));
    EXPECT_EQ(1u, U32(file_, strf->data + 16));   // BI_RLE8
    EXPECT_EQ(16u, U32(file_, strf->data + 32));  // colours used
}

TEST_F(CopyAnimation, FramesDecodeToTheDrawnPictures) {
    ASSERT_EQ((size_t)kFrames * kWidth * kHeight, raw_.size());
    std::vector<Chunk> movi;
    const Chunk* movi_list = Find(riff_, "LIST", "movi");
    const Chunk* idx1 = Find(riff_, "idx1");
    const Chunk* strh = Find(stream_, "strh");
    const Chunk* strf = Find(stream_, "strf");
    ASSERT_TRUE(movi_list && idx1 && strh && strf && Children(*movi_list, &movi));
    ASSERT_EQ((size_t)kFrames, movi.size());
    ASSERT_EQ((size_t)kFrames * 16, idx1->size);

    // GDI reads at most biSizeImage bytes of a compressed frame, and the
    // control reads dwSuggestedBufferSize bytes: both must cover every frame.
    uint32_t image_size = U32(file_, strf->data + 20);
    uint32_t suggested = U32(file_, strh->data + 36);

    size_t movi_type_offset = movi_list->data - 4;
    for (int frame = 0; frame < kFrames; ++frame) {
        const Chunk& c = movi[frame];
        EXPECT_EQ("00dc", c.id) << frame;
        EXPECT_LE(c.size, image_size) << frame;
        EXPECT_LE(c.size, suggested) << frame;
        // The index points at the chunk header, counted from the 'movi' word.
        size_t entry = idx1->data + (size_t)frame * 16;
        EXPECT_EQ("00dc", FourCc(file_, entry));
        EXPECT_EQ(0x10u, U32(file_, entry + 4) & 0x10) << "every frame is a key frame";
        EXPECT_EQ(c.data - 8 - movi_type_offset, U32(file_, entry + 8)) << frame;
        EXPECT_EQ(c.size, U32(file_, entry + 12)) << frame;

        Bytes pixels;
        std::string why;
        ASSERT_TRUE(DecodeRle8(&file_[c.data], c.size, kWidth, kHeight, &pixels, &why))
            << "frame " << frame << ": " << why;
        Bytes expected(raw_.begin() + (size_t)frame * kWidth * kHeight,
                       raw_.begin() + (size_t)(frame + 1) * kWidth * kHeight);
        EXPECT_EQ(expected, pixels) << "frame " << frame;
        for (uint8_t index : pixels) ASSERT_LT(index, 16) << "outside the 16-colour palette";
    }
}

TEST_F(CopyAnimation, PageMovesAndCornerIsBackground) {
    ASSERT_EQ((size_t)kFrames * kWidth * kHeight, raw_.size());
    const size_t frame_size = (size_t)kWidth * kHeight;
    for (int frame = 1; frame < kFrames; ++frame) {
        EXPECT_NE(0, memcmp(&raw_[(frame - 1) * frame_size], &raw_[frame * frame_size], frame_size))
            << "frames " << frame - 1 << " and " << frame << " are the same";
    }
    // The control takes the first frame's top-left pixel as the transparent
    // colour: it must be the background that surrounds the picture.
    uint8_t corner = raw_[0];
    for (int frame = 0; frame < kFrames; ++frame) {
        const uint8_t* f = &raw_[frame * frame_size];
        for (int x = 0; x < kWidth; ++x) {
            EXPECT_EQ(corner, f[x]);
            EXPECT_EQ(corner, f[(kHeight - 1) * kWidth + x]);
        }
    }
}

}  // namespace
