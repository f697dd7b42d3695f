#pragma once
// scrubPassword: overwrites the bytes of the "--pass" value in the process's own
// argument strings, so other local users no longer read it from the process list.
// Call after a successful Args::parse, with the real argc/argv of main.
//   scrubPassword(argc, argv);   // "--pass p" and "--pass=p" forms; returns bytes cleared

#include <cstddef>

namespace ostrel {

std::size_t scrubPassword(int argc, char** argv);

} // namespace ostrel
