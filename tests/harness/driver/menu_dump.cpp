#include "menu_dump.h"

#include "driver_text.h"

#include <vector>

namespace zvdriver {

namespace {

void DumpLevel(HMENU menu, const std::string& parentPath, int depth, std::string& out) {
    int count = GetMenuItemCount(menu);
    for (int pos = 0; pos < count; ++pos) {
        wchar_t text[512] = {};
        MENUITEMINFOW info{};
        info.cbSize = sizeof(info);
        info.fMask = MIIM_ID | MIIM_STRING | MIIM_FTYPE | MIIM_STATE | MIIM_SUBMENU;
        info.dwTypeData = text;
        info.cch = static_cast<UINT>(std::size(text) - 1);
        if (!GetMenuItemInfoW(menu, static_cast<UINT>(pos), TRUE, &info)) continue;

        std::string path = parentPath.empty() ? std::to_string(pos) : parentPath + "/" + std::to_string(pos);
        Record record;
        record.Add("path", path)
            .Add("depth", depth)
            .Add("pos", pos)
            .Add("id", static_cast<int64_t>(info.wID))
            .Add("text", text)
            .AddFlag("separator", (info.fType & MFT_SEPARATOR) != 0)
            .AddFlag("popup", info.hSubMenu != nullptr)
            .AddFlag("checked", (info.fState & MFS_CHECKED) != 0)
            .AddFlag("grayed", (info.fState & MFS_DISABLED) != 0)
            .AddFlag("default", (info.fState & MFS_DEFAULT) != 0)
            .AddHex("type", info.fType)
            .AddHex("state", info.fState);
        out += record.Line();
        out += '\n';
        if (info.hSubMenu) DumpLevel(info.hSubMenu, path, depth + 1, out);
    }
}

}  // namespace

std::string DescribeFont(HWND control) {
    HFONT font = reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0));
    LOGFONTW logfont{};
    if (!font || !GetObjectW(font, sizeof(logfont), &logfont)) return {};
    return Utf8FromWide(logfont.lfFaceName) + "," + std::to_string(logfont.lfHeight) + "," +
           std::to_string(logfont.lfWeight);
}

std::string DumpMenu(HMENU menu) {
    std::string out;
    if (menu) DumpLevel(menu, "", 0, out);
    return out;
}

}  // namespace zvdriver
