#pragma once
// Command line of ostrel-tunnel-server:
//   --bind IPV4           listen on this address instead of 127.0.0.1
//   --port N              listen on port N (default: any free port)
//   --account U:P:NODE[:l2|l3[:CAPACITY]]   may repeat
//   --accounts FILE       one account per line
//   --server-auth-key HEX 64 hex digits; the server then proves itself with it
//   --mtu N  --ipv6  --no-ipv4
//   --misbehave WHAT      silent, no-server-hello, low-order-key, wrong-proof, ignore-auth, unanswered-auths:N,
//                         short-auth-ok, other-mode, cgnat-unavailable, auth-fail:CODE[:REASON]

#include "tunnel_server.h"

#include <expected>
#include <string>
#include <vector>

namespace ostrel::test_server {

std::expected<ServerOptions, std::string> parseServerCommandLine(const std::vector<std::string>& args);
std::expected<Key32, std::string> parseHexKey(const std::string& text);
std::string serverUsage();

}  // namespace ostrel::test_server
