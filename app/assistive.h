// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// What screen readers and other assistive tools are told about the wizard's controls.
#pragma once

class QWidget;

namespace kestrel {

// Leaves `control` out of what its window tells assistive tools: decoration, not content.
void HideFromAssistiveTools(QWidget& control);

}  // namespace kestrel
