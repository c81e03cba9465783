// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include <cstring>

#include "proto/proto.h"

namespace kestrel {

int BuildTftpRequest(char* packet, const char* fileName) {
    static constexpr char kMode[] = "octet";
    const std::size_t nameLength = std::strlen(fileName);
    packet[0] = 0;
    packet[1] = 2;  // WRQ
    std::memcpy(packet + 2, fileName, nameLength + 1);
    std::memcpy(packet + 3 + nameLength, kMode, sizeof kMode);
    return static_cast<int>(nameLength + 9);
}

}  // namespace kestrel
