// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// kestrel-wizard-peek: what the wizard's window shows, for the tests under Wine, which cannot ask
// X for a Win32 control's text. Run in the wizard's Wine prefix:
//
//   kestrel-wizard-peek FACE POINTS
//
// prints, one fact a line:
//   dpi N                  the screen's vertical resolution
//   base X Y               dialog base units of font FACE at POINTS, measured as the dialog
//                          manager measures them (average width of the 52 letters, cell height)
//   client W H             the wizard's client area, in pixels
//   origin X Y             where that client area starts on the screen
//   control ID VISIBLE TEXT  per control of the template, its text with "\n" for line breaks
// Exits with 1 while there is no wizard window.
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

constexpr wchar_t kCaption[] = L"KESTREL Device Recovery";
constexpr int kControls[] = {IDOK, IDCANCEL, 1000, 1001, 1002, 1003, 1004, 1005};

std::string Utf8(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text) {
        if (c == L'\r') continue;
        if (c == L'\n') {
            out += "\\n";
            continue;
        }
        char bytes[8];
        const int n = WideCharToMultiByte(CP_UTF8, 0, &c, 1, bytes, sizeof bytes, nullptr, nullptr);
        out.append(bytes, n > 0 ? static_cast<std::size_t>(n) : 0);
    }
    return out;
}

// The base units of a dialog whose template names this font, as GdiGetCharDimensions finds them.
SIZE BaseUnits(HDC dc, const wchar_t* face, int points) {
    LOGFONTW font{};
    font.lfHeight = -MulDiv(points, GetDeviceCaps(dc, LOGPIXELSY), 72);
    font.lfWeight = FW_NORMAL;
    lstrcpynW(font.lfFaceName, face, LF_FACESIZE);
    HFONT handle = CreateFontIndirectW(&font);
    HGDIOBJ old = SelectObject(dc, handle);
    TEXTMETRICW metrics{};
    GetTextMetricsW(dc, &metrics);
    static constexpr wchar_t kLetters[] = L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    SIZE extent{};
    GetTextExtentPoint32W(dc, kLetters, 52, &extent);
    SelectObject(dc, old);
    DeleteObject(handle);
    return SIZE{(extent.cx / 26 + 1) / 2, metrics.tmHeight};
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: kestrel-wizard-peek FACE POINTS\n");
        return 64;
    }
    HWND dialog = FindWindowW(nullptr, kCaption);
    if (dialog == nullptr) return 1;

    HDC screen = GetDC(nullptr);
    const SIZE base = BaseUnits(screen, argv[1], _wtoi(argv[2]));
    std::printf("dpi %d\nbase %ld %ld\n", GetDeviceCaps(screen, LOGPIXELSY), base.cx, base.cy);
    ReleaseDC(nullptr, screen);

    RECT client{};
    GetClientRect(dialog, &client);
    POINT origin{0, 0};
    ClientToScreen(dialog, &origin);
    std::printf("client %ld %ld\norigin %ld %ld\n", client.right, client.bottom, origin.x,
                origin.y);
    for (int id : kControls) {
        HWND control = GetDlgItem(dialog, id);
        if (control == nullptr) continue;
        std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(control)) + 1, L'\0');
        text.resize(static_cast<std::size_t>(
            GetWindowTextW(control, text.data(), static_cast<int>(text.size()))));
        std::printf("control %d %d %s\n", id, IsWindowVisible(control) ? 1 : 0, Utf8(text).c_str());
    }
    return 0;
}
