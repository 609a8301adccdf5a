#pragma once
// Windows whose caption is empty (the gray-tone count's message, the segmentation dialog) show
// an empty caption: left alone, the desktop would show the program's name there instead.
void KeepEmptyCaptionsEmpty();
