#include "cli/text_utils.h"

#include <algorithm>
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

} // namespace ostrel
