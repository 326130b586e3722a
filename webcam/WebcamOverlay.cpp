#include "WebcamOverlay.h"

// The camera preview lands with the webcam overlay; until then there is nothing to close.
void CloseWebcamOverlay() {}
