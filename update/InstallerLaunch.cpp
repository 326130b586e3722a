#include "update/UpdatePrompt.h"

namespace {

BOOL ShellLaunch(SHELLEXECUTEINFOW& request) { return ShellExecuteExW(&request); }

}  // namespace

BOOL (*launchInstaller)(SHELLEXECUTEINFOW& request) = ShellLaunch;
