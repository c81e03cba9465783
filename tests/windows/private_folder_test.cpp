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

#include <functional>

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

std::wstring TemporaryPath(const wchar_t* name) {
    wchar_t base[MAX_PATH];
    ::GetTempPathW(MAX_PATH, base);
    return std::wstring(base) + name + std::to_wstring(::GetCurrentProcessId());
}

// Wine keeps no access list of its own for a file: it derives one from the Unix mode, so only
// what survives that can be read back here (nobody but the owner and SYSTEM has an entry).
bool OnlyPrivileged(const std::wstring& access) {
    for (const wchar_t* other : {L";WD)", L";BU)", L";AU)", L";IU)"})
        if (access.find(other) != std::wstring::npos) return false;
    return access.find(L"(A;OICI;FA;;;SY)") != std::wstring::npos;
}

TEST(JournalFolder, IsMadePrivateAndTakenOnlyWhenItIsAFolderOfOurs) {
    struct Case {
        const char* name;
        std::function<void(const std::wstring&)> before;
        bool made;
    };
    const Case cases[] = {
        {"new", [](const std::wstring&) {}, true},
        {"made by an earlier helper",
         [](const std::wstring& path) {
             std::string why;
             ASSERT_TRUE(MakePrivateFolder(path, why)) << why;
         },
         true},
        {"a file in its place",
         [](const std::wstring& path) {
             const HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                               FILE_ATTRIBUTE_NORMAL, nullptr);
             ASSERT_NE(file, INVALID_HANDLE_VALUE);
             ::CloseHandle(file);
         },
         false},
    };
    for (const Case& c : cases) {
        const std::wstring path = TemporaryPath(L"kestrel-journal-");
        c.before(path);
        std::string why;
        EXPECT_EQ(MakePrivateFolder(path, why), c.made) << c.name << ": " << why;
        if (c.made) {
            const std::wstring access = AccessOf(path);
            EXPECT_TRUE(OnlyPrivileged(access))
                << c.name << ": " << std::string(access.begin(), access.end());
            EXPECT_TRUE(::RemoveDirectoryW(path.c_str())) << c.name;
        } else {
            EXPECT_FALSE(why.empty()) << c.name;
            EXPECT_TRUE(::DeleteFileW(path.c_str())) << c.name;
        }
    }
}

TEST(JournalFolder, LivesUnderProgramData) {
    wchar_t programData[MAX_PATH] = {};
    ASSERT_GT(::GetEnvironmentVariableW(L"ProgramData", programData, MAX_PATH), 0u);
    std::string why;
    EXPECT_EQ(JournalFolderPath(why), std::wstring(programData) + L"\\kestrel-recovery") << why;
}

}  // namespace
}  // namespace kestrel::testing
