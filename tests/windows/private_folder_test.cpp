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

// The access list as the system reads it back; empty when it cannot be read.
std::wstring AccessOf(const std::wstring& path) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    LPWSTR text = nullptr;
    std::wstring access;
    if (::GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                nullptr, nullptr, nullptr, &descriptor) == ERROR_SUCCESS &&
        ::ConvertSecurityDescriptorToStringSecurityDescriptorW(
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

// Made where there was nothing, taken again as an earlier helper made it; a file is no folder.
TEST(JournalFolder, IsMadePrivateAndTakenOnlyWhenItIsAFolderOfOurs) {
    wchar_t temporary[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temporary);
    const std::wstring path =
        temporary + (L"kestrel-journal-" + std::to_wstring(::GetCurrentProcessId()));
    for (const char* before : {"nothing", "an earlier helper's folder"}) {
        std::string why;
        ASSERT_TRUE(MakePrivateFolder(path, why)) << before << ": " << why;
        const std::wstring access = AccessOf(path);
        EXPECT_TRUE(OnlyPrivileged(access))
            << before << ": " << std::string(access.begin(), access.end());
    }
    ASSERT_TRUE(::RemoveDirectoryW(path.c_str()));
    const HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    ::CloseHandle(file);
    std::string why;
    EXPECT_FALSE(MakePrivateFolder(path, why));
    EXPECT_FALSE(why.empty());
    EXPECT_TRUE(::DeleteFileW(path.c_str()));
}

TEST(JournalFolder, LivesUnderProgramData) {
    wchar_t programData[MAX_PATH] = {};
    ASSERT_GT(::GetEnvironmentVariableW(L"ProgramData", programData, MAX_PATH), 0u);
    std::string why;
    EXPECT_EQ(KnownJournalFolder(why), std::wstring(programData) + L"\\kestrel-recovery") << why;
}

}  // namespace
}  // namespace kestrel::testing
