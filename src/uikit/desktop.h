#pragma once
// What the program's windows need from the desktop's window manager, set once for the whole
// program:
// - a window whose caption is empty (the gray-tone count's message, the segmentation dialog)
//   shows an empty caption: left alone, the desktop would show the program's name instead;
// - a dialog comes up centred on the main window at every showing: left alone, the showings
//   after the first would land a title bar lower.
void AdaptToDesktop();
