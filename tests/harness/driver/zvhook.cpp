// zvhook.dll: loaded by Wine into the thread the driver hooks, so menus can be
// read by the process that owns them. Answers one registered message.
#include <windows.h>

#include "menu_dump.h"

namespace {

HMENU MenuFor(HWND hwnd, zvdriver::MenuQuery which) {
    switch (which) {
    case zvdriver::MenuQuery::MenuBar: return GetMenu(hwnd);
    case zvdriver::MenuQuery::PopupWindow: return reinterpret_cast<HMENU>(SendMessageW(hwnd, MN_GETHMENU, 0, 0));
    case zvdriver::MenuQuery::SystemMenu: return GetSystemMenu(hwnd, FALSE);
    default: break;
    }
    return nullptr;
}

void AnswerMenuQuery(HWND target, HWND replyTo, LPARAM which) {
    const bool font = static_cast<zvdriver::MenuQuery>(which) == zvdriver::MenuQuery::Font;
    HMENU menu = font ? nullptr : MenuFor(target, static_cast<zvdriver::MenuQuery>(which));
    std::string text = font ? zvdriver::DescribeFont(target) : zvdriver::DumpMenu(menu);
    COPYDATASTRUCT data{};
    data.dwData = menu || font ? zvdriver::kMenuReplyFound : zvdriver::kMenuReplyNoMenu;
    data.cbData = static_cast<DWORD>(text.size());
    data.lpData = text.data();
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(replyTo, WM_COPYDATA, reinterpret_cast<WPARAM>(target), reinterpret_cast<LPARAM>(&data),
                        SMTO_ABORTIFHUNG, 5000, &ignored);
}

}  // namespace

extern "C" __declspec(dllexport) LRESULT CALLBACK ZvDriverCallWndProc(int code, WPARAM wp, LPARAM lp) {
    static const UINT queryMessage = RegisterWindowMessageW(zvdriver::kMenuQueryMessageName);
    if (code == HC_ACTION) {
        const auto* call = reinterpret_cast<const CWPSTRUCT*>(lp);
        if (call->message == queryMessage) AnswerMenuQuery(call->hwnd, reinterpret_cast<HWND>(call->wParam), call->lParam);
    }
    return CallNextHookEx(nullptr, code, wp, lp);
}

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) {
    return TRUE;
}
