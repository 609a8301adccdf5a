#pragma once
// The arithmetic of the image windows: zoom scale, scroll ranges, repaint rectangles, the zoom
// step, captions and the pointer read-out texts. Pure functions, no toolkit.
//
// Conversions between surface and image coordinates are done on the zoom level itself (a
// multiplication or an integer division by |z|), so a value that is mathematically whole, such
// as column 3 at 1:3, never truncates to one less.
#include <string>

namespace tessera {

constexpr int kMaximumZoomLevel = 20;

// s: z for z > 0 (z:1), 1 / -z for z < 0 (1:-z), 1 for z = 0.
double ZoomScale(int zoomLevel);

// trunc(v / s): a surface coordinate to an image coordinate.
int SurfaceToImage(int surface, int zoomLevel);
// trunc(v * s): an image coordinate to a surface coordinate.
int ImageToSurface(int image, int zoomLevel);

// The scroll range of an image side: trunc(count * s), the size of the zoomed picture.
int ScrollRangeOf(int count, int zoomLevel);

// Left and top inclusive, right and bottom exclusive.
struct PixelRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
    friend bool operator==(const PixelRect&, const PixelRect&) = default;
};

// The image rectangle that covers a clip rectangle (window coordinates, right and bottom
// exclusive) seen at the given scroll positions: left = trunc(L / s), right = trunc(R / s + 1),
// top and bottom likewise. It may reach beyond the picture.
PixelRect OrdinarySourceRect(const PixelRect& clip, int scrollX, int scrollY, int zoomLevel);

// The view after a zoom click: the source around the centre and the new scroll positions.
struct CentredView {
    PixelRect source;
    int scrollX = 0;
    int scrollY = 0;
    friend bool operator==(const CentredView&, const CentredView&) = default;
};

// hw = trunc(W / 2s), hh = trunc(H / 2s) from the window's outer size; the rectangle around
// (centreColumn, centreLine) is pushed back inside the image at each edge, and the scroll
// positions are trunc(left * s), trunc(top * s).
CentredView CentredSourceRect(int centreColumn, int centreLine, int outerWidth, int outerHeight,
                              int columns, int lines, int zoomLevel);

// Each coordinate of the source multiplied by s and truncated.
PixelRect DestinationRect(const PixelRect& source, int zoomLevel);

// The part of a rectangle inside a picture of columns x lines (empty when none is).
PixelRect ClipToPicture(const PixelRect& rect, int columns, int lines);

enum class ZoomButton { Left, Right, Other };

struct ZoomStep {
    int level = 1;
    bool changed = true;  // false when the click went past a limit and must change nothing
};

// Left: -1 -> 2, else +1. Right: 1 -> -2, else -1. Other buttons keep the level (a re-centre).
// Past +-20 the level stays at the limit and the click changes nothing.
ZoomStep StepZoom(int zoomLevel, ZoomButton button);

enum class ViewWindow { Band, Segmented, Result };

// "%s (1:1)", "%s (1:%d) ", "%s (%d:1) "; the segmented window puts " Segmented" after the
// title.
std::string ZoomCaption(ViewWindow window, const std::string& baseTitle, int zoomLevel);

// ----- pointer read-outs -----

struct ImagePoint {
    int column = 0;
    int line = 0;
    friend bool operator==(const ImagePoint&, const ImagePoint&) = default;
};
ImagePoint PointerToImage(int x, int y, int zoomLevel);
bool InsideImage(const ImagePoint& point, int columns, int lines);

// "Line: %5d  Column: %5d "
std::string PositionText(int line, int column);
// "Gray Tone : %4d "
std::string GrayToneText(int value);
// "R:%4d G:%4d B:%4d  "
std::string RgbText(int red, int green, int blue);
// The band window's second panel: the gray tone when the three components agree, else RGB.
std::string BandColourText(int red, int green, int blue);
// The band window's third panel: five blanks.
std::string NoValueText();
// "Gray Tone : %d " (class numbers of the result window)
std::string ClassValueText(int value);
// "Image Size: %d lines x %d columns  "
std::string ImageSizeText(int lines, int columns);

}  // namespace tessera
