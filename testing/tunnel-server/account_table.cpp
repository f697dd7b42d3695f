#include "account_table.h"

#include <charconv>
#include <fstream>

namespace ostrel::test_server {

namespace {

std::vector<std::string> splitColons(const std::string& text) {
    std::vector<std::string> parts;
    std::string current;
    for (char c : text) {
        if (c == ':') {
            parts.push_back(current);
            current.clear();
        } else {
            current.push_back(c);
        }
    }
    parts.push_back(current);
    return parts;
}

std::string trim(const std::string& text) {
    auto begin = text.find_first_not_of(" \t\r\n");
    if (begin == std::string::npos) return {};
    auto end = text.find_last_not_of(" \t\r\n");
    return text.substr(begin, end - begin + 1);
}

}  // namespace

std::expected<Account, std::string> parseAccount(const std::string& text) {
    auto parts = splitColons(text);
    if (parts.size() < 3 || parts.size() > 5)
        return std::unexpected("account must be user:password:node[:l2|l3[:capacity]]: " + text);
    Account account;
    account.user = parts[0];
    account.password = parts[1];
    account.node = parts[2];
    if (account.user.empty() || account.password.empty() || account.node.empty())
        return std::unexpected("account has an empty user, password or node: " + text);
    if (parts.size() >= 4) {
        if (parts[3] == "l2") {
            account.mode = TunnelMode::l2;
        } else if (parts[3] == "l3") {
            account.mode = TunnelMode::l3;
        } else {
            return std::unexpected("node mode must be l2 or l3: " + parts[3]);
        }
    }
    if (parts.size() == 5) {
        const std::string& cap = parts[4];
        unsigned value = 0;
        auto [end, ec] = std::from_chars(cap.data(), cap.data() + cap.size(), value);
        if (ec != std::errc{} || end != cap.data() + cap.size() || value == 0 || value > 250)
            return std::unexpected("capacity must be a number from 1 to 250: " + cap);
        account.capacity = value;
    }
    return account;
}

void AccountTable::add(const Account& account) {
    accounts_[account.user] = account;
    if (!nodes_.contains(account.node)) {
        auto index = static_cast<unsigned>(nodes_.size());
        nodes_.insert_or_assign(account.node, Node{account.mode, account.capacity, index});
    }
}

std::expected<void, std::string> AccountTable::addText(const std::string& text) {
    auto account = parseAccount(text);
    if (!account) return std::unexpected(account.error());
    add(*account);
    return {};
}

std::expected<void, std::string> AccountTable::load(const std::string& path) {
    std::ifstream in(path);
    if (!in) return std::unexpected("cannot read account file " + path);
    std::string line;
    unsigned number = 0;
    while (std::getline(in, line)) {
        ++number;
        auto hash = line.find('#');
        if (hash != std::string::npos) line.erase(hash);
        line = trim(line);
        if (line.empty()) continue;
        auto added = addText(line);
        if (!added) return std::unexpected(path + ":" + std::to_string(number) + ": " + added.error());
    }
    return {};
}

const Account* AccountTable::find(const std::string& user) const {
    auto it = accounts_.find(user);
    return it == accounts_.end() ? nullptr : &it->second;
}

bool AccountTable::hasNode(const std::string& node) const { return nodes_.contains(node); }

TunnelMode AccountTable::nodeMode(const std::string& node) const {
    auto it = nodes_.find(node);
    return it == nodes_.end() ? TunnelMode(TunnelMode::l2) : it->second.mode;
}

unsigned AccountTable::nodeCapacity(const std::string& node) const {
    auto it = nodes_.find(node);
    return it == nodes_.end() ? 0 : it->second.capacity;
}

unsigned AccountTable::nodeIndex(const std::string& node) const {
    auto it = nodes_.find(node);
    return it == nodes_.end() ? 0 : it->second.index;
}

}  // namespace ostrel::test_server
