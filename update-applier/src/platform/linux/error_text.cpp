#include "platform/error_text.h"

#include <cstring>

std::string systemErrorText(int error)
{
    char buffer[256] = {};
    // GNU strerror_r may return a static string instead of filling the buffer.
    const char* text = strerror_r(error, buffer, sizeof buffer);
    std::string result = text ? text : "";
    while (!result.empty() && (result.back() == '\n' || result.back() == '\r'))
        result.pop_back();
    return result.empty() ? "Unknown error" : result;
}
