// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "helper/windows/private_folder.h"

#include <windows.h>
// After windows.h:
#include <aclapi.h>
#include <knownfolders.h>
#include <sddl.h>
#include <shlobj.h>

#include <memory>

namespace kestrel {
namespace {

struct LocalFreer {
    void operator()(void* memory) const { ::LocalFree(memory); }
};
using SecurityDescriptor = std::unique_ptr<void, LocalFreer>;

std::string Failure(const char* what, DWORD error) {
    return std::string(what) + " (error " + std::to_string(error) + ")";
}

bool IsThisAccount(PSID owner) {
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
    alignas(TOKEN_USER) BYTE buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    DWORD size = 0;
    const bool read = ::GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size);
    ::CloseHandle(token);
    return read && ::EqualSid(owner, reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid);
}

bool Privileged(PSID sid) {
    return ::IsWellKnownSid(sid, WinLocalSystemSid) ||
           ::IsWellKnownSid(sid, WinBuiltinAdministratorsSid) || IsThisAccount(sid);
}

// Whether the folder's owner is privileged, and whether its access list lets in nobody else.
void Inspect(const std::wstring& folder, bool& ours, bool& private_) {
    PSID owner = nullptr;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR read = nullptr;
    ours = private_ = false;
    if (::GetNamedSecurityInfoW(folder.c_str(), SE_FILE_OBJECT,
                                OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner,
                                nullptr, &dacl, nullptr, &read) != ERROR_SUCCESS)
        return;
    const SecurityDescriptor descriptor(read);
    ours = Privileged(owner);
    if (!dacl) return;  // no list at all lets everyone in
    private_ = true;
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        void* ace = nullptr;
        if (!::GetAce(dacl, i, &ace)) return void(private_ = false);
        const auto* header = static_cast<ACE_HEADER*>(ace);
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) continue;
        auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
        if (!Privileged(reinterpret_cast<PSID>(&allowed->SidStart))) private_ = false;
    }
}

}  // namespace

std::wstring JournalFolderPath(std::string& why) {
    PWSTR programData = nullptr;
    const HRESULT result = ::SHGetKnownFolderPath(FOLDERID_ProgramData, 0, nullptr, &programData);
    std::wstring folder;
    if (SUCCEEDED(result))
        folder = std::wstring(programData) + L"\\kestrel-recovery";
    else
        why = Failure("the ProgramData folder is not known", static_cast<DWORD>(result));
    ::CoTaskMemFree(programData);
    return folder;
}

bool MakePrivateFolder(const std::wstring& folder, std::string& why) {
    PSECURITY_DESCRIPTOR made = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(kPrivateFolderSddl, SDDL_REVISION_1,
                                                                &made, nullptr)) {
        why = Failure("the access list cannot be made", ::GetLastError());
        return false;
    }
    const SecurityDescriptor descriptor(made);
    SECURITY_ATTRIBUTES attributes{sizeof attributes, made, FALSE};
    if (::CreateDirectoryW(folder.c_str(), &attributes)) return true;
    if (const DWORD error = ::GetLastError(); error != ERROR_ALREADY_EXISTS) {
        why = Failure("the journal's folder cannot be made", error);
        return false;
    }
    // One that was there already may have been made by anyone: ProgramData lets every user make
    // folders, and their owner could give itself access again. Only a folder of SYSTEM, the
    // Administrators or this account is taken, and given the access list.
    const DWORD kind = ::GetFileAttributesW(folder.c_str());
    if (kind == INVALID_FILE_ATTRIBUTES || !(kind & FILE_ATTRIBUTE_DIRECTORY) ||
        (kind & FILE_ATTRIBUTE_REPARSE_POINT)) {
        why = "the journal's folder is a file or a link";
        return false;
    }
    bool ours = false;
    bool private_ = false;
    Inspect(folder, ours, private_);
    if (!ours) {
        why = "the journal's folder belongs to someone else";
        return false;
    }
    if (private_) return true;
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL dacl = nullptr;
    ::GetSecurityDescriptorDacl(made, &present, &dacl, &defaulted);
    std::wstring name = folder;
    const DWORD result =
        ::SetNamedSecurityInfoW(name.data(), SE_FILE_OBJECT,
                                DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                                nullptr, nullptr, dacl, nullptr);
    if (result != ERROR_SUCCESS) {
        why = Failure("the journal's folder cannot be made private", result);
        return false;
    }
    return true;
}

}  // namespace kestrel
