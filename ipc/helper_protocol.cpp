// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "ipc/helper_protocol.h"

#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "ipc/hex.h"
#include "platform/posix.h"

namespace kestrel {
namespace {

using Json = nlohmann::json;

struct OpInfo {
    HelperOp op;
    const char* name;
    std::initializer_list<const char*> fields;  // besides "v", "id" and "op"
};

const OpInfo kOps[] = {
    {HelperOp::Hello, "hello", {}},
    {HelperOp::Adapters, "adapters", {}},
    {HelperOp::AddAddress, "add_address", {"address", "mask", "ifindex"}},
    {HelperOp::DeleteAddress, "delete_address", {"context"}},
    {HelperOp::Routes, "routes", {}},
    {HelperOp::CreateRoute, "create_route", {"row"}},
    {HelperOp::DeleteRoute, "delete_route", {"row"}},
    {HelperOp::Arp, "arp", {"target", "source"}},
    {HelperOp::End, "end", {}},
};

constexpr std::size_t kRowFields = sizeof(MIB_IPFORWARDROW) / sizeof(DWORD);

// Thrown inside the decoders only; the public functions report it as `why`.
struct Refused : std::runtime_error {
    using std::runtime_error::runtime_error;
};

IPAddr AddressField(const Json& object, const char* name) {
    const Json& value = object.at(name);
    if (!value.is_string()) throw Refused(std::string(name) + " is not an address");
    in_addr address{};
    if (inet_pton(AF_INET, value.get_ref<const std::string&>().c_str(), &address) != 1)
        throw Refused(std::string(name) + " is not an address");
    return address.s_addr;
}

std::uint64_t UnsignedField(const Json& value, std::uint64_t limit, const char* name) {
    if (!value.is_number_unsigned() || value.get<std::uint64_t>() > limit)
        throw Refused(std::string(name) + " is out of range");
    return value.get<std::uint64_t>();
}

Json RowJson(const MIB_IPFORWARDROW& row) {
    DWORD fields[kRowFields];
    std::memcpy(fields, &row, sizeof row);
    return Json(std::vector<DWORD>(fields, fields + kRowFields));
}

MIB_IPFORWARDROW RowField(const Json& value) {
    if (!value.is_array() || value.size() != kRowFields) throw Refused("row has the wrong shape");
    DWORD fields[kRowFields];
    for (std::size_t i = 0; i < kRowFields; ++i)
        fields[i] = static_cast<DWORD>(UnsignedField(value[i], 0xFFFFFFFFu, "row"));
    MIB_IPFORWARDROW row{};
    std::memcpy(&row, fields, sizeof row);
    return row;
}

std::string MacText(const BYTE* mac, std::size_t length) {
    return HexText(mac, length, ':');
}

std::vector<BYTE> MacBytes(const std::string& text) {
    std::vector<BYTE> bytes;
    if (!HexBytes(text, ':', bytes) || bytes.size() > MAX_ADAPTER_ADDRESS_LENGTH)
        throw Refused("bad hardware address");
    return bytes;
}

std::string Dump(const Json& object) {
    // Adapter descriptions come from udev and drivers: never let an odd byte stop a reply.
    return object.dump(-1, ' ', false, Json::error_handler_t::replace);
}

Json ParseObject(std::string_view line, std::size_t limit) {
    if (line.size() > limit) throw Refused("line too long");
    Json object = Json::parse(line, nullptr, false);
    if (object.is_discarded() || !object.is_object()) throw Refused("not a JSON object");
    const auto version = object.find("v");
    if (version == object.end() || !version->is_number_integer() ||
        version->get<std::int64_t>() != kHelperProtocolVersion)
        throw Refused("unsupported protocol version");
    return object;
}

}  // namespace

bool HelperRequest::operator==(const HelperRequest& other) const {
    return id == other.id && op == other.op && address == other.address && mask == other.mask &&
           ifIndex == other.ifIndex && context == other.context &&
           std::memcmp(&row, &other.row, sizeof row) == 0 && target == other.target &&
           source == other.source;
}

const char* HelperOpName(HelperOp op) {
    for (const OpInfo& info : kOps)
        if (info.op == op) return info.name;
    return "?";
}

std::string EncodeRequest(const HelperRequest& request) {
    Json object = {
        {"v", kHelperProtocolVersion}, {"id", request.id}, {"op", HelperOpName(request.op)}};
    switch (request.op) {
        case HelperOp::AddAddress:
            object["address"] = Dotted(request.address);
            object["mask"] = Dotted(request.mask);
            object["ifindex"] = request.ifIndex;
            break;
        case HelperOp::DeleteAddress:
            object["context"] = request.context;
            break;
        case HelperOp::CreateRoute:
        case HelperOp::DeleteRoute:
            object["row"] = RowJson(request.row);
            break;
        case HelperOp::Arp:
            object["target"] = Dotted(request.target);
            object["source"] = Dotted(request.source);
            break;
        default:
            break;
    }
    return Dump(object);
}

bool DecodeRequest(std::string_view line, HelperRequest& request, std::string& why) {
    try {
        const Json object = ParseObject(line, kMaxRequestLine);
        const auto op = object.find("op");
        if (op == object.end() || !op->is_string()) throw Refused("no operation");
        const OpInfo* info = nullptr;
        for (const OpInfo& candidate : kOps)
            if (op->get_ref<const std::string&>() == candidate.name) info = &candidate;
        if (!info) throw Refused("unknown operation");
        for (const auto& [key, value] : object.items()) {
            bool known = key == "v" || key == "id" || key == "op";
            for (const char* field : info->fields) known = known || key == field;
            if (!known) throw Refused("unknown field " + key.substr(0, 32));
        }
        HelperRequest decoded;
        decoded.op = info->op;
        decoded.id =
            UnsignedField(object.at("id"), std::numeric_limits<std::uint32_t>::max(), "id");
        switch (decoded.op) {
            case HelperOp::AddAddress:
                decoded.address = AddressField(object, "address");
                decoded.mask = AddressField(object, "mask");
                decoded.ifIndex = static_cast<DWORD>(UnsignedField(
                    object.at("ifindex"), std::numeric_limits<int>::max(), "ifindex"));
                break;
            case HelperOp::DeleteAddress:
                decoded.context =
                    static_cast<DWORD>(UnsignedField(object.at("context"), 0xFFFFFFFFu, "context"));
                break;
            case HelperOp::CreateRoute:
            case HelperOp::DeleteRoute:
                decoded.row = RowField(object.at("row"));
                break;
            case HelperOp::Arp:
                decoded.target = AddressField(object, "target");
                decoded.source = AddressField(object, "source");
                break;
            default:
                break;
        }
        request = decoded;
        return true;
    } catch (const Refused& refused) {
        why = refused.what();
    } catch (const Json::exception&) {
        why = "missing or mistyped field";
    }
    return false;
}

std::string EncodeReply(HelperOp op, const HelperReply& reply) {
    Json object = {{"v", kHelperProtocolVersion}, {"id", reply.id}, {"error", reply.error}};
    if (!reply.message.empty()) object["message"] = reply.message;
    if (!reply.notRestored.empty()) object["notRestored"] = reply.notRestored;
    if (reply.error != NO_ERROR) return Dump(object);
    switch (op) {
        case HelperOp::Hello:
            object["version"] = reply.version;
            break;
        case HelperOp::Adapters: {
            Json adapters = Json::array();
            for (const AdapterRecord& record : reply.adapters) {
                Json addresses = Json::array();
                for (const AdapterAddress& address : record.addresses)
                    addresses.push_back({{"address", address.address},
                                         {"mask", address.mask},
                                         {"context", address.context}});
                adapters.push_back(
                    {{"index", record.index},
                     {"name", record.name},
                     {"description", record.description},
                     {"mac", MacText(record.hardwareAddress.data(), record.hardwareAddress.size())},
                     {"type", record.type},
                     {"addresses", addresses},
                     {"gateways", record.gateways}});
            }
            object["adapters"] = adapters;
            break;
        }
        case HelperOp::Routes: {
            // Row by row into the text: a tree of 100,000 rows would cost the helper tens of
            // megabytes.
            std::string text = Dump(object);
            text.pop_back();
            text += ",\"routes\":[";
            for (std::size_t i = 0; i < reply.routes.size(); ++i)
                text += (i ? "," : "") + Dump(RowJson(reply.routes[i]));
            return text + "]}";
        }
        case HelperOp::AddAddress:
            object["context"] = reply.context;
            break;
        case HelperOp::Arp:
            object["mac"] = MacText(reply.mac.data(), reply.mac.size());
            break;
        default:
            break;
    }
    return Dump(object);
}

bool DecodeReply(std::string_view line, HelperOp op, HelperReply& reply, std::string& why) {
    try {
        const Json object = ParseObject(line, line.size());
        HelperReply decoded;
        decoded.id = object.at("id").get<std::uint64_t>();
        decoded.error = object.at("error").get<DWORD>();
        if (const auto message = object.find("message"); message != object.end())
            decoded.message = message->get<std::string>();
        if (const auto left = object.find("notRestored"); left != object.end())
            decoded.notRestored = left->get<std::vector<std::string>>();
        if (decoded.error == NO_ERROR) {
            switch (op) {
                case HelperOp::Hello:
                    decoded.version = object.at("version").get<int>();
                    break;
                case HelperOp::Adapters:
                    for (const Json& adapter : object.at("adapters")) {
                        AdapterRecord record;
                        record.index = adapter.at("index").get<DWORD>();
                        record.name = adapter.at("name").get<std::string>();
                        record.description = adapter.at("description").get<std::string>();
                        record.hardwareAddress = MacBytes(adapter.at("mac").get<std::string>());
                        record.type = adapter.at("type").get<UINT>();
                        for (const Json& address : adapter.at("addresses"))
                            record.addresses.push_back({address.at("address").get<std::string>(),
                                                        address.at("mask").get<std::string>(),
                                                        address.at("context").get<DWORD>()});
                        record.gateways = adapter.at("gateways").get<std::vector<std::string>>();
                        decoded.adapters.push_back(std::move(record));
                    }
                    break;
                case HelperOp::Routes:
                    for (const Json& row : object.at("routes"))
                        decoded.routes.push_back(RowField(row));
                    break;
                case HelperOp::AddAddress:
                    decoded.context = object.at("context").get<DWORD>();
                    break;
                case HelperOp::Arp: {
                    const std::vector<BYTE> mac = MacBytes(object.at("mac").get<std::string>());
                    if (mac.size() != decoded.mac.size()) throw Refused("bad hardware address");
                    std::memcpy(decoded.mac.data(), mac.data(), mac.size());
                    break;
                }
                default:
                    break;
            }
        }
        reply = std::move(decoded);
        return true;
    } catch (const Refused& refused) {
        why = refused.what();
    } catch (const Json::exception& failure) {
        why = failure.what();
    }
    return false;
}

}  // namespace kestrel
