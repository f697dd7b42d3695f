#include "events/text_forms.h"

#include <cstdio>

namespace ostrel {

std::string ipv4Text(const Ipv4Bytes& a)
{
    return std::to_string(a[0]) + '.' + std::to_string(a[1]) + '.' + std::to_string(a[2]) + '.' +
           std::to_string(a[3]);
}

std::string ipv6CompressedText(const Ipv6Bytes& a)
{
    std::array<unsigned, 8> groups{};
    for (int i = 0; i < 8; ++i)
        groups[i] = (unsigned(a[2 * i]) << 8) | a[2 * i + 1];

    // Longest run of at least two zero groups; the first one wins a tie.
    int bestStart = -1, bestLength = 0;
    for (int i = 0; i < 8;) {
        if (groups[i] != 0) {
            ++i;
            continue;
        }
        int j = i;
        while (j < 8 && groups[j] == 0)
            ++j;
        if (j - i > bestLength && j - i >= 2) {
            bestStart = i;
            bestLength = j - i;
        }
        i = j;
    }

    std::string out;
    char buffer[8];
    for (int i = 0; i < 8; ++i) {
        if (i == bestStart) {
            out += "::";
            i += bestLength - 1;
            continue;
        }
        if (!out.empty() && out.back() != ':')
            out += ':';
        std::snprintf(buffer, sizeof buffer, "%x", groups[i]);
        out += buffer;
    }
    return out;
}

std::string ipv6Text(const Ipv6Bytes& a)
{
    // IPv4-mapped addresses keep the dotted tail (::ffff:a.b.c.d).
    bool mapped = a[10] == 0xff && a[11] == 0xff;
    for (int i = 0; i < 10; ++i)
        mapped = mapped && a[i] == 0;
    if (mapped)
        return "::ffff:" + ipv4Text({a[12], a[13], a[14], a[15]});
    return ipv6CompressedText(a);
}

std::string sessionText(std::uint64_t sessionId)
{
    char buffer[17];
    std::snprintf(buffer, sizeof buffer, "%016llx", static_cast<unsigned long long>(sessionId));
    return buffer;
}

unsigned prefixFromNetmask(const Ipv4Bytes& netmask)
{
    unsigned count = 0;
    for (std::uint8_t octet : netmask) {
        for (int bit = 7; bit >= 0; --bit) {
            if (!(octet & (1u << bit)))
                return count;
            ++count;
        }
    }
    return count;
}

std::string decimalText(std::uint64_t value)
{
    return std::to_string(value);
}

} // namespace ostrel
