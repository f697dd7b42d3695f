#pragma once

#include <string>

// The system's text for an error number, without trailing line breaks;
// "Unknown error" when the system has none.
std::string systemErrorText(int error);
