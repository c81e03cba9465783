// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
//
// The journal's folder: SYSTEM and the Administrators only, whatever was there before.
#include "helper/windows/private_folder.h"

#include <windows.h>
// After windows.h:
#include <aclapi.h>
#include <gtest/gtest.h>
#include <sddl.h>

namespace kestrel::testing {
namespace {

// The access list as the system reads it back.
std::wstring AccessOf(const std::wstring& path) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (::GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                nullptr, nullptr, nullptr, &descriptor) != ERROR_SUCCESS)
        return L"unreadable";
    LPWSTR text = nullptr;
    std::wstring access = L"unconvertible";
    if (::ConvertSecurityDescriptorToStringSecurityDescriptorW(
            descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text, nullptr))
        access = text;
    ::LocalFree(text);
    ::LocalFree(descriptor);
    return access;
}

// Wine keeps no access list of its own for a file: it derives one from the Unix mode, so only
// what survives that can be read back here (nobody but the owner and SYSTEM has an entry).
bool OnlyPrivileged(const std::wstring& access) {
    for (const wchar_t* other : {L";WD)", L";BU)", L";AU)", L";IU)"})
        if (access.find(other) != std::wstring::npos) return false;
    return access.find(L"(A;OICI;FA;;;SY)") != std::wstring::npos;
}

TEST(JournalFolder, IsMadePrivateAndTakenOnlyWhenItIsAFolderOfOurs) {
    // What is there before: nothing, a folder an earlier helper made, or a file.
    for (const char* before : {"nothing", "folder", "file"}) {
        wchar_t folder[MAX_PATH];
        ::GetTempPathW(MAX_PATH, folder);
        const std::wstring path =
            folder + (L"kestrel-journal-" + std::to_wstring(::GetCurrentProcessId()));
        std::string why;
        const bool made = before != std::string("file");
        if (before == std::string("folder")) {
            ASSERT_TRUE(MakePrivateFolder(path, why)) << why;
        }
        if (!made) {
            const HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                              FILE_ATTRIBUTE_NORMAL, nullptr);
            ASSERT_NE(file, INVALID_HANDLE_VALUE);
            ::CloseHandle(file);
        }
        EXPECT_EQ(MakePrivateFolder(path, why), made) << before << ": " << why;
        EXPECT_TRUE(made || !why.empty()) << before;
        if (made) {
            const std::wstring access = AccessOf(path);
            EXPECT_TRUE(OnlyPrivileged(access))
                << before << ": " << std::string(access.begin(), access.end());
        }
        EXPECT_TRUE(made ? ::RemoveDirectoryW(path.c_str()) : ::DeleteFileW(path.c_str()))
            << before;
    }
}

TEST(JournalFolder, LivesUnderProgramData) {
    wchar_t programData[MAX_PATH] = {};
    ASSERT_GT(::GetEnvironmentVariableW(L"ProgramData", programData, MAX_PATH), 0u);
    std::string why;
    EXPECT_EQ(KnownJournalFolder(why), std::wstring(programData) + L"\\kestrel-recovery") << why;
}

}  // namespace
}  // namespace kestrel::testing
