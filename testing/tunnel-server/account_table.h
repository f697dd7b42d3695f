#pragma once
// Accounts the test server accepts, one per user name.
//   parseAccount("user:pass:node[:l2|l3[:capacity]]") -> Account or an error text
//   AccountTable::load(path) reads one account per line ('#' starts a comment)

#include "core/tunnel_mode.h"

#include <cstdint>
#include <expected>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace ostrel::test_server {

struct Account {
    std::string user;
    std::string password;
    std::string node;
    TunnelMode mode = TunnelMode::l2;
    unsigned capacity = 16;
};

std::expected<Account, std::string> parseAccount(const std::string& text);

class AccountTable {
public:
    // A later account with the same user replaces the earlier one; nodes keep the
    // mode and capacity of the first account that names them.
    void add(const Account& account);
    std::expected<void, std::string> addText(const std::string& text);
    std::expected<void, std::string> load(const std::string& path);

    const Account* find(const std::string& user) const;
    bool hasNode(const std::string& node) const;
    TunnelMode nodeMode(const std::string& node) const;
    unsigned nodeCapacity(const std::string& node) const;
    // Stable small number per node, used to give each node its own subnet.
    unsigned nodeIndex(const std::string& node) const;
    bool empty() const { return accounts_.empty(); }

private:
    struct Node {
        TunnelMode mode;
        unsigned capacity;
        unsigned index;
    };
    std::map<std::string, Account> accounts_;
    std::map<std::string, Node> nodes_;
};

}  // namespace ostrel::test_server
