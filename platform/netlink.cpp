// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/netlink.h"

#include <linux/rtnetlink.h>
#include <netlink/errno.h>
#include <netlink/msg.h>
#include <netlink/netlink.h>
#include <netlink/route/route.h>

namespace kestrel {

void NlObjectRelease::operator()(nl_object* object) const {
    nl_object_put(object);
}

void NlSocketRelease::operator()(nl_sock* socket) const {
    nl_socket_free(socket);
}

NlSocket ConnectRoute() {
    NlSocket socket(nl_socket_alloc());
    if (!socket || nl_connect(socket.get(), NETLINK_ROUTE) < 0) return nullptr;
    return socket;
}

namespace {

int CollectRoute(nl_msg* message, void* argument) {
    auto& routes = *static_cast<std::vector<NlObject>*>(argument);
    rtnl_route* route = nullptr;
    if (rtnl_route_parse(nlmsg_hdr(message), &route) == 0 && route)
        routes.emplace_back(reinterpret_cast<nl_object*>(route));
    return NL_OK;
}

}  // namespace

bool DumpIPv4Routes(nl_sock* socket, std::vector<NlObject>& routes) {
    rtmsg request{};
    request.rtm_family = AF_INET;
    if (nl_send_simple(socket, RTM_GETROUTE, NLM_F_DUMP, &request, sizeof request) < 0)
        return false;
    if (nl_socket_modify_cb(socket, NL_CB_VALID, NL_CB_CUSTOM, CollectRoute, &routes) < 0)
        return false;
    return nl_recvmsgs_default(socket) >= 0;
}

DWORD ErrorFromNl(int nlError) {
    switch (nlError < 0 ? -nlError : nlError) {
        case 0:
            return NO_ERROR;
        case NLE_EXIST:
            return ERROR_OBJECT_ALREADY_EXISTS;
        case NLE_OBJ_NOTFOUND:
        case NLE_NOADDR:
            return ERROR_NOT_FOUND;
        case NLE_NODEV:
        case NLE_INVAL:
        case NLE_RANGE:
            return ERROR_INVALID_PARAMETER;
        case NLE_PERM:
        case NLE_NOACCESS:
            return ERROR_ACCESS_DENIED;
        case NLE_NOMEM:
            return ERROR_NOT_ENOUGH_MEMORY;
        default:
            return ERROR_GEN_FAILURE;
    }
}

}  // namespace kestrel
