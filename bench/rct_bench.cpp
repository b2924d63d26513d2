// RCT pictures: encoded size against the raw pixels and against PNG (stb's
// writer), the decoder's time against a plain memcpy of the same pixels (goal:
// within 3 times), and the encoder's time. Nothing is asserted; every figure is
// a ratio to a limit measured here, on this machine.
//
//   bench_rct [--seconds S]   (time spent on each measurement, default 0.2)
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <chrono>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "image/rct.h"
#include "png.h"
#include "rct_encode.h"

namespace {

typedef std::vector<unsigned char> Bytes;
const int32_t kSide = 256;
double g_seconds = 0.2;
volatile unsigned g_sink;

struct Picture {
    const char* name;
    int32_t width, height;
    Bytes pixels;  // packed blue, green, red
};

Picture Generate(const char* name, unsigned (*colour)(int x, int y, std::mt19937* random)) {
    std::mt19937 random(42);
    Picture picture = {name, kSide, kSide, Bytes(3 * kSide * kSide)};
    for (int y = 0; y < kSide; ++y) {
        for (int x = 0; x < kSide; ++x) {
            unsigned c = colour(x, y, &random);
            unsigned char* p = &picture.pixels[3 * (y * kSide + x)];
            p[0] = (unsigned char)c;
            p[1] = (unsigned char)(c >> 8);
            p[2] = (unsigned char)(c >> 16);
        }
    }
    return picture;
}

unsigned Rgb(double r, double g, double b) {
    auto clamp = [](double v) { return (unsigned)(v < 0 ? 0 : v > 255 ? 255 : v + 0.5); };
    return clamp(b) | clamp(g) << 8 | clamp(r) << 16;
}

// A soft two-way gradient: neighbours are often equal, seldom far apart.
unsigned Gradient(int x, int y, std::mt19937*) {
    return Rgb(40 + x * 0.5, 60 + y * 0.6, 160 - (x + y) * 0.25);
}

unsigned Noise(int, int, std::mt19937* random) {
    return (*random)() & 0xFFFFFF;
}

// Flat shapes in a few colours, as a drawing or a logo.
unsigned Drawing(int x, int y, std::mt19937*) {
    if (std::hypot(x - 90, y - 100) < 50) return Rgb(230, 60, 40);
    if (x > 140 && x < 230 && y > 40 && y < 200) return Rgb(40, 120, 220);
    if (y > 210) return Rgb(30, 150, 60);
    return (x / 16 + y / 16) % 2 ? Rgb(250, 240, 210) : Rgb(240, 228, 196);
}

// A photograph's kind of content: shaded surfaces, light grain in the
// darker half, a blurred edge.
unsigned PhotoLike(int x, int y, std::mt19937* random) {
    double light = 120 + 80 * std::sin(x / 40.0) * std::cos(y / 55.0);
    double edge = 1 / (1 + std::exp((std::hypot(x - 150, y - 120) - 60) / 4.0));
    double grain = y > 128 ? (double)((*random)() % 5) - 2 : 0;
    return Rgb(light * (0.6 + 0.4 * edge) + grain, light * 0.8 + 30 * edge + grain,
               light * 0.5 + 90 * (1 - edge) + grain);
}

double SecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Seconds per call of work, from as many calls as fit g_seconds (at least 3).
template <typename Work>
double TimePerCall(Work work) {
    work();
    int calls = 0;
    auto start = std::chrono::steady_clock::now();
    do {
        work();
        ++calls;
    } while (calls < 3 || SecondsSince(start) < g_seconds);
    return SecondsSince(start) / calls;
}

bool LoadExample(Picture* picture) {
    std::string path = std::string(VN_SOURCE_DIR) + "/examples/art/insttscr.png";
    FILE* in = fopen(path.c_str(), "rb");
    if (!in) return false;
    Bytes png;
    unsigned char block[65536];
    size_t got;
    while ((got = fread(block, 1, sizeof block, in)) > 0) png.insert(png.end(), block, block + got);
    fclose(in);
    std::string problem;
    picture->name = "example (insttscr)";
    return DecodePng(png.data(), png.size(), &picture->pixels, &picture->width, &picture->height,
                     &problem);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && strcmp(argv[1], "--seconds") == 0) g_seconds = atof(argv[2]);
    std::vector<Picture> pictures = {Generate("gradient", Gradient), Generate("noise", Noise),
                                     Generate("flat drawing", Drawing),
                                     Generate("photo-like", PhotoLike)};
    Picture example;
    if (LoadExample(&example)) pictures.push_back(example);

    printf("%-19s %9s %9s %9s %8s %8s %11s %10s %10s\n", "picture", "raw", "RCT", "PNG", "RCT/raw",
           "RCT/PNG", "decode us", "decode/", "encode ms");
    printf("%-19s %9s %9s %9s %8s %8s %11s %10s %10s\n", "", "", "", "", "", "", "", "memcpy", "");
    for (const Picture& picture : pictures) {
        const int32_t w = picture.width, h = picture.height;
        Bytes rct = EncodeRctFile(picture.pixels.data(), w, h, nullptr);
        Bytes png;
        EncodePng(picture.pixels.data(), w, h, 3 * w, &png);
        RctHeader header;
        const unsigned char* stream = nullptr;
        if (LocateRctStream(rct.data(), rct.size(), &header, &stream) != 0) return 1;
        const int32_t stride = ImageStride(w, 0);
        Bytes out(RctPictureSize(header)), copy(picture.pixels.size());
        double decode = TimePerCall([&] {
            if (DecodeRctPixels(stream, header.data_size, w, h, out.data(), stride) != 0) exit(1);
            g_sink = out[out.size() / 2];
        });
        double plain = TimePerCall([&] {
            memcpy(copy.data(), picture.pixels.data(), copy.size());
            g_sink = copy[copy.size() / 2];
        });
        double encode = TimePerCall(
            [&] { g_sink = (unsigned)EncodeRctFile(picture.pixels.data(), w, h, nullptr).size(); });
        double raw = (double)picture.pixels.size();
        printf("%-19s %9.0f %9zu %9zu %8.3f %8.3f %11.1f %10.2f %10.2f\n", picture.name, raw,
               rct.size(), png.size(), rct.size() / raw, (double)rct.size() / png.size(),
               decode * 1e6, decode / plain, encode * 1e3);
    }
    return 0;
}
