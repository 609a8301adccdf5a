#pragma once
// Tool-bar glyphs, the magnifier cursor and the reference picture, all drawn by the program so
// that nothing depends on files beside the executable.
#include <QCursor>
#include <QIcon>
#include <QPixmap>

namespace glyphs {

enum class Glyph {
    Open,               // folder
    Previous,           // left arrow (narrow button)
    Next,               // right arrow (narrow button)
    Segmentation,       // a band cut into gray-level segments
    PreviousSegmented,  // left arrow over segment colours (narrow button)
    NextSegmented,      // right arrow over segment colours (narrow button)
    SaveSegmented,      // disk with segment colours
    Treatment,          // crossing of two segmented bands
    Histogram,          // bars
    Zoom,               // magnifier
    SaveResult,         // disk with class colours
    Exit,               // door with an arrow
};

// The glyph at the size a button of its kind shows: 24 x 24, or 10 x 24 for the narrow
// arrows of the 16-pixel buttons.
QPixmap ToolGlyph(Glyph glyph);

// The program's icon: a small mosaic of class colours.
QIcon ProgramIcon();

// The magnifier cursor of the zoom tool; its hot spot is the centre of the lens.
QCursor MagnifierCursor();

// The picture of the reference dialog: a mosaic of class colours, width x height.
QPixmap ReferencePicture(int width, int height);

}  // namespace glyphs
