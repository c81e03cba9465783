// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The progress bar that paints its filled part as one flat rectangle of its own colour: a
// standard progress control, subclassed for its painting only.
#pragma once

#include "platform/wintypes.h"

namespace kestrel {

// The part of `client` that the fill covers at `position` of 0 to `upper`: inset by one pixel on
// the left, top and bottom, not on the right, so that the full bar reaches one pixel past the
// client area (clipped). Empty for a range without an upper limit.
RECT BarFill(const RECT& client, int position, int upper);

class CColorProgressCtrl {
public:
    CColorProgressCtrl();
    ~CColorProgressCtrl();
    CColorProgressCtrl(const CColorProgressCtrl&) = delete;
    CColorProgressCtrl& operator=(const CColorProgressCtrl&) = delete;

    // Takes over the painting of the control `window`.
    void Attach(HWND window);
    HWND Window() const { return m_hWnd; }

    void SetRange(int lower, int upper);
    void SetStep(int step);
    int SetPos(int position);
    int GetPos() const;
    int StepIt();

    const COLORREF m_clrBar;

private:
    static LRESULT CALLBACK SubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                         UINT_PTR id, DWORD_PTR self);
    void OnPaint();

    HWND m_hWnd = nullptr;
};

}  // namespace kestrel
