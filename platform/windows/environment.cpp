// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// Command line, folders, the image, the user's location and character set, the Windows way.
// Text inside the program is UTF-8; the system's wide strings are converted at this border.
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cstdlib>

#include "platform/files.h"
#include "platform/locale.h"
#include "platform/process.h"
#include "platform/windows/text.h"
#include "platform/wintypes.h"

namespace kestrel {
// The system's own command line, quotes and all, as the switches' parser expects it: argv is
// only the C runtime's reading of it.
void SetCommandLine(int, char**) {
    SetWholeCommandLine(Utf8(::GetCommandLineW()));
}

// We ship a 64-bit build only: for a 64-bit process System32 is the real system folder, and
// WOW64's redirection (which serves 32-bit programs SysWOW64 instead) never applies.
// KESTREL_SYSTEM_DIR stands in for it in tests, as on Linux.
std::string GetSystemDirectoryW() {
    if (const wchar_t* configured = ::_wgetenv(L"KESTREL_SYSTEM_DIR"); configured && *configured)
        return Utf8(configured);
    wchar_t folder[MAX_PATH];
    const UINT length = ::GetSystemDirectoryW(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return {};
    return Utf8(std::wstring(folder, length));
}

// Windows has no FIFO that could hold the upload up; only a regular file is kept all the same.
int OpenFirmwareImage(const std::string& path) {
    const int file = ::_wopen(Wide(path).c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT);
    if (file < 0) return -1;
    struct _stat64 info {};
    if (::_fstat64(file, &info) != 0 || (info.st_mode & _S_IFMT) != _S_IFREG) {
        ::_close(file);
        return -1;
    }
    return file;
}

void CloseFirmwareImage(int file) {
    if (file >= 0) ::_close(file);
}

int GetUserGeoID() {
    const GEOID nation = ::GetUserGeoID(GEOCLASS_NATION);
    if (nation == GEOID_UNITED_STATES || nation == GEOID_CANADA || nation == GEOID_MEXICO)
        return static_cast<int>(nation);
    return 0;
}

bool WideCharToMultiByte(const std::string& text, std::string& out) {
    return AnsiOf(Wide(text), out);
}

}  // namespace kestrel
