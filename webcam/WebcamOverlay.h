#pragma once

// Closes the webcam preview when one is shown.
void CloseWebcamOverlay();
