#include "app/AppState.h"


AppState app;

CaptureRegion FullScreenRegion() { return {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)}; }
