#pragma once
// The arithmetic of the image windows: zoom scale, scroll ranges, repaint rectangles.
