#include "view/zoomgeometry.h"

#include <algorithm>
#include <cstdio>

namespace tessera {

namespace {

// The reduction factor n of a level 1:n, or 0 when the level is not a reduction.
int ReductionOf(int zoomLevel) {
    return zoomLevel <= -2 ? -zoomLevel : 0;
}
// The enlargement factor z of a level z:1, or 0 when the level is not an enlargement.
int EnlargementOf(int zoomLevel) {
    return zoomLevel >= 2 ? zoomLevel : 0;
}

int ClampToInt(long long value) {
    return static_cast<int>(std::clamp<long long>(value, -2147483647LL - 1, 2147483647LL));
}

template <class... Args>
std::string Format(const char* format, Args... args) {
    char text[96];
    std::snprintf(text, sizeof text, format, args...);
    return text;
}

}  // namespace

double ZoomScale(int zoomLevel) {
    if (zoomLevel > 0) return zoomLevel;
    if (zoomLevel < 0) return 1.0 / -zoomLevel;
    return 1.0;
}

int SurfaceToImage(int surface, int zoomLevel) {
    if (const int z = EnlargementOf(zoomLevel)) return surface / z;  // truncates toward zero
    if (const int n = ReductionOf(zoomLevel))
        return ClampToInt(static_cast<long long>(surface) * n);
    return surface;
}

int ImageToSurface(int image, int zoomLevel) {
    if (const int z = EnlargementOf(zoomLevel))
        return ClampToInt(static_cast<long long>(image) * z);
    if (const int n = ReductionOf(zoomLevel)) return image / n;
    return image;
}

int ScrollRangeOf(int count, int zoomLevel) {
    return ImageToSurface(count, zoomLevel);
}

PixelRect OrdinarySourceRect(const PixelRect& clip, int scrollX, int scrollY, int zoomLevel) {
    // trunc(v / s + 1) is trunc((v + z) / z) for z:1 and v * n + 1 for 1:n.
    auto endOf = [zoomLevel](long long v) {
        if (const int z = EnlargementOf(zoomLevel)) return ClampToInt((v + z) / z);
        if (const int n = ReductionOf(zoomLevel)) return ClampToInt(v * n + 1);
        return ClampToInt(v + 1);
    };
    PixelRect source;
    source.left = SurfaceToImage(clip.left + scrollX, zoomLevel);
    source.top = SurfaceToImage(clip.top + scrollY, zoomLevel);
    source.right = endOf(static_cast<long long>(clip.right) + scrollX);
    source.bottom = endOf(static_cast<long long>(clip.bottom) + scrollY);
    return source;
}

CentredView CentredSourceRect(int centreColumn, int centreLine, int outerWidth, int outerHeight,
                              int columns, int lines, int zoomLevel) {
    // trunc(W / 2s)
    auto halfOf = [zoomLevel](int outer) {
        if (const int z = EnlargementOf(zoomLevel)) return outer / (2 * z);
        if (const int n = ReductionOf(zoomLevel)) {
            return ClampToInt(static_cast<long long>(outer) * n / 2);
        }
        return outer / 2;
    };
    // Pushes [low, high) back inside [0, count) at either end, keeping its width when it fits.
    auto fit = [](int centre, int half, int count, int& low, int& high) {
        low = centre - half;
        high = centre + half;
        const int width = ClampToInt(2LL * half);
        if (low < 0) {
            low = 0;
            high = std::min(width, count);
        }
        if (high > count) {
            high = count;
            low = count - std::min(width, count);
        }
    };
    CentredView view;
    fit(centreColumn, halfOf(outerWidth), columns, view.source.left, view.source.right);
    fit(centreLine, halfOf(outerHeight), lines, view.source.top, view.source.bottom);
    view.scrollX = ImageToSurface(view.source.left, zoomLevel);
    view.scrollY = ImageToSurface(view.source.top, zoomLevel);
    return view;
}

PixelRect DestinationRect(const PixelRect& source, int zoomLevel) {
    return {ImageToSurface(source.left, zoomLevel), ImageToSurface(source.top, zoomLevel),
            ImageToSurface(source.right, zoomLevel), ImageToSurface(source.bottom, zoomLevel)};
}

PixelRect ClipToPicture(const PixelRect& rect, int columns, int lines) {
    PixelRect inside{std::max(rect.left, 0), std::max(rect.top, 0), std::min(rect.right, columns),
                     std::min(rect.bottom, lines)};
    if (inside.right <= inside.left || inside.bottom <= inside.top) return {};
    return inside;
}

ZoomStep StepZoom(int zoomLevel, ZoomButton button) {
    int level = zoomLevel;
    if (button == ZoomButton::Left) level = zoomLevel == -1 ? 2 : zoomLevel + 1;
    if (button == ZoomButton::Right) level = zoomLevel == 1 ? -2 : zoomLevel - 1;
    if (level > kMaximumZoomLevel) return {kMaximumZoomLevel, false};
    if (level < -kMaximumZoomLevel) return {-kMaximumZoomLevel, false};
    return {level, true};
}

std::string ZoomCaption(ViewWindow window, const std::string& baseTitle, int zoomLevel) {
    std::string caption = baseTitle;
    if (window == ViewWindow::Segmented) caption += " Segmented";
    if (zoomLevel <= -2) return caption + " (1:" + std::to_string(-zoomLevel) + ") ";
    if (zoomLevel >= 2) return caption + " (" + std::to_string(zoomLevel) + ":1) ";
    return caption + " (1:1)";
}

ImagePoint PointerToImage(int x, int y, int zoomLevel) {
    return {SurfaceToImage(x, zoomLevel), SurfaceToImage(y, zoomLevel)};
}

bool InsideImage(const ImagePoint& point, int columns, int lines) {
    return point.column >= 0 && point.line >= 0 && point.column < columns && point.line < lines;
}

std::string PositionText(int line, int column) {
    return Format("Line: %5d  Column: %5d ", line, column);
}

std::string GrayToneText(int value) {
    return Format("Gray Tone : %4d ", value);
}

std::string RgbText(int red, int green, int blue) {
    return Format("R:%4d G:%4d B:%4d  ", red, green, blue);
}

std::string BandColourText(int red, int green, int blue) {
    if (red == green && green == blue) return GrayToneText(red);
    return RgbText(red, green, blue);
}

std::string NoValueText() {
    return "     ";
}

std::string ClassValueText(int value) {
    return Format("Gray Tone : %d ", value);
}

std::string ImageSizeText(int lines, int columns) {
    return Format("Image Size: %d lines x %d columns  ", lines, columns);
}

}  // namespace tessera
