// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The block of the two-call sizing protocol (GetAdaptersInfo, GetIpForwardTable,
// GetNetworkParams): fixed records, each holding the first entry of its list itself, then the
// further entries of all lists, in the caller's one buffer.
#pragma once

#include <cstddef>
#include <cstring>

#include "platform/wintypes.h"

namespace kestrel {

// Entries of a list of `count` that do not fit into its record.
constexpr std::size_t BeyondFirst(std::size_t count) {
    return count > 1 ? count - 1 : 0;
}

// Bytes of a block of `records` records and `extra` further entries.
template <typename Record, typename Entry>
constexpr ULONG TwoCallSize(std::size_t records, std::size_t extra) {
    return static_cast<ULONG>(records * sizeof(Record) + extra * sizeof(Entry));
}

// The caller's block, zeroed, with the further entries' place after the records. Null when
// `block` is missing or smaller than `*size` says: `*size` then holds the bytes needed and the
// caller answers with its "too small" code. A fitting call leaves `*size` as it was.
template <typename Entry, typename Record>
Entry* TwoCallBlock(Record* block, ULONG* size, std::size_t records, std::size_t extra) {
    const ULONG needed = TwoCallSize<Record, Entry>(records, extra);
    if (!block || *size < needed) {
        *size = needed;
        return nullptr;
    }
    std::memset(static_cast<void*>(block), 0, needed);
    return reinterpret_cast<Entry*>(block + records);
}

}  // namespace kestrel
