#include "launcher/ui/launcher_ui.h"

#include "common/localization.h"

#include <algorithm>

namespace kpatch {
namespace {

constexpr int kWidth = 640, kHeight = 300;
constexpr RECT kPlayRect{470, 190, 610, 240};
constexpr RECT kRepairRect{300, 190, 450, 240};

int clamp_percent(int p) { return std::clamp(p, 0, 100); }

void fill(HDC dc, const RECT& r, COLORREF color) {
    HBRUSH brush = CreateSolidBrush(color);
    FillRect(dc, &r, brush);
    DeleteObject(brush);
}

void draw_bar(HDC dc, int y, const std::wstring& label, int percent) {
    RECT text{30, y, 600, y + 18};
    DrawTextW(dc, label.c_str(), -1, &text, DT_LEFT | DT_SINGLELINE | DT_NOPREFIX);
    RECT back{30, y + 20, 610, y + 32};
    fill(dc, back, RGB(50, 54, 64));
    RECT done = back;
    done.right = back.left + (back.right - back.left) * percent / 100;
    fill(dc, done, RGB(214, 160, 60));
}

void draw_button(HDC dc, const RECT& r, const std::wstring& label, bool enabled) {
    fill(dc, r, enabled ? RGB(196, 126, 36) : RGB(70, 72, 80));
    SetTextColor(dc, enabled ? RGB(255, 255, 255) : RGB(150, 150, 155));
    RECT t = r;
    DrawTextW(dc, label.c_str(), -1, &t, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
}

}  // namespace

LauncherUI::~LauncherUI() {
    if (window_) DestroyWindow(window_);
    if (font_) DeleteObject(font_);
}

bool LauncherUI::create(HINSTANCE instance) {
    instance_ = instance;
    WNDCLASSEXW wc{sizeof wc};
    wc.lpfnWndProc = &LauncherUI::window_proc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.lpszClassName = kWindowClass;
    if (!RegisterClassExW(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return false;
    {
        std::lock_guard lock(mutex_);
        shared_.status_text = ui_text(10);
    }
    RECT r{0, 0, kWidth, kHeight};
    DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
    AdjustWindowRect(&r, style, FALSE);
    HWND hwnd = CreateWindowExW(0, kWindowClass, L"Kest Launcher", style, CW_USEDEFAULT, CW_USEDEFAULT,
                                r.right - r.left, r.bottom - r.top, nullptr, nullptr, instance, this);
    if (!hwnd) return false;
    font_ = CreateFontW(-15, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                        CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH, L"Tahoma");
    return true;
}

void LauncherUI::show() {
    ShowWindow(window_, SW_SHOW);
    UpdateWindow(window_);
}

template <class F>
void LauncherUI::update(F&& change) {
    HWND hwnd;
    {
        std::lock_guard lock(mutex_);
        change(shared_);
        hwnd = window_;
    }
    if (hwnd) PostMessageW(hwnd, kMsgStateChanged, 0, 0);
}

void LauncherUI::set_status_text(const std::wstring& text) {
    update([&](Shared& s) { s.status_text = text; });
}
void LauncherUI::set_total_progress(int percent) {
    update([&](Shared& s) {
        s.total_percent = clamp_percent(percent);
        s.busy = false;
    });
}
void LauncherUI::set_file_progress(int percent) {
    update([&](Shared& s) { s.file_percent = clamp_percent(percent); });
}
void LauncherUI::set_play_enabled(bool enabled) {
    update([&](Shared& s) { s.play_enabled = enabled; });
}
void LauncherUI::set_maintenance_lock(bool locked) {
    update([&](Shared& s) { s.maintenance_lock = locked; });
}
void LauncherUI::set_busy(bool busy) {
    update([&](Shared& s) { s.busy = busy; });
}
void LauncherUI::set_tools_enabled(bool enabled) {
    update([&](Shared& s) { s.tools_enabled = enabled; });
}
void LauncherUI::set_alpha_state(int mode, const std::wstring& text) {
    update([&](Shared& s) {
        s.alpha_mode = mode;
        if (!(mode == 1 && text.empty())) s.alpha_text = text;
    });
}
void LauncherUI::set_client_choice(bool v2) {
    update([&](Shared& s) { s.client_v2 = v2; });
}

void LauncherUI::request_attention() {
    HWND hwnd = window_;
    if (!hwnd || GetForegroundWindow() == hwnd) return;
    FLASHWINFO info{sizeof info, hwnd, FLASHW_TRAY | FLASHW_TIMERNOFG, 0, 0};
    FlashWindowEx(&info);
}

bool LauncherUI::ask(const std::wstring& caption, const std::wstring& question) {
    HWND hwnd = window_;
    if (!hwnd) return false;
    AskRecord record{&caption, &question, false};
    SendMessageW(hwnd, kMsgAsk, 0, reinterpret_cast<LPARAM>(&record));
    return record.answer;
}

void LauncherUI::set_button_handler(std::function<void(UiButton)> handler) { button_handler_ = std::move(handler); }

int LauncherUI::run() {
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    std::lock_guard lock(mutex_);
    return shared_.exit_code;
}

void LauncherUI::quit(int exit_code) {
    HWND hwnd;
    {
        std::lock_guard lock(mutex_);
        shared_.exit_code = exit_code;
        hwnd = window_;
    }
    if (hwnd) PostMessageW(hwnd, WM_CLOSE, 0, 0);
}

void LauncherUI::show_maintenance(const MaintenanceInfo& info) {
    HWND hwnd;
    {
        std::lock_guard lock(mutex_);
        shared_.maintenance = info;
        hwnd = window_;
    }
    if (hwnd) PostMessageW(hwnd, kMsgMaintenance, 0, 0);
}

void LauncherUI::set_refresh_handler(std::function<void()> handler) {
    std::lock_guard lock(mutex_);
    refresh_handler_ = std::move(handler);
}

LRESULT CALLBACK LauncherUI::window_proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) noexcept {
    if (msg == WM_NCCREATE) {
        auto* self = static_cast<LauncherUI*>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams);
        self->window_ = hwnd;
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = reinterpret_cast<LauncherUI*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!self) return DefWindowProcW(hwnd, msg, wp, lp);
    LRESULT result = 0;
    try {
        result = self->handle(msg, wp, lp);
    } catch (...) {
        result = DefWindowProcW(hwnd, msg, wp, lp);
    }
    if (msg == WM_NCDESTROY) {
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
        std::lock_guard lock(self->mutex_);
        self->window_ = nullptr;
    }
    return result;
}

LRESULT LauncherUI::handle(UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
        case kMsgStateChanged:
        case kMsgMaintenance:
            InvalidateRect(window_, nullptr, FALSE);
            return 0;
        case kMsgAsk: {
            auto* record = reinterpret_cast<AskRecord*>(lp);
            record->answer = MessageBoxW(window_, record->text->c_str(), record->caption->c_str(),
                                         MB_YESNO | MB_ICONQUESTION) == IDYES;
            return 0;
        }
        case WM_ERASEBKGND:
            return 1;
        case WM_PAINT: {
            PAINTSTRUCT ps;
            HDC dc = BeginPaint(window_, &ps);
            RECT client;
            GetClientRect(window_, &client);
            HDC mem = CreateCompatibleDC(dc);
            HBITMAP bmp = CreateCompatibleBitmap(dc, client.right, client.bottom);
            HGDIOBJ old_bmp = SelectObject(mem, bmp);
            paint(mem, client);
            BitBlt(dc, 0, 0, client.right, client.bottom, mem, 0, 0, SRCCOPY);
            SelectObject(mem, old_bmp);
            DeleteObject(bmp);
            DeleteDC(mem);
            EndPaint(window_, &ps);
            return 0;
        }
        case WM_LBUTTONUP:
            click(POINT{static_cast<short>(LOWORD(lp)), static_cast<short>(HIWORD(lp))});
            return 0;
        case WM_CLOSE:
            DestroyWindow(window_);
            return 0;
        case WM_DESTROY: {
            int code;
            {
                std::lock_guard lock(mutex_);
                code = shared_.exit_code;
            }
            PostQuitMessage(code);
            return 0;
        }
    }
    return DefWindowProcW(window_, msg, wp, lp);
}

void LauncherUI::paint(HDC dc, const RECT& client) {
    Shared s;
    {
        std::lock_guard lock(mutex_);
        s = shared_;
    }
    fill(dc, client, RGB(24, 26, 32));
    HGDIOBJ old_font = SelectObject(dc, font_);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, RGB(235, 235, 240));
    RECT status{30, 24, 610, 84};
    DrawTextW(dc, s.status_text.c_str(), -1, &status, DT_LEFT | DT_WORDBREAK | DT_NOPREFIX);
    SetTextColor(dc, RGB(170, 172, 180));
    draw_bar(dc, 92, ui_text(27), s.file_percent);
    draw_bar(dc, 136, ui_text(28), s.busy ? 0 : s.total_percent);
    draw_button(dc, kRepairRect, ui_text(38), s.tools_enabled);
    draw_button(dc, kPlayRect, ui_text(29), s.play_enabled && !s.maintenance_lock);
    SelectObject(dc, old_font);
}

void LauncherUI::click(POINT pt) {
    Shared s;
    {
        std::lock_guard lock(mutex_);
        s = shared_;
    }
    bool shift = GetKeyState(VK_SHIFT) < 0;
    if (PtInRect(&kPlayRect, pt) && s.play_enabled && (!s.maintenance_lock || shift)) {
        if (button_handler_) button_handler_(s.client_v2 ? PlayV2 : Play);
    } else if (PtInRect(&kRepairRect, pt) && s.tools_enabled) {
        if (button_handler_) button_handler_(Repair);
    }
}

}  // namespace kpatch
