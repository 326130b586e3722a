// zvhook.dll: Wine loads it into the thread zvdriver.exe hooks, so that menus and fonts are
// read by the process that owns them (Wine keeps both per process).
#include <windows.h>

#include "tests/harness/DriverRecord.h"

namespace {

void ListMenu(HMENU menu, const std::string& parentPath, std::string& out) {
    for (int pos = 0; pos < GetMenuItemCount(menu); ++pos) {
        wchar_t text[512] = {};
        MENUITEMINFOW info{};
        info.cbSize = sizeof(info);
        info.fMask = MIIM_ID | MIIM_STRING | MIIM_FTYPE | MIIM_STATE | MIIM_SUBMENU;
        info.dwTypeData = text;
        info.cch = 511;
        if (!GetMenuItemInfoW(menu, static_cast<UINT>(pos), TRUE, &info)) continue;
        std::string path = parentPath + (parentPath.empty() ? "" : "/") + std::to_string(pos);
        out += zvdriver::Record{}
                   .add("path", path)
                   .add("id", static_cast<long long>(info.wID))
                   .add("text", std::wstring(text))
                   .add("separator", (info.fType & MFT_SEPARATOR) != 0)
                   .add("grayed", (info.fState & MFS_DISABLED) != 0)
                   .add("checked", (info.fState & MFS_CHECKED) != 0)
                   .line + "\n";
        if (info.hSubMenu) ListMenu(info.hSubMenu, path, out);
    }
}

std::string DescribeFont(HWND control) {
    HFONT font = reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0));
    LOGFONTW logfont{};
    if (!font || !GetObjectW(font, sizeof(logfont), &logfont)) return {};
    return zvdriver::Utf8(logfont.lfFaceName) + "," + std::to_string(logfont.lfHeight) + "," +
           std::to_string(logfont.lfWeight);
}

void Answer(HWND target, HWND replyTo, LPARAM query) {
    HMENU menu = query == zvdriver::kMenuBar     ? GetMenu(target)
                 : query == zvdriver::kPopupMenu ? reinterpret_cast<HMENU>(SendMessageW(target, MN_GETHMENU, 0, 0))
                                                 : nullptr;
    std::string text;
    if (query == zvdriver::kFont) text = DescribeFont(target);
    else if (menu) ListMenu(menu, "", text);
    else return;  // no answer: the driver reports that the window has no such menu
    COPYDATASTRUCT data{zvdriver::kAnswer, static_cast<DWORD>(text.size()), text.data()};
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(replyTo, WM_COPYDATA, reinterpret_cast<WPARAM>(target), reinterpret_cast<LPARAM>(&data),
                        SMTO_ABORTIFHUNG, 5000, &ignored);
}

}  // namespace

extern "C" __declspec(dllexport) LRESULT CALLBACK ZvDriverCallWndProc(int code, WPARAM wp, LPARAM lp) {
    static const UINT query = RegisterWindowMessageW(zvdriver::kQueryMessage);
    const auto* call = reinterpret_cast<const CWPSTRUCT*>(lp);
    if (code == HC_ACTION && call->message == query) Answer(call->hwnd, reinterpret_cast<HWND>(call->wParam), call->lParam);
    return CallNextHookEx(nullptr, code, wp, lp);
}
