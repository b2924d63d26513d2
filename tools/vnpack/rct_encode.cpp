// The RCT encoder: an optimal parse, backwards over the pixels, of literal
// runs and copies from the 32 offsets, counted in bytes of output.
//
// For every pixel i the cheapest encoding of the pixels from i to the end is
// known before i - 1 is looked at: either a copy from one of the offsets
// (1 byte for up to 3 pixels, 3 bytes for up to 65,539), or a literal run
// that starts at i. Match lengths come from the same backward walk: the match
// at i for an offset is one longer than at i + 1 when pixel i equals its
// source. Literal runs are counted as 3 bytes a pixel plus one command byte;
// the extra command byte every 127 pixels (or the long form beyond 254) is
// left out of the count, which costs well under 1 % on noise.
#include "rct_encode.h"

#include <string.h>

#include "base/bytes.h"
#include "image/rct.h"

namespace {

const uint32_t kLongestCopy = 65539;
const uint32_t kLongestLiteral = 65663;
const uint32_t kLongestShortLiteral = 127;
// Copy lengths tried one by one from 1; beyond, only the longest match.
const uint32_t kLengthsTried = 8;
const uint32_t kUnreachable = 0xFFFFFFFFu;

void AppendLe16(std::vector<unsigned char>* out, uint32_t value) {
    unsigned char field[2];
    out->insert(out->end(), field, PutLe16(field, value));
}

void AppendLe32(std::vector<unsigned char>* out, uint32_t value) {
    unsigned char field[4];
    out->insert(out->end(), field, PutLe32(field, value));
}

void EmitLiteral(const unsigned char* pixels, size_t first, size_t count,
                 std::vector<unsigned char>* out) {
    while (count > 0) {
        // Two short runs (2 command bytes) carry up to 254 pixels; past that
        // the long form (3 bytes) is never worse.
        size_t take;
        if (count > 2 * kLongestShortLiteral) {
            take = count < kLongestLiteral ? count : kLongestLiteral;
            out->push_back(0x7F);
            AppendLe16(out, (uint32_t)(take - 128));
        } else {
            take = count < kLongestShortLiteral ? count : kLongestShortLiteral;
            out->push_back((unsigned char)(take - 1));
        }
        out->insert(out->end(), pixels + 3 * first, pixels + 3 * (first + take));
        first += take;
        count -= take;
    }
}

void EmitCopy(int index, uint32_t count, std::vector<unsigned char>* out) {
    unsigned char command = (unsigned char)(0x80 | index << 2);
    if (count <= 3) {
        out->push_back((unsigned char)(command | (count - 1)));
    } else {
        out->push_back((unsigned char)(command | 3));
        AppendLe16(out, count - 4);
    }
}

}  // namespace

std::vector<unsigned char> EncodeRctStream(const unsigned char* pixels, int32_t width,
                                           int32_t height) {
    const size_t count = (size_t)width * (size_t)height;
    std::vector<unsigned char> out(pixels, pixels + 3);
    if (count <= 1) return out;

    std::vector<uint32_t> colour(count);
    for (size_t i = 0; i < count; ++i) {
        const unsigned char* p = pixels + 3 * i;
        colour[i] = p[0] | p[1] << 8 | p[2] << 16;
    }
    // Distance back in pixels per offset; 0 where it would not reach behind
    // (narrow pictures), which the decoder refuses.
    size_t distance[kRctCopyOffsetCount];
    for (int k = 0; k < kRctCopyOffsetCount; ++k) {
        int64_t back = (int64_t)kRctCopyOffsets[k].dy * width - kRctCopyOffsets[k].dx;
        distance[k] = back > 0 ? (size_t)back : 0;
    }

    // best[i]: bytes for pixels i.. when a command starts at i.
    // in_literal[i]: bytes for pixels i.. when pixel i continues a literal run
    // whose command byte is already paid.
    std::vector<uint32_t> best(count + 1, 0), in_literal(count + 1, kUnreachable);
    std::vector<int8_t> copy_index(count, -1);
    std::vector<uint32_t> copy_length(count, 0);
    std::vector<bool> literal_goes_on(count, false);
    uint32_t match[kRctCopyOffsetCount] = {};

    for (size_t i = count - 1; i >= 1; --i) {
        bool goes_on = in_literal[i + 1] < best[i + 1];
        literal_goes_on[i] = goes_on;
        in_literal[i] = 3 + (goes_on ? in_literal[i + 1] : best[i + 1]);
        best[i] = 1 + in_literal[i];
        for (int k = 0; k < kRctCopyOffsetCount; ++k) {
            size_t d = distance[k];
            bool same = d != 0 && d <= i && colour[i] == colour[i - d];
            match[k] = same ? match[k] + 1 : 0;
            uint32_t longest = match[k] < kLongestCopy ? match[k] : kLongestCopy;
            for (uint32_t length = 1; length <= longest; ++length) {
                if (length > kLengthsTried) length = longest;
                uint32_t cost = (length <= 3 ? 1 : 3) + best[i + length];
                if (cost < best[i]) {
                    best[i] = cost;
                    copy_index[i] = (int8_t)k;
                    copy_length[i] = length;
                }
            }
        }
    }

    for (size_t i = 1; i < count;) {
        if (copy_index[i] >= 0) {
            EmitCopy(copy_index[i], copy_length[i], &out);
            i += copy_length[i];
            continue;
        }
        size_t last = i;
        while (literal_goes_on[last]) ++last;
        EmitLiteral(pixels, i, last - i + 1, &out);
        i = last + 1;
    }
    return out;
}

std::vector<unsigned char> EncodeRctFile(const unsigned char* pixels, int32_t width, int32_t height,
                                         const std::string* name) {
    std::vector<unsigned char> stream = EncodeRctStream(pixels, width, height);
    const unsigned char* magic = name ? kRctMagicNamed : kRctMagicPlain;
    std::vector<unsigned char> file(magic, magic + kRctMagicLength);
    AppendLe32(&file, (uint32_t)width);
    AppendLe32(&file, (uint32_t)height);
    AppendLe32(&file, (uint32_t)stream.size());
    if (name) {
        AppendLe16(&file, (uint32_t)name->size());
        file.insert(file.end(), name->begin(), name->end());
    }
    file.insert(file.end(), stream.begin(), stream.end());
    return file;
}
