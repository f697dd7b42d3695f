#pragma once
// Text helpers of the command line, also used wherever bytes from outside must
// become UTF-8 (the AUTH_FAIL reason, adapter names from the registry).
//   isValidUtf8(bytes) -> strict UTF-8 check (no overlongs, surrogates or values past U+10FFFF)
//   lossyUtf8(bytes) -> each ill-formed subsequence replaced by U+FFFD
//   jaroSimilarity(a, b) -> 0.0 .. 1.0, computed over Unicode scalar values

#include <string>
#include <string_view>

namespace ostrel {

bool isValidUtf8(std::string_view bytes);
std::string lossyUtf8(std::string_view bytes);
double jaroSimilarity(std::string_view a, std::string_view b);

} // namespace ostrel
