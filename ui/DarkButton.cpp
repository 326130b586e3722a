#include "ui/DarkButton.h"

#include "common/WinHandles.h"

namespace {
constexpr COLORREF kFillNormal = RGB(36, 36, 40);
constexpr COLORREF kFillPressed = RGB(60, 60, 66);
constexpr COLORREF kBorderNormal = RGB(70, 70, 76);
constexpr COLORREF kBorderDefault = RGB(80, 120, 210);
constexpr COLORREF kText = RGB(220, 220, 220);
constexpr int kTextCapacity = 128;
}  // namespace

void DrawDarkButton(const DRAWITEMSTRUCT& item) {
    HDC dc = item.hDC;
    RECT rect = item.rcItem;
    {
        UniqueBrush fill(CreateSolidBrush((item.itemState & ODS_SELECTED) ? kFillPressed : kFillNormal));
        FillRect(dc, &rect, fill.get());
    }
    {
        UniquePen border(CreatePen(PS_SOLID, 1, (item.itemState & ODS_DEFAULT) ? kBorderDefault : kBorderNormal));
        SelectedObject pen(dc, border.get());
        SelectedObject brush(dc, GetStockObject(NULL_BRUSH));
        Rectangle(dc, rect.left, rect.top, rect.right - 1, rect.bottom - 1);
    }
    wchar_t text[kTextCapacity] = {};
    GetWindowTextW(item.hwndItem, text, kTextCapacity);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, kText);
    auto font = reinterpret_cast<HFONT>(SendMessageW(item.hwndItem, WM_GETFONT, 0, 0));
    if (font) {
        SelectedObject selected(dc, font);
        DrawTextW(dc, text, -1, &rect, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    } else {
        DrawTextW(dc, text, -1, &rect, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    }
}
