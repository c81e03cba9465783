// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include <cstring>

#include "proto/packets.h"
#include "proto/proto.h"

namespace kestrel {

int BuildTftpRequest(char* packet, const char* fileName) {
    using namespace packets;
    const std::size_t nameLength = std::strlen(fileName);
    PutU16(reinterpret_cast<unsigned char*>(packet), TFTP_WRQ);
    char* name = packet + kTftpRequestNameOffset;
    std::memcpy(name, fileName, nameLength + 1);
    std::memcpy(name + nameLength + 1, kTftpMode, sizeof kTftpMode);
    return static_cast<int>(kTftpRequestNameOffset + nameLength + 1 + sizeof kTftpMode);
}

}  // namespace kestrel
