#include "app/AppState.h"

#include "recording/ScreenPixels.h"


AppState app;

// Physical pixels, whatever size Windows shows this DPI-unaware window thread.
CaptureRegion FullScreenRegion() {
    const ScreenSize screen = PhysicalScreenSize();
    return {0, 0, screen.width, screen.height};
}
