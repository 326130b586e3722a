#include "update/UpdatePrompt.h"

BOOL LaunchInstaller(SHELLEXECUTEINFOW& request) { return ShellExecuteExW(&request); }
