// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include <cstdio>

#include "cli/terminal.h"

namespace kestrel {

std::string Printable(const std::string& text) {
    std::string shown;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        const auto next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0;
        // C0, DEL, and C1 in UTF-8 (U+0080 to U+009F), which some terminals obey as well.
        const bool c1 = byte == 0xc2 && next >= 0x80 && next <= 0x9f;
        if (byte >= 0x20 && byte != 0x7f && !c1) {
            shown += text[i];
            continue;
        }
        char escaped[9];
        if (c1)
            std::snprintf(escaped, sizeof escaped, "\\x%02x", static_cast<unsigned>(next)), ++i;
        else
            std::snprintf(escaped, sizeof escaped, "\\x%02x", static_cast<unsigned>(byte));
        shown += escaped;
    }
    return shown;
}

}  // namespace kestrel
