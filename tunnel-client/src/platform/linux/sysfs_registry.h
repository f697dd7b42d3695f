#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "platform/registry_view.h"

namespace ostrel {

// The adapter entries of the registry, made up from the TAP interfaces that
// exist: one class subkey per interface with component id "tap0901" and the
// interface's derived GUID, and a connection whose name is the interface name.
class SysfsRegistry : public RegistryView {
public:
    std::optional<Key> openKey(std::string_view path) override;
    void closeKey(Key key) override;
    std::optional<std::string> subkeyName(Key key, std::uint32_t index) override;
    std::optional<std::string> queryValue(Key key, std::string_view name) override;

private:
    struct Node {
        enum class Kind { AdapterClass, Adapter, Connection } kind;
        std::string interfaceName;  // Adapter and Connection
    };
    std::map<std::uint64_t, Node> open_;
    std::uint64_t nextId_ = 1;
};

}  // namespace ostrel
