// lantoric-check's exit statuses: the outcome of a check for scripts, the
// worst port's when there are several.
#pragma once

inline constexpr int EXIT_SUCCESS_STATUS = 0;
inline constexpr int EXIT_NO_ECHO = 1; // timeout or wrong echo
inline constexpr int EXIT_NOT_TRANSMITTED = 2;
inline constexpr int EXIT_NOT_OPENED = 3; // not able to open, gone, or no port to test
// The echo came back, but the port cannot do what was asked (a rate it does
// not run, a K-line check that failed).
inline constexpr int EXIT_CANNOT_DO = 4;
// The echo came back and nothing failed, but a --kline check could not tell
// (a pseudo-terminal, calls too slow to decide, a check cut short): not
// proven, test again.
inline constexpr int EXIT_NOT_PROVEN = 5;
inline constexpr int EXIT_USAGE = 64;         // as sysexits.h has it
inline constexpr int EXIT_OUTPUT_FAILED = 74; // EX_IOERR: the report could not be written

// The worse of two test statuses, for a test of several runs or ports: any
// failure is worse than not proven, which is worse than success; of two
// failures, the higher.
constexpr int worse_status(int status, int other) {
    const auto rank = [](int of) { return of == EXIT_NOT_PROVEN ? 1 : of == 0 ? 0 : of + 1; };
    return rank(other) > rank(status) ? other : status;
}
