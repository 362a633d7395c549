// lantoric-check's exit statuses: the outcome of a check for scripts, the
// worst port's when there are several.
#pragma once

inline constexpr int EXIT_SUCCESS_STATUS = 0;
inline constexpr int EXIT_NO_ECHO = 1;
inline constexpr int EXIT_NOT_TRANSMITTED = 2;
inline constexpr int EXIT_NOT_OPENED = 3;
inline constexpr int EXIT_CANNOT_DO = 4;
// Not proven: a pseudo-terminal, calls too slow to decide, a check cut short.
inline constexpr int EXIT_NOT_PROVEN = 5;
// The adapter works (our bytes came back, the rate and the timing held), but
// the car's ECU did not answer, answered garbled, malformed or with a refusal.
inline constexpr int EXIT_ECU_SILENT = 6;
inline constexpr int EXIT_USAGE = 64;         // as sysexits.h has it
inline constexpr int EXIT_OUTPUT_FAILED = 74; // EX_IOERR

// What each status means, as the help says it.
struct ExitStatusMeaning {
    int status;
    const char* meaning;
};
inline constexpr ExitStatusMeaning EXIT_STATUS_MEANINGS[] = {
    {EXIT_SUCCESS_STATUS, "success or a listing"},
    {EXIT_NO_ECHO, "timeout or wrong echo (with --ecu: our own bytes did not come back)"},
    {EXIT_NOT_TRANSMITTED, "not able to transmit"},
    {EXIT_NOT_OPENED,
     "not able to open, the port went away, held by another process, the K-line busy with "
     "another tester or no port to test"},
    {EXIT_CANNOT_DO,
     "the echo came back but the port cannot do what was asked (the rate, a K-line check, "
     "the ECU's rate, our reply in the ECU's window, the wake-up, a K-line held low)"},
    {EXIT_NOT_PROVEN, "not proven: a K-line check or an ECU's window could not tell, test again"},
    {EXIT_ECU_SILENT, "the adapter works but the ECU did not answer (silent, another rate, "
                      "a refusal, a malformed answer)"},
    {EXIT_USAGE, "usage error"},
    {EXIT_OUTPUT_FAILED, "the output or the report could not be written"},
};

// The worse of two test statuses, for a test of several runs or ports: any
// failure is worse than not proven, which is worse than success. A silent ECU
// is the mildest failure, since it proves the adapter works; of two other
// failures, the higher, so a proven "no" of an adapter (4) outranks them all.
constexpr int worse_status(int status, int other) {
    const auto rank = [](int of) {
        return of == EXIT_NOT_PROVEN ? 1 : of == EXIT_ECU_SILENT ? 2 : of == 0 ? 0 : of + 2;
    };
    return rank(other) > rank(status) ? other : status;
}
