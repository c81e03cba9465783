// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/command_line.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdint>
#include <cstring>
#include <optional>

#include "platform/files.h"
#include "platform/locale.h"

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

// What the TFTP request may carry: the file's own name, never a folder.
bool IsFileName(const std::string& name) {
    return !name.empty() && name != "." && name != "..";
}

constexpr const char* kValueSwitches[] = {"TIME=", "WWFW=", "NAFW=", "FW="};

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
                                    const CommandLineEnvironment& environment,
                                    const ImageChoice* choice) {
    CommandLineSettings settings;
    constexpr auto npos = std::string::npos;

    if (commandLine.find("DEBUG") != npos) settings.bDebug = TRUE;

    settings.nRebootTimeout = kDefaultRebootTimeoutMs;
    if (std::size_t at = commandLine.find("TIME="); at != npos) {
        std::optional<std::string> value = SwitchValue(commandLine, at, 5);
        if (!value) return Fail(std::move(settings), TooLong("TIME="));
        settings.nRebootTimeout = RebootTimeoutMs(ReadSeconds(*value));
    }

    // The image as named: a switch's value, or a path from the wizard's --choose.
    std::string named;
    if (choice && !choice->fileArgument.empty()) {
        named = choice->fileArgument;
    } else {
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
        if (at == npos) {
            if (choice && choice->askUser) named = choice->askUser();
            if (named.empty()) return Fail(std::move(settings), "You must specify the FW name.");
        } else {
            std::optional<std::string> value =
                SwitchValue(commandLine, at, std::char_traits<char>::length(switchName));
            if (!value) return Fail(std::move(settings), TooLong(switchName));
            named = *value;
            // A bare name is a file in the image folder.
            if (named.find_first_of(kPathSeparators) == npos)
                settings.strFirmwarePath = environment.systemDirectory + kImageFolder + named;
        }
    }
    if (settings.bDebug) settings.boxes.push_back({named, "Firmware"});
    // A path is opened as it is, with the user's own rights: whatever they may read.
    if (settings.strFirmwarePath.empty()) settings.strFirmwarePath = named;
    const std::string name = named.substr(named.find_last_of(kPathSeparators) + 1);

    // Opened here and kept: what was checked is what the upload reads.
    const int file = IsFileName(name) ? environment.open(settings.strFirmwarePath) : -1;
    if (file < 0)
        return Fail(std::move(settings), "Can not find Firmware " + settings.strFirmwarePath);

    std::string ansi;
    std::string refusal;
    if (!environment.toAnsi(name, ansi))
        refusal =
            "The firmware name can not be written in the character set of the locale: " + name;
    else if (ansi.size() > kMaxFirmwareNameBytes)
        refusal = "The firmware name is longer than " + std::to_string(kMaxFirmwareNameBytes) +
                  " bytes: " + name;
    if (!refusal.empty()) {
        environment.close(file);
        return Fail(std::move(settings), refusal);
    }
    settings.szFirmwareName = ansi;
    settings.hFirmwareFile = file;
    settings.ok = true;
    return settings;
}

void ApplyCommandLine(const CommandLineSettings& settings, WizardContext& dlg) {
    dlg.m_bDebug = settings.bDebug;
    dlg.m_nRebootTimeout = settings.nRebootTimeout;
    dlg.m_hFirmwareFile = settings.hFirmwareFile;
    if (!settings.ok) return;
    std::memset(dlg.m_szFirmwareName, 0, sizeof dlg.m_szFirmwareName);
    std::memcpy(dlg.m_szFirmwareName, settings.szFirmwareName.data(),
                std::min(settings.szFirmwareName.size(), sizeof dlg.m_szFirmwareName - 1));
}

bool TakeChooseOption(std::vector<std::string>& argv, std::string& fileArgument) {
    auto option = std::find(argv.begin() + (argv.empty() ? 0 : 1), argv.end(), "--choose");
    if (option == argv.end()) return false;
    argv.erase(option);
    auto isFile = [](const std::string& argument) {
        if (argument.empty() || argument[0] == '-' || argument == "DEBUG") return false;
        for (const char* name : kValueSwitches)
            if (argument.compare(0, std::strlen(name), name) == 0) return false;
        return true;
    };
    fileArgument.clear();
    if (auto file = std::find_if(argv.begin() + 1, argv.end(), isFile); file != argv.end()) {
        fileArgument = *file;
        argv.erase(file);
    }
    return true;
}

std::string SwitchesUsage() {
    return "  FW=image      the firmware image: a file name in " + GetSystemDirectoryW() +
           kImageFolder + ",\n" +
           "                or the path of an image you may read (it contains a " +
           kPathSeparators[0] +
           ")\n"
           "  WWFW=image    the image for the rest of the world\n"
           "  NAFW=image    the image for the United States, Canada and Mexico\n"
           "  TIME=seconds  how long to wait for the router to restart (default 120)\n"
           "  DEBUG         report every failure and detail\n";
}

}  // namespace kestrel
