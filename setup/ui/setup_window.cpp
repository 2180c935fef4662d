#include "setup/ui/setup_window.h"

#include "common/localization.h"

#include <string>

namespace kpatch {
namespace {

LRESULT CALLBACK setup_proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) noexcept {
    switch (msg) {
        case WM_PAINT: {
            PAINTSTRUCT ps;
            HDC dc = BeginPaint(hwnd, &ps);
            RECT r;
            GetClientRect(hwnd, &r);
            HBRUSH back = CreateSolidBrush(RGB(24, 26, 32));
            FillRect(dc, &r, back);
            DeleteObject(back);
            SetBkMode(dc, TRANSPARENT);
            SetTextColor(dc, RGB(235, 235, 240));
            std::wstring heading = ui_text(103);
            r.left += 30;
            r.top += 30;
            DrawTextW(dc, heading.c_str(), -1, &r, DT_LEFT | DT_SINGLELINE | DT_NOPREFIX);
            EndPaint(hwnd, &ps);
            return 0;
        }
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

}  // namespace

int run_setup_window(HINSTANCE instance) {
    choose_setup_language(L"");
    WNDCLASSEXW wc{sizeof wc};
    wc.lpfnWndProc = setup_proc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.lpszClassName = kSetupWindowClass;
    if (!RegisterClassExW(&wc)) return 1;
    std::wstring title = ui_text(102);
    HWND hwnd = CreateWindowExW(0, kSetupWindowClass, title.c_str(), WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU,
                                CW_USEDEFAULT, CW_USEDEFAULT, 560, 360, nullptr, nullptr, instance, nullptr);
    if (!hwnd) return 1;
    ShowWindow(hwnd, SW_SHOW);
    UpdateWindow(hwnd);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return 0;
}

}  // namespace kpatch
