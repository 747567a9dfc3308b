#include "toolkit/PpmImage.h"

#include "toolkit/DebugDump.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Reads the header after the magic line and the pixel data. Returns false
// after printing the reason; the caller frees the record and closes f.
bool ReadP6Body(FILE* f, const char* path, int bytesPerSample, PpmImage* image) {
    int c = std::getc(f);
    while (c == '#') {
        while (c != '\n' && c != EOF) c = std::getc(f);
        c = std::getc(f);
    }
    if (c != EOF) std::ungetc(c, f);

    int width = 0, height = 0;
    if (std::fscanf(f, "%d %d", &width, &height) != 2 || width <= 0 || height <= 0 ||
        static_cast<int64_t>(width) * height * 3 > INT_MAX) {
        std::fprintf(stderr, "Invalid image size (error loading '%s')\n", path);
        return false;
    }
    int maxValue = 0;
    if (std::fscanf(f, "%d", &maxValue) != 1) {
        std::fprintf(stderr, "Invalid rgb component (error loading '%s')\n", path);
        return false;
    }
    const int wanted = bytesPerSample == 1 ? 255 : 65535;
    if (maxValue != wanted) {
        std::fprintf(stderr, "'%s' does not have %d-bits components\n", path, bytesPerSample * 8);
        return false;
    }
    for (c = std::getc(f); c != '\n' && c != EOF;) c = std::getc(f);

    image->width = width;
    image->height = height;
    const size_t rowSamples = static_cast<size_t>(width) * 3;
    const size_t samples = rowSamples * static_cast<size_t>(height);
    void* pixels = std::malloc(samples * static_cast<size_t>(bytesPerSample));
    if (!pixels) {
        std::fprintf(stderr, "Unable to allocate memory\n");
        return false;
    }
    if (bytesPerSample == 1)
        image->data8 = static_cast<uint8_t*>(pixels);
    else
        image->data16 = static_cast<uint16_t*>(pixels);

    if (std::fread(pixels, rowSamples * static_cast<size_t>(bytesPerSample),
                   static_cast<size_t>(height), f) != static_cast<size_t>(height)) {
        std::fprintf(stderr, "Error loading image '%s'\n", path);
        return false;
    }
    if (bytesPerSample == 2) {
        const uint8_t* bytes = static_cast<const uint8_t*>(pixels);
        uint16_t* values = image->data16;
        // Front to back in place: value i is built from bytes 2i, 2i+1, which
        // no earlier value overwrote.
        for (size_t i = 0; i < samples; ++i)
            values[i] = static_cast<uint16_t>((bytes[2 * i] << 8) | bytes[2 * i + 1]);
    }
    return true;
}

PpmImage* ReadP6(const char* path, int bytesPerSample) {
    FILE* f = path ? std::fopen(path, "rb") : nullptr;
    if (!f) {
        std::fprintf(stderr, "Unable to open file '%s'\n", path ? path : "");
        return nullptr;
    }
    char magic[16];
    if (!std::fgets(magic, sizeof magic, f) || std::strncmp(magic, "P6", 2) != 0) {
        std::fprintf(stderr, "Invalid image format (must be 'P6')\n");
        std::fclose(f);
        return nullptr;
    }
    PpmImage* image = static_cast<PpmImage*>(std::malloc(sizeof(PpmImage)));
    if (!image) {
        std::fprintf(stderr, "Unable to allocate memory\n");
        std::fclose(f);
        return nullptr;
    }
    *image = PpmImage{0, 0, nullptr, nullptr};
    const bool ok = ReadP6Body(f, path, bytesPerSample, image);
    std::fclose(f);
    if (!ok) {
        PpmFree(image);
        return nullptr;
    }
    return image;
}

int ClampComponent(double v) {
    // NaN and everything from 256 or at and below -1 become 255; the rest
    // truncates like an int conversion.
    return (v > -1.0 && v < 256.0) ? static_cast<int>(v) : 255;
}

} // namespace

PpmImage* PpmReadRgb8(const char* path) {
    return ReadP6(path, 1);
}

PpmImage* PpmReadRgb16(const char* path) {
    return ReadP6(path, 2);
}

void PpmFree(PpmImage* image) {
    if (!image) return;
    std::free(image->data8);
    std::free(image->data16);
    std::free(image);
}

void DumpPpm(const char* name, const double* data, int width, int height, int channels, bool planar,
             double scale) {
    char path[512];
    if (!MakeDebugDumpPath(name, path, sizeof path)) return;
    FILE* f = std::fopen(path, "w");
    if (!f) return;
    std::fprintf(f, "P3\n%d %d\n%d\n", width, height, 255);
    for (int row = 0; data && row < height; ++row) {
        for (int col = 0; col < width; ++col) {
            const int64_t pixel = static_cast<int64_t>(row) * width + col;
            if (channels < 2) {
                const int v = ClampComponent(data[pixel] * scale);
                std::fprintf(f, "%d %d %d\n", v, v, v);
                continue;
            }
            for (int ch = 0; ch < channels; ++ch) {
                const int64_t at = planar ? (static_cast<int64_t>(ch) * height + row) * width + col
                                          : pixel * channels + ch;
                std::fprintf(f, "%d ", ClampComponent(data[at] * scale));
            }
            std::fprintf(f, "\n");
        }
        std::fprintf(f, "\n");
    }
    std::fclose(f);
}
