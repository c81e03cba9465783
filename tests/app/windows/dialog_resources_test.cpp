// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The wizard's icon, string and manifest as the program carries them, read back with the
// resource functions; and the colour bar's fill. (What the dialog template makes, the Wine wizard
// rows see on the screen.)
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "app/windows/color_progress_ctrl.h"
#include "app/windows/resource.h"
#include "platform/wintypes.h"

namespace kestrel {
namespace {

// A resource of the program, by its type's and its own number.
const BYTE* Resource(WORD type, WORD name, DWORD* size = nullptr) {
    const HMODULE self = GetModuleHandleW(nullptr);
    // Without the resource, each of these fails: a null pointer, and no size.
    HRSRC found = FindResourceW(self, MAKEINTRESOURCEW(name), MAKEINTRESOURCEW(type));
    if (size) *size = SizeofResource(self, found);
    return static_cast<const BYTE*>(LockResource(LoadResource(self, found)));
}

TEST(ProgramResources, IconStringAndManifest) {
    // Icon 128: one image (the GRPICONDIR's count), 32 x 32 at 32 bits per pixel (its entry).
    const BYTE* group = Resource(14 /* RT_GROUP_ICON */, IDR_MAINFRAME);
    ASSERT_NE(group, nullptr);
    EXPECT_EQ((std::vector<int>{group[4] | group[5] << 8, group[6], group[7],
                                group[12] | group[13] << 8}),
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
                               "name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\"",
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
