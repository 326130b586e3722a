// Lists a menu as driver records. Runs inside the process that owns the menu:
// Wine keeps menus per process, so another process cannot read them directly.
#pragma once

#include <windows.h>

#include <string>

namespace zvdriver {

// What a menu query asks for (the query's lParam).
enum class MenuQuery : LPARAM { MenuBar = 0, PopupWindow = 1, SystemMenu = 2, Font = 3 };

constexpr wchar_t kMenuQueryMessageName[] = L"ZvDriver.MenuQuery";
constexpr ULONG_PTR kMenuReplyFound = 0x5A560001;
constexpr ULONG_PTR kMenuReplyNoMenu = 0x5A560002;

// One line per item, depth first; "path" is the position chain, e.g. 0/2.
std::string DumpMenu(HMENU menu);
// "<face>,<height>,<weight>" of the font a control draws with, empty when it has none.
// Inside the owning process only: GDI handles mean nothing elsewhere.
std::string DescribeFont(HWND control);

}  // namespace zvdriver
