#pragma once
#include <windows.h>

// Paints an owner-drawn text button of the dark windows.
void DrawDarkButton(const DRAWITEMSTRUCT& item);
