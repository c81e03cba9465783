// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The wizard's template, icon, string and manifest as the program carries them, read back with
// the resource functions; and the colour bar's fill.
// The Windows headers first, in the order they need.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "app/windows/color_progress_ctrl.h"
#include "app/windows/resource.h"
#include "platform/wintypes.h"

namespace kestrel {
namespace {

// The dialog (id 0, its caption as its text) or a control: id, class (predefined ones by their
// name, lower case), text, style, extended style. (The rectangles are the resource's own numbers,
// and the wizard places the description and the bars itself.)
using Window = std::tuple<DWORD, std::wstring, std::wstring, DWORD, DWORD>;
// Point size, weight, italic, character set, face.
using Font = std::tuple<WORD, WORD, BYTE, BYTE, std::wstring>;

struct Reader {
    const BYTE* at;
    const BYTE* start = at;
    template <typename T>
    T Take() {
        T value;
        std::memcpy(&value, at, sizeof value);
        at += sizeof value;
        return value;
    }
    // A string, or an ordinal after 0xFFFF.
    std::wstring Text() {
        WORD c = Take<WORD>();
        if (c == 0xFFFF) {
            const WORD ordinal = Take<WORD>();
            return ordinal == 0x80 ? L"button" : ordinal == 0x82 ? L"static" : L"#ordinal";
        }
        std::wstring text;
        for (; c != 0; c = Take<WORD>()) text += static_cast<wchar_t>(c);
        return text;
    }
};

// A DLGTEMPLATEEX and its DLGITEMTEMPLATEEX entries, as the dialog manager reads them.
std::vector<Window> ReadTemplate(const BYTE* bytes, Font& font) {
    Reader in{bytes};
    EXPECT_EQ(in.Take<DWORD>(), 0xFFFF0001u);  // version 1, and the signature of an extended one
    in.Take<DWORD>();                          // help id
    const DWORD exStyle = in.Take<DWORD>(), style = in.Take<DWORD>();
    WORD count = in.Take<WORD>();
    in.Take<std::array<short, 4>>();  // x y cx cy
    EXPECT_EQ(in.Text(), L"") << "a menu";
    const std::wstring windowClass = in.Text();
    std::vector<Window> windows{{0, windowClass, in.Text(), style, exStyle}};
    if (style & DS_SETFONT)  // braces evaluate in order
        font = {in.Take<WORD>(), in.Take<WORD>(), in.Take<BYTE>(), in.Take<BYTE>(), in.Text()};
    while (count--) {
        in.at = in.start + (in.at - in.start + 3) / 4 * 4;  // each entry starts on a DWORD
        in.Take<DWORD>();                                   // help id
        const DWORD itemExStyle = in.Take<DWORD>(), itemStyle = in.Take<DWORD>();
        in.Take<std::array<short, 4>>();
        const DWORD id = in.Take<DWORD>();
        std::wstring itemClass = in.Text();
        std::ranges::transform(itemClass, itemClass.begin(), towlower);
        windows.emplace_back(id, itemClass, in.Text(), itemStyle, itemExStyle);
        in.at += in.Take<WORD>();  // creation data
    }
    return windows;
}

// A resource of the program, by its type's and its own number.
const BYTE* Resource(WORD type, WORD name, DWORD* size = nullptr) {
    const HMODULE self = GetModuleHandleW(nullptr);
    // Without the resource, each of these fails: a null pointer, and no size.
    HRSRC found = FindResourceW(self, MAKEINTRESOURCEW(name), MAKEINTRESOURCEW(type));
    if (size) *size = SizeofResource(self, found);
    return static_cast<const BYTE*>(LockResource(LoadResource(self, found)));
}

constexpr DWORD kButton = WS_CHILD | WS_VISIBLE | WS_TABSTOP;
constexpr DWORD kStatic = WS_CHILD | WS_VISIBLE | WS_GROUP;
constexpr DWORD kBar = WS_CHILD | WS_VISIBLE | WS_BORDER;

// The popup has no system menu: no close box, no minimise or maximise button. Its controls follow
// in template order, which is the tab order.
const std::vector<Window> kWizard = {
    {0, L"", L"KESTREL Device Recovery",
     WS_POPUP | WS_VISIBLE | WS_CAPTION | DS_MODALFRAME | DS_SETFONT, WS_EX_APPWINDOW},
    {IDOK, L"button", L"Next", kButton | BS_DEFPUSHBUTTON, 0},
    {IDCANCEL, L"button", L"Quit", kButton | BS_PUSHBUTTON, 0},
    {IDC_TITLE, L"static", L"KESTREL Router Firmware Recovery", kStatic | SS_LEFT, 0},
    {IDC_RULE, L"static", std::wstring(41, L'_'), kStatic | SS_LEFT, 0},
    {IDC_DESCRIPTION, L"static", L"Description", kStatic | SS_LEFT, 0},
    {IDC_PROGRESS_AUX, L"msctls_progress32", L"", kBar, 0},
    {IDC_PROGRESS, L"msctls_progress32", L"", kBar, 0},
    {IDC_STATUS, L"static", L"Status", kStatic | SS_CENTER, 0},
};

TEST(DialogTemplate, TheWizardsPopupAndItsControlsInTabOrderWithTheirFont) {
    const BYTE* bytes = Resource(5 /* RT_DIALOG */, IDD_KESTRELRECOVERY_DIALOG);
    ASSERT_NE(bytes, nullptr);
    Font font;
    EXPECT_EQ(ReadTemplate(bytes, font), kWizard);
    EXPECT_EQ(font, (Font{10, 400, 0, 0, L"Microsoft Sans Serif"}));
}

TEST(ProgramResources, IconStringAndManifest) {
    // Icon 128: one image (the GRPICONDIR's count), 32 x 32 at 32 bits per pixel (its entry).
    const BYTE* group = Resource(14 /* RT_GROUP_ICON */, IDR_MAINFRAME);
    ASSERT_NE(group, nullptr);
    EXPECT_EQ((std::vector<int>{Reader{group + 4}.Take<WORD>(), group[6], group[7],
                                Reader{group + 12}.Take<WORD>()}),
              (std::vector<int>{1, 32, 32, 32}));
    EXPECT_NE(LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_MAINFRAME)), nullptr);

    wchar_t text[128] = {};
    LoadStringW(GetModuleHandleW(nullptr), IDS_SOCKETS_INIT_FAILED, text, 128);
    EXPECT_STREQ(text, L"Windows sockets initialization failed.");

    // What the system reads before the program starts: elevation, common controls 6 and the
    // DPI awareness.
    DWORD size = 0;
    const BYTE* manifest = Resource(24 /* RT_MANIFEST */, 1, &size);
    ASSERT_NE(manifest, nullptr);
    const std::string xml(reinterpret_cast<const char*>(manifest), size);
    for (const char* needle : {"level=\"requireAdministrator\"",
                               "name=\"Microsoft.Windows.Common-Controls\" "
                               "version=\"6.0.0.0\"",
                               ">PerMonitorV2, PerMonitor<"})
        EXPECT_NE(xml.find(needle), std::string::npos) << needle;
}

TEST(ColorProgressCtrl, FillFollowsPositionOverRange) {
    // A bar of 348 x 28 pixels inside its border: the fill is inset by one but on the right.
    for (const auto& [scenario, position, upper, right] :
         std::vector<std::tuple<const char*, int, int, LONG>>{
             {"position 0 fills nothing", 0, 1000, 1},
             {"half way on 348 pixels", 500, 1000, 175},
             {"full reaches one pixel past the right edge", 1000, 1000, 349},
             {"truncated, not rounded", 999, 1000, 348},
             {"no upper limit fills nothing", 10, 0, 1}}) {
        SCOPED_TRACE(scenario);
        const RECT got = BarFill({0, 0, 348, 28}, position, upper);
        EXPECT_EQ((std::vector<LONG>{got.left, got.top, got.right, got.bottom}),
                  (std::vector<LONG>{1, 1, right, 27}));
    }
}

}  // namespace
}  // namespace kestrel
