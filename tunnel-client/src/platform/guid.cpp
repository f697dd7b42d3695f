#include "platform/guid.h"

#include <cstdio>
#include <vector>

namespace ostrel {

namespace {

std::optional<std::uint64_t> parseHex(std::string_view digits, std::size_t want) {
    if (digits.size() != want) return std::nullopt;
    std::uint64_t value = 0;
    for (char c : digits) {
        int v;
        if (c >= '0' && c <= '9') v = c - '0';
        else if (c >= 'a' && c <= 'f') v = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F') v = c - 'A' + 10;
        else return std::nullopt;
        value = (value << 4) | static_cast<std::uint64_t>(v);
    }
    return value;
}

}  // namespace

std::optional<Guid> Guid::parse(std::string_view text) {
    while (!text.empty() && text.front() == '{') text.remove_prefix(1);
    while (!text.empty() && text.back() == '}') text.remove_suffix(1);

    std::vector<std::string_view> groups;
    std::size_t start = 0;
    for (;;) {
        std::size_t dash = text.find('-', start);
        groups.push_back(text.substr(start, dash == std::string_view::npos ? std::string_view::npos : dash - start));
        if (dash == std::string_view::npos) break;
        start = dash + 1;
    }
    if (groups.size() != 5) return std::nullopt;

    auto a = parseHex(groups[0], 8);
    auto b = parseHex(groups[1], 4);
    auto c = parseHex(groups[2], 4);
    auto d = parseHex(groups[3], 4);
    auto e = parseHex(groups[4], 12);
    if (!a || !b || !c || !d || !e) return std::nullopt;

    Guid guid;
    guid.data1 = static_cast<std::uint32_t>(*a);
    guid.data2 = static_cast<std::uint16_t>(*b);
    guid.data3 = static_cast<std::uint16_t>(*c);
    guid.data4[0] = static_cast<std::uint8_t>(*d >> 8);
    guid.data4[1] = static_cast<std::uint8_t>(*d);
    for (int i = 0; i < 6; ++i) guid.data4[2 + i] = static_cast<std::uint8_t>(*e >> (8 * (5 - i)));
    return guid;
}

std::string Guid::toString() const {
    char text[40];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", data1, data2, data3,
                  data4[0], data4[1], data4[2], data4[3], data4[4], data4[5], data4[6], data4[7]);
    return text;
}

}  // namespace ostrel
