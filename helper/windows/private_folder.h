// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

namespace kestrel {

// Who may open the journal's folder and what it holds: SYSTEM and the Administrators, with
// nothing inherited from above.
inline constexpr wchar_t kPrivateFolderSddl[] = L"D:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";

// %ProgramData%\kestrel-recovery, where the helper keeps its journal; empty, with the reason,
// when the system does not say where ProgramData is.
std::wstring JournalFolderPath(std::string& why);

// Makes `folder` (its parent must exist) or takes the one there, and gives it that access list.
// False, with the reason, when it cannot be made ours: not a folder, a link, or the access
// list cannot be set.
bool MakePrivateFolder(const std::wstring& folder, std::string& why);

}  // namespace kestrel
