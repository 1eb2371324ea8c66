#pragma once
// The window's own 32 x 32 icon, drawn in the 16 standard colours.

class TPicture;

// Puts the icon into `icon` as a 32 x 32 bitmap.
void DrawWindowIcon(TPicture& icon);
