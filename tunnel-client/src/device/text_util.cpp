#include "device/text_util.h"

namespace ostrel {

std::string_view TextUtil::trim(std::string_view text) {
    auto space = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; };
    while (!text.empty() && space(text.front())) text.remove_prefix(1);
    while (!text.empty() && space(text.back())) text.remove_suffix(1);
    return text;
}

bool TextUtil::equalsFolded(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    auto fold = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
    for (std::size_t i = 0; i < a.size(); ++i)
        if (fold(a[i]) != fold(b[i])) return false;
    return true;
}

std::string TextUtil::sanitizeUtf8(std::string_view bytes) {
    static constexpr std::string_view kReplacement = "\xEF\xBF\xBD";
    std::string out;
    std::size_t i = 0;
    auto at = [&](std::size_t k) { return static_cast<unsigned char>(bytes[k]); };
    while (i < bytes.size()) {
        unsigned char c = at(i);
        std::size_t need = 0;
        unsigned char lo = 0x80, hi = 0xBF;
        if (c < 0x80) {
            out += static_cast<char>(c);
            ++i;
            continue;
        } else if (c >= 0xC2 && c <= 0xDF) {
            need = 1;
        } else if (c >= 0xE0 && c <= 0xEF) {
            need = 2;
            if (c == 0xE0) lo = 0xA0;
            if (c == 0xED) hi = 0x9F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            need = 3;
            if (c == 0xF0) lo = 0x90;
            if (c == 0xF4) hi = 0x8F;
        } else {
            out += kReplacement;
            ++i;
            continue;
        }
        // One replacement per maximal bad prefix, as the usual decoders do.
        std::size_t k = 1;
        for (; k <= need && i + k < bytes.size(); ++k) {
            unsigned char b = at(i + k);
            unsigned char l = k == 1 ? lo : 0x80, h = k == 1 ? hi : 0xBF;
            if (b < l || b > h) break;
        }
        if (k == need + 1) {
            out.append(bytes.substr(i, need + 1));
            i += need + 1;
        } else {
            out += kReplacement;
            i += k;
        }
    }
    return out;
}

}  // namespace ostrel
