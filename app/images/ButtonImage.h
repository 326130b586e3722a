#pragma once
// Button pictures: a dark rounded 48 x 48 tile with a PNG icon from the resources in its
// middle, optionally faded.
#include <windows.h>

// Null on any failure; the caller owns the bitmap.
HBITMAP makeButtonImage(WORD resourceId, float opacity);
// Sets the picture (when there is one) and gives the button its rounded region.
void attachButtonImage(HWND button, HBITMAP picture);
// Shows another picture on an image button; a missing picture leaves the current one.
void SetButtonPicture(HWND button, HBITMAP picture);
