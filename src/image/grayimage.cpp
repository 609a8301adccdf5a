#include "image/grayimage.h"

#include <new>
#include <stdexcept>

namespace tessera {

ColourTable GrayRamp() {
    ColourTable table{};
    for (int i = 0; i < 256; ++i) {
        const auto v = static_cast<uint8_t>(i);
        table[i] = ColourEntry{v, v, v, i, 0};
    }
    return table;
}

// ----- GrayImage -----

void GrayImage::SetGray(int x, int y, uint8_t value) {
    if (x < 0 || x >= width || y < 0 || y >= height) return;
    if (kind == ColourKind) {
        uint8_t* p = Row(y) + static_cast<size_t>(x) * 3;
        p[0] = p[1] = p[2] = value;
    } else {
        Row(y)[x] = value;
    }
}

void GrayImage::SetColour(int x, int y, uint8_t blue, uint8_t green, uint8_t red) {
    if (x < 0 || x >= width || y < 0 || y >= height) return;
    if (kind == ColourKind) {
        uint8_t* p = Row(y) + static_cast<size_t>(x) * 3;
        p[0] = blue;
        p[1] = green;
        p[2] = red;
    } else {
        Row(y)[x] = static_cast<uint8_t>((blue + green + red) / 3);
    }
}

Colour GrayImage::GetColour(int x, int y) const {
    switch (kind) {
        case ColourKind: {
            const uint8_t* p = Row(y) + static_cast<size_t>(x) * 3;
            return Colour{p[0], p[1], p[2]};
        }
        case PaletteKind: {
            const ColourEntry& entry = palette[Row(y)[x]];
            return Colour{entry.blue, entry.green, entry.red};
        }
        case GrayKind:
        default: {
            const uint8_t v = Row(y)[x];
            return Colour{v, v, v};
        }
    }
}

void GrayImage::ToRgbLine(int y, uint8_t* rgb) const {
    if (y < 0 || y >= height || width <= 0 || pixels.empty()) return;
    const uint8_t* row = Row(y);
    switch (kind) {
        case ColourKind:
            for (int x = 0; x < width; ++x, row += 3, rgb += 3) {
                rgb[0] = row[2];
                rgb[1] = row[1];
                rgb[2] = row[0];
            }
            break;
        case PaletteKind:
            for (int x = 0; x < width; ++x, rgb += 3) {
                const ColourEntry& entry = palette[row[x]];
                rgb[0] = entry.red;
                rgb[1] = entry.green;
                rgb[2] = entry.blue;
            }
            break;
        case GrayKind:
        default:
            for (int x = 0; x < width; ++x, rgb += 3) rgb[0] = rgb[1] = rgb[2] = row[x];
            break;
    }
}

std::optional<GrayImage> CreateGrayImage(int width, int height, ImageKind kind) {
    if (width < 0 || height < 0) return std::nullopt;
    if (kind != GrayKind && kind != PaletteKind && kind != ColourKind) return std::nullopt;
    GrayImage image;
    image.width = width;
    image.height = height;
    image.kind = kind;
    if (kind == PaletteKind) image.palette = GrayRamp();
    try {
        const size_t bytes = static_cast<size_t>(width) * static_cast<size_t>(height) *
                             static_cast<size_t>(image.BytesPerPixel());
        image.pixels.reserve(bytes);
        AdviseHugePages(image.pixels.data(), image.pixels.capacity());
        image.pixels.assign(bytes, 0);
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    } catch (const std::length_error&) {
        return std::nullopt;
    }
    return image;
}

}  // namespace tessera
