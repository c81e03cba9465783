// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "helper/linux/rtnl.h"

#include <linux/netlink.h>
#include <netlink/addr.h>
#include <netlink/errno.h>
#include <netlink/msg.h>
#include <netlink/netlink.h>
#include <netlink/object.h>
#include <netlink/socket.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <utility>

namespace kestrel::rtnl {
namespace {

// Reads interrupted this often in a row mean a storm of changes: the caller hears that the
// kernel could not be read, and may ask again later.
constexpr int kDumpAttempts = 5;

struct SocketRelease {
    void operator()(nl_sock* socket) const { nl_socket_free(socket); }
};
using Socket = std::unique_ptr<nl_sock, SocketRelease>;

// libnl's own failures (not the kernel's answers) as an errno.
int ErrnoOf(int nlError) {
    switch (nlError < 0 ? -nlError : nlError) {
        case NLE_NOMEM:
            return -ENOMEM;
        case NLE_PERM:
        case NLE_NOACCESS:
            return -EPERM;
        default:
            return -EIO;
    }
}

Socket Connect() {
    Socket socket(nl_socket_alloc());
    if (!socket || nl_connect(socket.get(), NETLINK_ROUTE) < 0) return nullptr;
    return socket;
}

struct DumpState {
    std::vector<KernelBlob>& messages;
    bool interrupted = false;
};

int Collect(nl_msg* message, void* argument) {
    auto& state = *static_cast<DumpState*>(argument);
    const nlmsghdr* header = nlmsg_hdr(message);
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(header);
    state.messages.emplace_back(bytes, bytes + header->nlmsg_len);
    return NL_OK;
}

// Called for every message of the dump that carries NLM_F_DUMP_INTR, the closing one included.
int NoteInterruption(nl_msg*, void* argument) {
    static_cast<DumpState*>(argument)->interrupted = true;
    return NL_OK;
}

void KeepObject(nl_object* object, void* argument) {
    nl_object_get(object);
    static_cast<Object*>(argument)->reset(object);
}

int KeepError(sockaddr_nl*, nlmsgerr* error, void* argument) {
    *static_cast<int*>(argument) = error->error;
    return NL_STOP;
}

}  // namespace

void MessageRelease::operator()(nl_msg* message) const {
    nlmsg_free(message);
}

void ObjectRelease::operator()(nl_object* object) const {
    nl_object_put(object);
}

Object Parse(const KernelBlob& blob) {
    if (blob.size() < NLMSG_HDRLEN) return nullptr;
    auto* header = reinterpret_cast<nlmsghdr*>(const_cast<std::uint8_t*>(blob.data()));
    if (header->nlmsg_len < NLMSG_HDRLEN || header->nlmsg_len > blob.size()) return nullptr;
    Message message(nlmsg_convert(header));
    if (!message) return nullptr;
    // libnl finds the parser by protocol and message type.
    nlmsg_set_proto(message.get(), NETLINK_ROUTE);
    Object object;
    nl_msg_parse(message.get(), KeepObject, &object);
    return object;
}

bool Dump(int type, const void* header, std::size_t headerSize, std::vector<KernelBlob>& messages) {
    for (int attempt = 0; attempt < kDumpAttempts; ++attempt) {
        messages.clear();
        Socket socket = Connect();
        if (!socket) return false;
        DumpState state{messages};
        if (nl_socket_modify_cb(socket.get(), NL_CB_VALID, NL_CB_CUSTOM, Collect, &state) < 0 ||
            nl_socket_modify_cb(socket.get(), NL_CB_DUMP_INTR, NL_CB_CUSTOM, NoteInterruption,
                                &state) < 0)
            return false;
        if (nl_send_simple(socket.get(), type, NLM_F_DUMP, const_cast<void*>(header), headerSize) <
            0)
            return false;
        const int result = nl_recvmsgs_default(socket.get());
        if (state.interrupted || result == -NLE_DUMP_INTR) continue;
        return result >= 0;
    }
    messages.clear();
    return false;
}

IPAddr AddressOf(nl_addr* address) {
    IPAddr value = 0;
    if (address && nl_addr_get_len(address) == sizeof value)
        std::memcpy(&value, nl_addr_get_binary_addr(address), sizeof value);
    return value;
}

Message NewRequest(int type, int flags, const void* header, std::size_t headerSize) {
    Message request(nlmsg_alloc_simple(type, flags));
    if (!request ||
        nlmsg_append(request.get(), const_cast<void*>(header), headerSize, NLMSG_ALIGNTO) < 0)
        return nullptr;
    return request;
}

int Send(nl_msg* request) {
    if (!request) return -ENOMEM;
    Socket socket = Connect();
    if (!socket) return -EIO;
    int kernelError = 0;
    nl_socket_modify_err_cb(socket.get(), NL_CB_CUSTOM, KeepError, &kernelError);
    int result = nl_send_auto(socket.get(), request);
    if (result >= 0) result = nl_wait_for_ack(socket.get());
    if (kernelError != 0) return kernelError;
    return result < 0 ? ErrnoOf(result) : 0;
}

const nlmsghdr* MessageOf(const KernelBlob& blob, int type, std::size_t headerSize) {
    if (blob.size() < NLMSG_LENGTH(headerSize)) return nullptr;
    const auto* header = reinterpret_cast<const nlmsghdr*>(blob.data());
    if (header->nlmsg_type != type || header->nlmsg_len < NLMSG_LENGTH(headerSize) ||
        header->nlmsg_len > blob.size())
        return nullptr;
    return header;
}

nlmsghdr* MessageOf(KernelBlob& blob, int type, std::size_t headerSize) {
    return MessageOf(std::as_const(blob), type, headerSize)
               ? reinterpret_cast<nlmsghdr*>(blob.data())
               : nullptr;
}

}  // namespace kestrel::rtnl
