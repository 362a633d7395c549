#include "check/common/verdict.h"

#include "app/core/loopback_exchange.h"
#include "check/common/exit_status.h"

VerdictMeaning meaning_of(Verdict verdict) {
    // A port that did not open is said in the window's words, whatever they become.
    const char* not_open = loopback_verdict_text(LoopbackVerdict::not_able_to_open);
    switch (verdict) {
    case Verdict::success:
        return {"success", "success", EXIT_SUCCESS_STATUS, ""};
    case Verdict::timeout:
        return {"timeout", "timeout", EXIT_NO_ECHO, ""};
    case Verdict::not_transmitted:
        return {"not able to transmit", "not able to transmit", EXIT_NOT_TRANSMITTED, REPLUG_FIX};
    case Verdict::port_gone:
        return {"the port went away", "the port went away", EXIT_NOT_OPENED,
                "plug the adapter in again and test again"};
    case Verdict::not_opened:
        return {"could not open", not_open, EXIT_NOT_OPENED, ""};
    case Verdict::held:
        return {"held by another process", "not tested", EXIT_NOT_OPENED, ""};
    case Verdict::cannot_do:
        return {"cannot do what was asked", "cannot do what was asked", EXIT_CANNOT_DO, ""};
    case Verdict::not_proven:
        return {"not proven: test again", "not proven: test again", EXIT_NOT_PROVEN, "test again"};
    case Verdict::not_able_to_open:
        break;
    }
    return {"not able to open", not_open, EXIT_NOT_OPENED, ""};
}

std::vector<std::pair<Verdict, long long>> VerdictCounts::counted() const {
    std::vector<std::pair<Verdict, long long>> counted;
    for (std::size_t kind = 0; kind < counts_.size(); ++kind) {
        if (counts_[kind] > 0) {
            counted.emplace_back(static_cast<Verdict>(kind), counts_[kind]);
        }
    }
    return counted;
}

std::string unplugged_advice(const char* joint) {
    return std::string(ADAPTER_UNPLUGGED) + joint + "plug it in again";
}
