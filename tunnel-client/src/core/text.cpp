#include "core/text.h"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace ostrel {

namespace {

// Length of the well-formed sequence at `pos`, or 0 with `consumed` set to the
// bytes of the maximal ill-formed subpart.
std::size_t sequenceAt(std::string_view s, std::size_t pos, std::size_t& consumed, char32_t& value)
{
    auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
    unsigned char lead = byte(pos);
    consumed = 1;
    if (lead < 0x80) {
        value = lead;
        return 1;
    }
    std::size_t length;
    unsigned char low = 0x80, high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    char32_t v = lead & (0xFF >> (length + 1));
    for (std::size_t k = 1; k < length; ++k) {
        if (pos + k >= s.size())
            return 0;
        unsigned char c = byte(pos + k);
        unsigned char lo = k == 1 ? low : 0x80;
        unsigned char hi = k == 1 ? high : 0xBF;
        if (c < lo || c > hi)
            return 0;
        v = (v << 6) | (c & 0x3F);
        consumed = k + 1;
    }
    value = v;
    return length;
}

std::vector<char32_t> scalars(std::string_view s)
{
    std::vector<char32_t> out;
    for (std::size_t i = 0; i < s.size();) {
        std::size_t consumed;
        char32_t v;
        std::size_t n = sequenceAt(s, i, consumed, v);
        out.push_back(n ? v : U'\uFFFD');
        i += n ? n : consumed;
    }
    return out;
}

} // namespace

bool isValidUtf8(std::string_view bytes)
{
    for (std::size_t i = 0; i < bytes.size();) {
        std::size_t consumed;
        char32_t v;
        std::size_t n = sequenceAt(bytes, i, consumed, v);
        if (n == 0)
            return false;
        i += n;
    }
    return true;
}

std::string lossyUtf8(std::string_view bytes)
{
    std::string out;
    for (std::size_t i = 0; i < bytes.size();) {
        std::size_t consumed;
        char32_t v;
        std::size_t n = sequenceAt(bytes, i, consumed, v);
        if (n) {
            out.append(bytes.substr(i, n));
            i += n;
        } else {
            out += "\xEF\xBF\xBD";
            i += consumed;
        }
    }
    return out;
}

double jaroSimilarity(std::string_view aText, std::string_view bText)
{
    const auto a = scalars(aText);
    const auto b = scalars(bText);
    if (a.empty() && b.empty())
        return 1.0;
    if (a.empty() || b.empty())
        return 0.0;

    std::size_t range = std::max(a.size(), b.size()) / 2;
    range = range > 0 ? range - 1 : 0;
    std::vector<bool> aMatched(a.size()), bMatched(b.size());
    std::size_t matches = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        std::size_t lo = i > range ? i - range : 0;
        std::size_t hi = std::min(b.size(), i + range + 1);
        for (std::size_t j = lo; j < hi; ++j) {
            if (!bMatched[j] && a[i] == b[j]) {
                aMatched[i] = bMatched[j] = true;
                ++matches;
                break;
            }
        }
    }
    if (matches == 0)
        return 0.0;

    std::size_t transpositions = 0;
    std::size_t j = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (!aMatched[i])
            continue;
        while (!bMatched[j])
            ++j;
        if (a[i] != b[j])
            ++transpositions;
        ++j;
    }
    transpositions /= 2;
    double m = static_cast<double>(matches);
    return (m / a.size() + m / b.size() + (m - transpositions) / m) / 3.0;
}

std::string_view trim(std::string_view text) {
    auto space = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; };
    while (!text.empty() && space(text.front())) text.remove_prefix(1);
    while (!text.empty() && space(text.back())) text.remove_suffix(1);
    return text;
}

bool equalsFolded(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    auto fold = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
    for (std::size_t i = 0; i < a.size(); ++i)
        if (fold(a[i]) != fold(b[i])) return false;
    return true;
}

std::string ipv4Text(const Ipv4Address& a)
{
    return std::to_string(a[0]) + '.' + std::to_string(a[1]) + '.' + std::to_string(a[2]) + '.' +
           std::to_string(a[3]);
}

std::string ipv6CompressedText(const Ipv6Address& a)
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

std::string ipv6Text(const Ipv6Address& a)
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

unsigned prefixFromNetmask(const Ipv4Address& netmask)
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
