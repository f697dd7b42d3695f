#include "platform/linux/sysfs_registry.h"

#include <cstdio>
#include <cstdlib>

#include "platform/linux/interface_guid.h"

namespace ostrel {

namespace {

bool equalFolded(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto fold = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
        if (fold(a[i]) != fold(b[i])) return false;
    }
    return true;
}

bool startsFolded(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && equalFolded(text.substr(0, prefix.size()), prefix);
}

std::string subkeyFor(std::size_t position) {
    char name[24]; // room for any size_t
    std::snprintf(name, sizeof name, "%04zu", position);
    return name;
}

}  // namespace

std::optional<RegistryView::Key> SysfsRegistry::openKey(std::string_view path) {
    std::optional<Node> node;
    if (equalFolded(path, kAdapterClassKey)) {
        node = Node{Node::Kind::AdapterClass, {}};
    } else if (startsFolded(path, kAdapterClassKey) && path.size() > kAdapterClassKey.size() + 1 &&
               path[kAdapterClassKey.size()] == '\\') {
        std::string_view sub = path.substr(kAdapterClassKey.size() + 1);
        auto taps = InterfaceGuid::tapInterfaces();
        for (std::size_t i = 0; i < taps.size(); ++i) {
            if (sub == subkeyFor(i)) node = Node{Node::Kind::Adapter, taps[i]};
        }
    } else if (startsFolded(path, kConnectionsKey) && path.size() > kConnectionsKey.size() + 1 &&
               path[kConnectionsKey.size()] == '\\') {
        std::string_view rest = path.substr(kConnectionsKey.size() + 1);
        static constexpr std::string_view kTail = "\\Connection";
        if (rest.size() > kTail.size() && equalFolded(rest.substr(rest.size() - kTail.size()), kTail)) {
            auto guid = Guid::parse(rest.substr(0, rest.size() - kTail.size()));
            std::string_view braced = rest.substr(0, rest.size() - kTail.size());
            if (guid && braced.front() == '{' && braced.back() == '}') {
                auto name = InterfaceGuid::findName(*guid);
                if (name && InterfaceGuid::tunFlags(*name)) node = Node{Node::Kind::Connection, *name};
            }
        }
    }
    if (!node) return std::nullopt;
    std::uint64_t id = nextId_++;
    open_.emplace(id, std::move(*node));
    return Key{id};
}

void SysfsRegistry::closeKey(Key key) { open_.erase(key.id); }

std::optional<std::string> SysfsRegistry::subkeyName(Key key, std::uint32_t index) {
    auto it = open_.find(key.id);
    if (it == open_.end() || it->second.kind != Node::Kind::AdapterClass) return std::nullopt;
    if (index >= InterfaceGuid::tapInterfaces().size()) return std::nullopt;
    return subkeyFor(index);
}

std::optional<std::string> SysfsRegistry::queryValue(Key key, std::string_view name) {
    auto it = open_.find(key.id);
    if (it == open_.end()) return std::nullopt;
    const Node& node = it->second;
    // Values carry their terminating NUL, as REG_SZ data does.
    switch (node.kind) {
    case Node::Kind::AdapterClass:
        return std::nullopt;
    case Node::Kind::Adapter:
        if (equalFolded(name, "ComponentId")) return std::string("tap0901", 8);
        if (equalFolded(name, "NetCfgInstanceId")) return InterfaceGuid::forName(node.interfaceName).toString() + '\0';
        return std::nullopt;
    case Node::Kind::Connection:
        if (equalFolded(name, "Name")) return node.interfaceName + '\0';
        return std::nullopt;
    }
    return std::nullopt;
}

}  // namespace ostrel
