#include "server_command_line.h"

#include <charconv>

namespace ostrel::test_server {

namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

template <typename T>
bool parseNumber(const std::string& text, T& out) {
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    return ec == std::errc{} && end == text.data() + text.size();
}

std::expected<void, std::string> applyMisbehaviour(const std::string& what, Misbehaviour& m) {
    if (what == "silent") m.silent = true;
    else if (what == "no-server-hello") m.noServerHello = true;
    else if (what == "low-order-key") m.lowOrderKey = true;
    else if (what == "wrong-proof") m.wrongProof = true;
    else if (what == "ignore-auth") m.ignoreAuth = true;
    else if (what.starts_with("unanswered-auths:")) {
        if (!parseNumber(what.substr(17), m.unansweredAuths)) return std::unexpected("bad count in " + what);
    }
    else if (what == "short-auth-ok") m.shortAuthOk = true;
    else if (what == "other-mode") m.otherMode = true;
    else if (what == "cgnat-unavailable") m.cgnatUnavailable = true;
    else if (what.starts_with("auth-fail:")) {
        std::string rest = what.substr(10);
        auto colon = rest.find(':');
        std::string code = rest.substr(0, colon);
        unsigned value = 0;
        if (!parseNumber(code, value) || value > 255) return std::unexpected("auth-fail code must be 0-255: " + code);
        m.authFail = {static_cast<std::uint8_t>(value), colon == std::string::npos ? "" : rest.substr(colon + 1)};
    } else {
        return std::unexpected("unknown misbehaviour: " + what);
    }
    return {};
}

}  // namespace

std::expected<Key32, std::string> parseHexKey(const std::string& text) {
    if (text.size() != 64) return std::unexpected("server key must be 64 hexadecimal digits");
    Key32 key{};
    for (std::size_t i = 0; i < 32; ++i) {
        int high = hexValue(text[2 * i]);
        int low = hexValue(text[2 * i + 1]);
        if (high < 0 || low < 0) return std::unexpected("server key must be 64 hexadecimal digits");
        key[i] = static_cast<std::uint8_t>(high << 4 | low);
    }
    return key;
}

std::string serverUsage() {
    return "usage: ostrel-tunnel-server [--bind IPV4] [--port N] [--account USER:PASS:NODE[:l2|l3[:CAPACITY]]]...\n"
           "       [--accounts FILE] [--server-auth-key HEX] [--mtu N] [--ipv6] [--no-ipv4]\n"
           "       [--misbehave silent|no-server-hello|low-order-key|wrong-proof|ignore-auth|unanswered-auths:N|\n"
           "                    short-auth-ok|other-mode|cgnat-unavailable|auth-fail:CODE[:REASON]]\n";
}

std::expected<ServerOptions, std::string> parseServerCommandLine(const std::vector<std::string>& args) {
    ServerOptions options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        auto value = [&]() -> std::expected<std::string, std::string> {
            if (i + 1 >= args.size()) return std::unexpected(arg + " needs a value");
            return args[++i];
        };
        if (arg == "--ipv6") {
            options.grantIpv6 = true;
            continue;
        }
        if (arg == "--no-ipv4") {
            options.grantIpv4 = false;
            continue;
        }
        if (arg != "--port" && arg != "--bind" && arg != "--account" && arg != "--accounts" && arg != "--server-auth-key" &&
            arg != "--mtu" && arg != "--misbehave")
            return std::unexpected("unknown argument: " + arg);
        auto v = value();
        if (!v) return std::unexpected(v.error());
        if (arg == "--bind") {
            options.bind = *v;
        } else if (arg == "--port") {
            if (!parseNumber(*v, options.port)) return std::unexpected("bad port: " + *v);
        } else if (arg == "--mtu") {
            if (!parseNumber(*v, options.mtu) || options.mtu < 576) return std::unexpected("bad mtu: " + *v);
        } else if (arg == "--account") {
            auto added = options.accounts.addText(*v);
            if (!added) return std::unexpected(added.error());
        } else if (arg == "--accounts") {
            auto loaded = options.accounts.load(*v);
            if (!loaded) return std::unexpected(loaded.error());
        } else if (arg == "--server-auth-key") {
            auto key = parseHexKey(*v);
            if (!key) return std::unexpected(key.error());
            options.authKey = *key;
        } else {
            auto applied = applyMisbehaviour(*v, options.misbehave);
            if (!applied) return std::unexpected(applied.error());
        }
    }
    if (options.accounts.empty()) return std::unexpected("no accounts given");
    return options;
}

}  // namespace ostrel::test_server
