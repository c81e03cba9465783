// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The wizard's template, icon, string and manifest as the program carries them, read back with
// the resource functions; and the colour bar's fill.
// The Windows headers first, in the order they need.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/windows/color_progress_ctrl.h"
#include "app/windows/resource.h"
#include "platform/wintypes.h"

namespace kestrel {
namespace {

// A DLGTEMPLATEEX and its DLGITEMTEMPLATEEX entries, as the dialog manager reads them.
struct Item {
    DWORD style = 0;
    DWORD exStyle = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    DWORD id = 0;
    std::wstring windowClass;  // predefined classes by their name, lower case
    std::wstring text;
};

struct Template {
    DWORD style = 0;
    DWORD exStyle = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    std::wstring menu, windowClass, caption, fontName;
    WORD pointSize = 0, weight = 0;
    BYTE italic = 0, charset = 0;
    std::vector<Item> items;
};

class Reader {
public:
    explicit Reader(const BYTE* at) : at_(at), start_(at) {}
    template <typename T>
    T Take() {
        T value;
        std::memcpy(&value, at_, sizeof value);
        at_ += sizeof value;
        return value;
    }
    // A string, or an ordinal after 0xFFFF (a predefined class, by its name).
    std::wstring TakeSzOrOrd() {
        const WORD first = Take<WORD>();
        if (first == 0xFFFF) {
            switch (Take<WORD>()) {
                case 0x0080:
                    return L"button";
                case 0x0082:
                    return L"static";
                default:
                    return L"#ordinal";
            }
        }
        std::wstring text;
        for (WORD c = first; c != 0; c = Take<WORD>()) text += static_cast<wchar_t>(c);
        return text;
    }
    void AlignDword() {
        while ((at_ - start_) % 4) ++at_;
    }

private:
    const BYTE* at_;
    const BYTE* start_;
};

std::wstring Lower(std::wstring text) {
    for (wchar_t& c : text) c = static_cast<wchar_t>(towlower(c));
    return text;
}

const BYTE* LoadResourceBytes(LPCWSTR type, LPCWSTR name, DWORD* size = nullptr) {
    HRSRC found = FindResourceW(GetModuleHandleW(nullptr), name, type);
    if (!found) return nullptr;
    if (size) *size = SizeofResource(GetModuleHandleW(nullptr), found);
    return static_cast<const BYTE*>(LockResource(LoadResource(GetModuleHandleW(nullptr), found)));
}

Template ReadTemplate(const BYTE* bytes) {
    Template dialog;
    Reader in(bytes);
    EXPECT_EQ(in.Take<WORD>(), 1);       // dlgVer
    EXPECT_EQ(in.Take<WORD>(), 0xFFFF);  // signature: an extended template
    in.Take<DWORD>();                    // helpID
    dialog.exStyle = in.Take<DWORD>();
    dialog.style = in.Take<DWORD>();
    const WORD count = in.Take<WORD>();
    dialog.x = in.Take<short>();
    dialog.y = in.Take<short>();
    dialog.cx = in.Take<short>();
    dialog.cy = in.Take<short>();
    dialog.menu = in.TakeSzOrOrd();
    dialog.windowClass = in.TakeSzOrOrd();
    dialog.caption = in.TakeSzOrOrd();
    if (dialog.style & DS_SETFONT) {
        dialog.pointSize = in.Take<WORD>();
        dialog.weight = in.Take<WORD>();
        dialog.italic = in.Take<BYTE>();
        dialog.charset = in.Take<BYTE>();
        dialog.fontName = in.TakeSzOrOrd();
    }
    for (WORD i = 0; i < count; ++i) {
        in.AlignDword();
        Item item;
        in.Take<DWORD>();  // helpID
        item.exStyle = in.Take<DWORD>();
        item.style = in.Take<DWORD>();
        item.x = in.Take<short>();
        item.y = in.Take<short>();
        item.cx = in.Take<short>();
        item.cy = in.Take<short>();
        item.id = in.Take<DWORD>();
        item.windowClass = Lower(in.TakeSzOrOrd());
        item.text = in.TakeSzOrOrd();
        const WORD extra = in.Take<WORD>();
        for (WORD skip = 0; skip < extra; ++skip) in.Take<BYTE>();
        dialog.items.push_back(item);
    }
    return dialog;
}

constexpr DWORD kStatic = WS_CHILD | WS_VISIBLE | WS_GROUP;
constexpr DWORD kBar = WS_CHILD | WS_VISIBLE | WS_BORDER;

// In template order, which is the tab order.
const Item kControls[] = {
    {WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, 0, 168, 126, 50, 14, IDOK, L"button",
     L"Next"},
    {WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, 0, 18, 126, 50, 14, IDCANCEL, L"button",
     L"Quit"},
    {kStatic | SS_LEFT, 0, 24, 12, 195, 12, IDC_TITLE, L"static",
     L"KESTREL Router Firmware Recovery"},
    {kStatic | SS_LEFT, 0, 6, 24, 228, 12, IDC_RULE, L"static", std::wstring(41, L'_')},
    {kStatic | SS_LEFT, 0, 54, 45, 146, 8, IDC_DESCRIPTION, L"static", L"Description"},
    {kBar, 0, 33, 64, 186, 14, IDC_PROGRESS_AUX, L"msctls_progress32", L""},
    {kBar, 0, 33, 84, 186, 14, IDC_PROGRESS, L"msctls_progress32", L""},
    {kStatic | SS_CENTER, 0, 37, 126, 171, 8, IDC_STATUS, L"static", L"Status"},
};

TEST(DialogTemplate, WindowIsTheWizardsPopupWithItsFont) {
    const BYTE* bytes = LoadResourceBytes(MAKEINTRESOURCEW(5) /* RT_DIALOG */,
                                          MAKEINTRESOURCEW(IDD_KESTRELRECOVERY_DIALOG));
    ASSERT_NE(bytes, nullptr);
    const Template dialog = ReadTemplate(bytes);
    // No system menu: no close box, no minimise or maximise button.
    EXPECT_EQ(dialog.style,
              static_cast<DWORD>(WS_POPUP | WS_VISIBLE | WS_CAPTION | DS_MODALFRAME | DS_SETFONT));
    EXPECT_EQ(dialog.exStyle, static_cast<DWORD>(WS_EX_APPWINDOW));
    EXPECT_EQ((std::vector<short>{dialog.x, dialog.y, dialog.cx, dialog.cy}),
              (std::vector<short>{0, 0, 240, 151}));
    EXPECT_EQ(dialog.caption, L"KESTREL Device Recovery");
    EXPECT_EQ(dialog.menu, L"");
    EXPECT_EQ(dialog.windowClass, L"");
    EXPECT_EQ(dialog.fontName, L"Microsoft Sans Serif");
    EXPECT_EQ(dialog.pointSize, 10);
    EXPECT_EQ(dialog.weight, 400);
    EXPECT_EQ(dialog.italic, 0);
    EXPECT_EQ(dialog.charset, 0);
}

TEST(DialogTemplate, ControlsInTabOrderWithTheirRectanglesStylesAndTexts) {
    const BYTE* bytes = LoadResourceBytes(MAKEINTRESOURCEW(5) /* RT_DIALOG */,
                                          MAKEINTRESOURCEW(IDD_KESTRELRECOVERY_DIALOG));
    ASSERT_NE(bytes, nullptr);
    const Template dialog = ReadTemplate(bytes);
    ASSERT_EQ(dialog.items.size(), std::size(kControls));
    for (std::size_t i = 0; i < std::size(kControls); ++i) {
        const Item& want = kControls[i];
        const Item& got = dialog.items[i];
        SCOPED_TRACE("control " + std::to_string(want.id));
        EXPECT_EQ(got.id, want.id);
        EXPECT_EQ(got.windowClass, want.windowClass);
        EXPECT_EQ(got.text, want.text);
        EXPECT_EQ(got.style, want.style);
        EXPECT_EQ(got.exStyle, want.exStyle);
        EXPECT_EQ((std::vector<short>{got.x, got.y, got.cx, got.cy}),
                  (std::vector<short>{want.x, want.y, want.cx, want.cy}));
    }
}

#pragma pack(push, 2)
struct IconDirEntry {  // GRPICONDIRENTRY
    BYTE width, height, colours, reserved;
    WORD planes, bitCount;
    DWORD bytes;
    WORD id;
};
#pragma pack(pop)

TEST(ProgramResources, IconStringAndManifest) {
    // Icon 128: one image, 32 x 32 at 32 bits per pixel.
    const BYTE* group = LoadResourceBytes(MAKEINTRESOURCEW(14) /* RT_GROUP_ICON */,
                                          MAKEINTRESOURCEW(IDR_MAINFRAME));
    ASSERT_NE(group, nullptr);
    WORD count = 0;
    std::memcpy(&count, group + 4, sizeof count);
    ASSERT_EQ(count, 1);
    IconDirEntry entry;
    std::memcpy(&entry, group + 6, sizeof entry);
    EXPECT_EQ(entry.width, 32);
    EXPECT_EQ(entry.height, 32);
    EXPECT_EQ(entry.bitCount, 32);
    EXPECT_NE(LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_MAINFRAME)), nullptr);

    wchar_t text[128] = {};
    LoadStringW(GetModuleHandleW(nullptr), IDS_SOCKETS_INIT_FAILED, text, 128);
    EXPECT_STREQ(text, L"Windows sockets initialization failed.");

    // What the system reads before the program starts: elevation, common controls 6 and the
    // DPI awareness.
    DWORD size = 0;
    const BYTE* manifest =
        LoadResourceBytes(MAKEINTRESOURCEW(24) /* RT_MANIFEST */, MAKEINTRESOURCEW(1), &size);
    ASSERT_NE(manifest, nullptr);
    const std::string xml(reinterpret_cast<const char*>(manifest), size);
    for (const char* needle : {"level=\"requireAdministrator\"",
                               "name=\"Microsoft.Windows.Common-Controls\" "
                               "version=\"6.0.0.0\"",
                               ">PerMonitorV2, PerMonitor<"})
        EXPECT_NE(xml.find(needle), std::string::npos) << needle;
}

struct FillRow {
    const char* scenario;
    RECT client;
    int position;
    int upper;
    RECT fill;
};

// The bar's client area starts at 0, 0 inside its border.
const FillRow kFills[] = {
    {"position 0 fills nothing", {0, 0, 348, 28}, 0, 1000, {1, 1, 1, 27}},
    {"half way on 348 pixels", {0, 0, 348, 28}, 500, 1000, {1, 1, 175, 27}},
    {"full reaches one pixel past the right edge", {0, 0, 348, 28}, 1000, 1000, {1, 1, 349, 27}},
    {"truncated, not rounded", {0, 0, 348, 28}, 3, 1000, {1, 1, 2, 27}},
    {"no upper limit fills nothing", {0, 0, 348, 28}, 10, 0, {1, 1, 1, 27}},
};

TEST(ColorProgressCtrl, FillFollowsPositionOverRange) {
    for (const FillRow& row : kFills) {
        SCOPED_TRACE(row.scenario);
        const RECT got = BarFill(row.client, row.position, row.upper);
        EXPECT_EQ(
            (std::vector<LONG>{got.left, got.top, got.right, got.bottom}),
            (std::vector<LONG>{row.fill.left, row.fill.top, row.fill.right, row.fill.bottom}));
    }
}

}  // namespace
}  // namespace kestrel
