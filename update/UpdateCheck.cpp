#include "UpdateCheck.h"

// The update check lands with the updater; until then the thread ends at once.
DWORD WINAPI UpdateCheckThread(LPVOID) { return 0; }
