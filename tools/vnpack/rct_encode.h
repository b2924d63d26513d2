// The RCT encoder of vnpack: the updater only decodes (image/rct.h).
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

// The pixel command stream for width x height pixels given as packed rows of
// blue, green, red. Searches literal runs and copies over all 32 offsets for
// the shortest stream (see rct_encode.cpp). Copies never reach forward, so
// widths below 4 decode as well.
std::vector<unsigned char> EncodeRctStream(const unsigned char* pixels, int32_t width,
                                           int32_t height);

// A whole RCT file: "六丁TC00" when name is null, else "六丁TC01" with the name
// (code page 932 bytes, at most 65,535). The caller checks the size against
// RctPictureSize.
std::vector<unsigned char> EncodeRctFile(const unsigned char* pixels, int32_t width, int32_t height,
                                         const std::string* name);
