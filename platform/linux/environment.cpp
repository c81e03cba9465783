// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// Command line, system folder, the user's location and the locale's character set.
#include <fcntl.h>
#include <iconv.h>
#include <langinfo.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string_view>

#include "platform/files.h"
#include "platform/locale.h"
#include "platform/process.h"

#ifndef KESTREL_DEFAULT_SYSTEM_DIR
#define KESTREL_DEFAULT_SYSTEM_DIR "/usr/lib"
#endif

namespace kestrel {
namespace {

// "de_CA.UTF-8@euro" -> "CA"; "" when the name carries no territory.
std::string_view Territory(std::string_view locale) {
    std::size_t underscore = locale.find('_');
    if (underscore == std::string_view::npos) return {};
    std::string_view rest = locale.substr(underscore + 1);
    return rest.substr(0, rest.find_first_of(".@"));
}

class Converter {
public:
    Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
    ~Converter() {
        if (ok()) iconv_close(cd_);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;
    bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
    iconv_t get() const { return cd_; }

private:
    iconv_t cd_;
};

}  // namespace

void SetCommandLine(int argc, char** argv) {
    SetCommandLine(std::vector<std::string>(argv, argv + argc));
}

std::string GetSystemDirectoryW() {
    // secure_getenv: a binary given capabilities must not let the caller pick the folder.
    const char* configured = secure_getenv("KESTREL_SYSTEM_DIR");
    if (configured && *configured) return configured;
    return KESTREL_DEFAULT_SYSTEM_DIR;
}

int OpenFirmwareImage(const std::string& path) {
    const int file = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (file < 0) return -1;
    struct stat info {};
    if (::fstat(file, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(file);
        return -1;
    }
    return file;  // O_NONBLOCK changes nothing for a regular file's reads
}

void CloseFirmwareImage(int file) {
    if (file >= 0) ::close(file);
}

int GetUserGeoID() {
    std::string_view locale;
    for (const char* name : {"LC_ALL", "LC_ADDRESS", "LANG"}) {
        const char* value = std::getenv(name);
        if (value && *value) {
            locale = value;
            break;
        }
    }
    std::string_view territory = Territory(locale);
    if (territory == "US") return GEOID_UNITED_STATES;
    if (territory == "CA") return GEOID_CANADA;
    if (territory == "MX") return GEOID_MEXICO;
    return 0;
}

bool WideCharToMultiByte(const std::string& text, std::string& out) {
    Converter converter(nl_langinfo(CODESET), "UTF-8");
    if (!converter.ok()) return false;
    std::string input = text;
    std::string result(input.size() * 4 + 16, '\0');
    char* in = input.data();
    std::size_t inLeft = input.size();
    char* outPtr = result.data();
    std::size_t outLeft = result.size();
    // No transliteration and no default character: a name that does not fit fails as a whole.
    if (iconv(converter.get(), &in, &inLeft, &outPtr, &outLeft) == static_cast<std::size_t>(-1))
        return false;
    if (iconv(converter.get(), nullptr, nullptr, &outPtr, &outLeft) == static_cast<std::size_t>(-1))
        return false;
    result.resize(result.size() - outLeft);
    out = std::move(result);
    return true;
}

}  // namespace kestrel
