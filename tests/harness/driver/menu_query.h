// Asks the thread that owns a window for its menu, through zvhook.dll.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "menu_dump.h"

namespace zvdriver {

struct MenuAnswer {
    bool hasMenu = false;
    std::string lines;  // DumpMenu output
};

// nullopt when the hook could not be installed or the target did not answer in time;
// `error` then says which.
std::optional<MenuAnswer> QueryMenu(HWND target, MenuQuery which, DWORD timeoutMs, std::string& error);

}  // namespace zvdriver
