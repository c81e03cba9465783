// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// Resource and control ids of the wizard; read by the resource compiler too, so only defines.
#pragma once

#define IDD_KESTRELRECOVERY_DIALOG 102
#define IDS_SOCKETS_INIT_FAILED 103
#define IDR_MAINFRAME 128

#define IDC_TITLE 1000
#define IDC_RULE 1001
#define IDC_DESCRIPTION 1002
#define IDC_PROGRESS_AUX 1003
#define IDC_PROGRESS 1004
#define IDC_STATUS 1005
