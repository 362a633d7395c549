// How a test of a port ended, in one enum: how one run ended, and how a whole
// test of one or many runs did. Each verdict's words, exit status and fix sit
// beside it in one switch the compiler checks (check/ builds with
// -Werror=switch), so a printer, the JSON document, a count or the watch's
// tally takes the verdict and never compares its text.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <utility>
#include <vector>

enum class Verdict {
    // How one run ended, and the worst run of a test.
    success,
    timeout, // nothing, too little or a wrong byte came back
    not_transmitted,
    port_gone,  // the port hung up or failed under the test
    not_opened, // a run could not open the port
    // A whole test only.
    not_able_to_open, // the port did not open to be tested, or refused the rate
    held,             // another process has the port, which was left alone
    cannot_do,        // the echo came back, but the rate or a K-line check failed
    not_proven,       // the echo came back, but a K-line check could not tell
};
// not_proven is the last: a new verdict goes before it.
inline constexpr std::size_t VERDICT_KINDS = static_cast<std::size_t>(Verdict::not_proven) + 1;

struct VerdictMeaning {
    // For scripts, counts and the tally: "success", "timeout", "not able to
    // transmit", "the port went away", "could not open", "not able to open",
    // "held by another process", "cannot do what was asked", "not proven:
    // test again".
    const char* word;
    // What the text says after "verdict:": the word, but the window's "not
    // able to open selected port" for a port that did not open, and "not
    // tested" for one that was left alone.
    const char* shown;
    // The status of check/exit_status.h the verdict maps to.
    int exit_status;
    // What to do, when the verdict alone says it; empty when the fix comes
    // with what was found (why the port did not open, who holds it, which
    // check failed) or nothing needs doing.
    const char* fix;
};

VerdictMeaning meaning_of(Verdict verdict);

// How many runs ended in each verdict. 64-bit: a week's soak of a fast port
// runs billions of tests.
class VerdictCounts {
  public:
    long long operator[](Verdict verdict) const { return counts_[index(verdict)]; }
    void add(Verdict verdict) { ++counts_[index(verdict)]; }
    // The verdicts counted at least once, with their counts, in the enum's order.
    std::vector<std::pair<Verdict, long long>> counted() const;

  private:
    static std::size_t index(Verdict verdict) { return static_cast<std::size_t>(verdict); }
    std::array<long long, VERDICT_KINDS> counts_{};
};

// Why a port goes away under a test.
inline constexpr char ADAPTER_UNPLUGGED[] = "the adapter was unplugged or reset";

// ADAPTER_UNPLUGGED and what to do about it ("plug it in again"), joined by
// joint: ": " where it is a fix of its own, "; " after what went away.
std::string unplugged_advice(const char* joint);

// What to do about an adapter or driver that is stuck.
inline constexpr char REPLUG_FIX[] = "unplug the adapter, plug it in again and test again";
