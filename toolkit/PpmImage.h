#pragma once
// PPM images for debugging: binary P6 readers and a P3 text writer into the
// debug folder. [any thread] file I/O: never on the audio thread.
#include <cstdint>

// Reader result, allocated with malloc; release with PpmFree.
struct PpmImage {
    int32_t width;
    int32_t height;
    uint8_t* data8;   // (height, width, 3) RGB bytes, or null
    uint16_t* data16; // (height, width, 3) RGB samples in machine order, or null
};

// Read a binary P6 file from path (as given) whose maximum component is 255
// (8-bit) or 65535 (16-bit, stored big-endian). Comment lines after the magic
// line are skipped. Null after any failure, with a message on standard error:
// unopenable file, wrong magic, width or height not positive or too large for
// 32-bit sample counts, wrong maximum, short pixel data.
PpmImage* PpmReadRgb8(const char* path);
PpmImage* PpmReadRgb16(const char* path);

// Frees the record and its pixel data; null is allowed.
void PpmFree(PpmImage* image);

// Writes a P3 image of width x height pixels to name in the debug folder (see
// DebugDump.h; skipped when it cannot be opened). With channels < 2 every
// value (int)(data[row * width + column] * scale) becomes a grey pixel; with
// 2 or more, each pixel lists its channels, taken from consecutive values
// (interleaved) or, when planar, from data[(channel * height + row) * width +
// column]. Values outside 0..255 are written as 255.
void DumpPpm(const char* name, const double* data, int width, int height, int channels, bool planar,
             double scale);
