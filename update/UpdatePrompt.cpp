#include "UpdatePrompt.h"

// The prompt lands with the updater; no update is ever announced before then.
void ShowUpdatePrompt(HWND) {}
