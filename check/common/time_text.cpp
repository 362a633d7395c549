#include "check/common/time_text.h"

#include <cstdio>

std::string milliseconds_number(std::chrono::steady_clock::duration span) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f",
                  std::chrono::duration<double, std::milli>(span).count());
    return text;
}

std::string milliseconds_text(std::chrono::steady_clock::duration span) {
    return milliseconds_number(span) + " ms";
}

std::string elapsed_text(std::chrono::steady_clock::duration span) {
    const long long seconds = std::chrono::duration_cast<std::chrono::seconds>(span).count();
    char text[32];
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", seconds / 3600, seconds / 60 % 60,
                  seconds % 60);
    return text;
}
