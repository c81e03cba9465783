// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// Router protocols: the DNS probe that tells a working router from a broken one, and the TFTP
// upload of the firmware image to the boot loader.
#pragma once

#include "platform/wizard.h"

namespace kestrel {

enum : int {
    TFTP_OK = 0,
    TFTP_ERR_OPEN = 1,
    TFTP_ERR_SOCKET = 2,
    TFTP_ERR_TIMEOUT = 3,
    TFTP_ERR_ACK = 4,
    TFTP_ERR_REMOTE = 5,
};

// 1 when a working router answered the query for kSetupHostName, else 0.
int ProbeRouterDns(WizardContext& dlg);

// Writes the image open in m_hFirmwareFile, from its start, to 192.168.1.1 as m_szFirmwareName;
// TFTP_OK or an error code.
int TftpUploadFirmware(WizardContext& dlg);

// Writes the "octet" write request for `fileName` at `packet`; returns its length.
int BuildTftpRequest(char* packet, const char* fileName);

}  // namespace kestrel
