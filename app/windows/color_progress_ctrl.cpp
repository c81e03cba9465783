// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/windows/color_progress_ctrl.h"

#include <commctrl.h>

namespace kestrel {
namespace {

constexpr UINT_PTR kSubclassId = 1;

}  // namespace

RECT BarFill(const RECT& client, int position, int upper) {
    const int width = client.right - client.left;
    // Computed in floating point and truncated, as the bar has always been drawn.
    const int filled =
        upper > 0 ? static_cast<int>(static_cast<double>(width) * position / upper) : 0;
    return RECT{client.left + 1, client.top + 1, client.left + 1 + filled, client.bottom - 1};
}

CColorProgressCtrl::CColorProgressCtrl() : m_clrBar(RGB(0, 0, 255)) {}

CColorProgressCtrl::~CColorProgressCtrl() {
    if (m_hWnd) RemoveWindowSubclass(m_hWnd, SubclassProc, kSubclassId);
}

void CColorProgressCtrl::Attach(HWND window) {
    m_hWnd = window;
    SetWindowSubclass(window, SubclassProc, kSubclassId, reinterpret_cast<DWORD_PTR>(this));
}

void CColorProgressCtrl::SetRange(int lower, int upper) {
    SendMessageW(m_hWnd, PBM_SETRANGE, 0, MAKELPARAM(lower, upper));
}

void CColorProgressCtrl::SetStep(int step) {
    SendMessageW(m_hWnd, PBM_SETSTEP, static_cast<WPARAM>(step), 0);
}

int CColorProgressCtrl::SetPos(int position) {
    return static_cast<int>(SendMessageW(m_hWnd, PBM_SETPOS, static_cast<WPARAM>(position), 0));
}

int CColorProgressCtrl::GetPos() const {
    return static_cast<int>(SendMessageW(m_hWnd, PBM_GETPOS, 0, 0));
}

int CColorProgressCtrl::StepIt() {
    return static_cast<int>(SendMessageW(m_hWnd, PBM_STEPIT, 0, 0));
}

LRESULT CALLBACK CColorProgressCtrl::SubclassProc(HWND window, UINT message, WPARAM wParam,
                                                  LPARAM lParam, UINT_PTR, DWORD_PTR self) {
    switch (message) {
        case WM_PAINT:
            reinterpret_cast<CColorProgressCtrl*>(self)->OnPaint();
            return 0;
        case WM_NCDESTROY:
            RemoveWindowSubclass(window, SubclassProc, kSubclassId);
            reinterpret_cast<CColorProgressCtrl*>(self)->m_hWnd = nullptr;
            break;
    }
    return DefSubclassProc(window, message, wParam, lParam);
}

// Nothing but the fill: no frame (the window border is the frame), no chunks, no text.
void CColorProgressCtrl::OnPaint() {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(m_hWnd, &paint);
    RECT client;
    GetClientRect(m_hWnd, &client);
    const int position = GetPos();
    PBRANGE range{};
    SendMessageW(m_hWnd, PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range));
    const RECT fill = BarFill(client, position, range.iHigh);
    HBRUSH brush = CreateSolidBrush(m_clrBar);
    FillRect(dc, &fill, brush);
    DeleteObject(brush);
    EndPaint(m_hWnd, &paint);
}

}  // namespace kestrel
