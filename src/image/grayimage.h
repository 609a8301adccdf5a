#pragma once
// The image object that every display goes through, and colour tables.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "image/matrix.h"
#include "support/status.h"

namespace tessera {

enum ImageKind : int8_t { GrayKind = 0, PaletteKind = 1, ColourKind = 2 };

struct Colour {
    uint8_t blue = 0, green = 0, red = 0;
    friend bool operator==(const Colour&, const Colour&) = default;
};

// One entry of a segment or class colour table; `spare` is the fourth byte of the bitmap
// palette entry written from it.
struct ColourEntry {
    uint8_t blue = 0, green = 0, red = 0;
    int32_t index = 0;
    uint8_t spare = 0;
    friend bool operator==(const ColourEntry&, const ColourEntry&) = default;
};
using ColourTable = std::array<ColourEntry, 256>;

// The gray ramp (entry i = i, i, i), the palette of a PaletteKind image and of a bitmap written
// without a colour table.
ColourTable GrayRamp();

class GrayImage {
  public:
    int height = 0;
    int width = 0;
    ImageKind kind = GrayKind;
    std::vector<uint8_t> pixels;  // height rows of width x BytesPerPixel bytes, row 0 on top
    ColourTable palette{};        // PaletteKind only

    int BytesPerPixel() const { return kind == ColourKind ? 3 : 1; }
    bool Empty() const { return pixels.empty(); }
    uint8_t* Row(int y) { return pixels.data() + static_cast<size_t>(y) * width * BytesPerPixel(); }
    const uint8_t* Row(int y) const {
        return pixels.data() + static_cast<size_t>(y) * width * BytesPerPixel();
    }

    // Out-of-range coordinates are ignored.
    void SetGray(int x, int y, uint8_t value);
    // On a one-byte image stores (blue + green + red) / 3.
    void SetColour(int x, int y, uint8_t blue, uint8_t green, uint8_t red);
    // No range test: the caller keeps x and y inside the image.
    Colour GetColour(int x, int y) const;

    // Red, green, blue bytes of line y, width x 3 bytes, for building a display picture
    // scanline by scanline.
    void ToRgbLine(int y, uint8_t* rgb) const;
};

// Width and height must not be negative; nothing when memory runs out. The pixel bytes are
// zero (the creator writes every pixel before the image is shown).
std::optional<GrayImage> CreateGrayImage(int width, int height, ImageKind kind);

}  // namespace tessera
