// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/command_line.h"

#include <cctype>
#include <climits>
#include <cstdint>
#include <optional>

#include "platform/kernel.h"

namespace kestrel {
namespace {

// A character of the command line, counted as the user typed it: UTF-8 continuation bytes do
// not start a new one.
std::size_t CharacterCount(const std::string& text) {
    std::size_t count = 0;
    for (unsigned char byte : text)
        if ((byte & 0xC0) != 0x80) ++count;
    return count;
}

// The value of the switch found at `at`: from after its "=" to the first space or the end.
// Empty optional when it is longer than the copy buffer would hold.
std::optional<std::string> SwitchValue(const std::string& commandLine, std::size_t at,
                                       std::size_t switchLength) {
    std::size_t start = at + switchLength;
    std::size_t end = commandLine.find(' ', start);
    std::string value = commandLine.substr(start, end == std::string::npos ? end : end - start);
    if (CharacterCount(value) > kMaxValueChars) return std::nullopt;
    return value;
}

// Decimal seconds as the C library reads them: white space, a sign, digits up to the first
// non-digit, 0 without digits. Too large values saturate.
std::int64_t ReadSeconds(const std::string& value) {
    std::size_t i = 0;
    while (i < value.size() && std::isspace(static_cast<unsigned char>(value[i]))) ++i;
    bool negative = false;
    if (i < value.size() && (value[i] == '+' || value[i] == '-')) negative = value[i++] == '-';
    std::int64_t number = 0;
    for (; i < value.size() && std::isdigit(static_cast<unsigned char>(value[i])); ++i)
        number = std::min<std::int64_t>(number * 10 + (value[i] - '0'), INT64_MAX / 100);
    return negative ? -number : number;
}

int RebootTimeoutMs(std::int64_t seconds) {
    // A wait is only meaningful forwards; one that does not fit in milliseconds is as long as
    // the member can hold.
    if (seconds <= 0) return kDefaultRebootTimeoutMs;
    if (seconds > INT_MAX / 1000) return INT_MAX / 1000 * 1000;
    return static_cast<int>(seconds * 1000);
}

bool IsNorthAmerica(int geoId) {
    return geoId == GEOID_UNITED_STATES || geoId == GEOID_CANADA || geoId == GEOID_MEXICO;
}

// A name that would leave the image folder (or is the folder itself) is no image of ours.
bool IsPlainFileName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

CommandLineSettings Fail(CommandLineSettings settings, const std::string& text) {
    if (settings.bDebug) settings.boxes.push_back({text, "Error"});
    settings.ok = false;
    settings.failure = text;
    return settings;
}

std::string TooLong(const char* switchName) {
    return std::string("The value of ") + switchName + " is longer than " +
           std::to_string(kMaxValueChars) + " characters.";
}

}  // namespace

CommandLineEnvironment PlatformCommandLineEnvironment() {
    return {GetUserGeoID, GetSystemDirectoryW(), OpenFirmwareImage, CloseFirmwareImage,
            WideCharToMultiByte};
}

CommandLineSettings ReadCommandLine(const std::string& commandLine,
                                    const CommandLineEnvironment& environment) {
    CommandLineSettings settings;
    constexpr auto npos = std::string::npos;

    if (commandLine.find("DEBUG") != npos) settings.bDebug = TRUE;

    settings.nRebootTimeout = kDefaultRebootTimeoutMs;
    if (std::size_t at = commandLine.find("TIME="); at != npos) {
        std::optional<std::string> value = SwitchValue(commandLine, at, 5);
        if (!value) return Fail(std::move(settings), TooLong("TIME="));
        settings.nRebootTimeout = RebootTimeoutMs(ReadSeconds(*value));
    }

    const char* switchName = nullptr;
    std::size_t at = npos;
    if (commandLine.find("WWFW=") != npos) {
        switchName = IsNorthAmerica(environment.userGeoId()) ? "NAFW=" : "WWFW=";
        at = commandLine.find(switchName);
    } else {
        // Also finds the "FW=" that ends "NAFW=": a lone "NAFW=" names the image everywhere.
        switchName = "FW=";
        at = commandLine.find(switchName);
    }
    if (at == npos) return Fail(std::move(settings), "You must specify the FW name.");

    std::size_t switchLength = std::char_traits<char>::length(switchName);
    std::optional<std::string> name = SwitchValue(commandLine, at, switchLength);
    if (!name) return Fail(std::move(settings), TooLong(switchName));
    if (settings.bDebug) settings.boxes.push_back({*name, "Firmware"});

    settings.strFirmwarePath = environment.systemDirectory + "/KESTREL/" + *name;
    // Opened here and kept: what was checked is what the upload reads.
    const int file = IsPlainFileName(*name) ? environment.open(settings.strFirmwarePath) : -1;
    if (file < 0)
        return Fail(std::move(settings), "Can not find Firmware " + settings.strFirmwarePath);

    std::string ansi;
    std::string refusal;
    if (!environment.toAnsi(*name, ansi))
        refusal =
            "The firmware name can not be written in the character set of the locale: " + *name;
    else if (ansi.size() > kMaxFirmwareNameBytes)
        refusal = "The firmware name is longer than " + std::to_string(kMaxFirmwareNameBytes) +
                  " bytes: " + *name;
    if (!refusal.empty()) {
        environment.close(file);
        return Fail(std::move(settings), refusal);
    }
    settings.szFirmwareName = ansi;
    settings.hFirmwareFile = file;
    settings.ok = true;
    return settings;
}

}  // namespace kestrel
