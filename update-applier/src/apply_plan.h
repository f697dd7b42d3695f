#pragma once

#include <string>
#include <vector>

// What apply.json asks for: the program to start afterwards and the paths to
// delete first, both relative to the installation directory.
struct ApplyPlan {
    std::u16string mainExecutable;
    std::vector<std::u16string> remove;
};
