#pragma once

#include <string>
#include <string_view>

namespace ostrel {

// Small text helpers the adapter logic shares.
class TextUtil {
public:
    static std::string_view trim(std::string_view text);
    // Equal length and equal letters once ASCII letters are folded to lower case.
    static bool equalsFolded(std::string_view a, std::string_view b);
};

}  // namespace ostrel
