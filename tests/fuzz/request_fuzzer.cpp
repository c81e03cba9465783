// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
//
// The helper's request decoder against any bytes a front end could send. A request it accepts
// must encode back to a request that decodes to the same.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "ipc/helper_protocol.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string line(reinterpret_cast<const char*>(data), size);
    kestrel::HelperRequest request;
    std::string why;
    if (!kestrel::DecodeRequest(line, request, why)) return 0;
    kestrel::HelperRequest again;
    if (!kestrel::DecodeRequest(kestrel::EncodeRequest(request), again, why) || !(again == request))
        std::abort();
    return 0;
}
