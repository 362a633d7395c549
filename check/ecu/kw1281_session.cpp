#include "check/ecu/kw1281_session.h"

#include "check/common/byte_text.h"
#include "check/ecu/five_baud_address.h"
#include "check/ecu/slow_init_session.h"

namespace {

using std::chrono::milliseconds;

constexpr unsigned char KW1281_KB2 = 0x8A;
constexpr unsigned char BLOCK_END = 0x03;
constexpr unsigned char TITLE_ACK = 0x09;
constexpr unsigned char TITLE_END = 0x06;
// An ECU's block comes within a second of the last; its bytes and
// complements within P1-like gaps, with the adapter's and a slow machine's
// delays on top.
constexpr milliseconds BLOCK_WAIT{1000};
constexpr milliseconds BYTE_WAIT{20 + 200};
// More identification blocks than any ECU sends: a talker that never stops.
constexpr int MOST_BLOCKS = 16;

unsigned char inverse(unsigned char byte) {
    return static_cast<unsigned char>(~byte);
}

class Kw1281Session {
  public:
    explicit Kw1281Session(Handshake& handshake) : handshake_(handshake) {}

    // The ECU's next block, each byte but the last complemented; none with
    // the diagnosis said (or cut).
    std::optional<std::string> receive_block(Deadline first_by) {
        EcuStep& step = handshake_.add_step("block from the ECU");
        std::string block;
        Deadline by = first_by;
        for (;;) {
            const std::optional<WireByte> byte = handshake_.receive(step, by);
            if (!byte || byte->garbled) {
                return failed(block, byte.has_value());
            }
            block.push_back(static_cast<char>(byte->value));
            const auto length = static_cast<std::size_t>(static_cast<unsigned char>(block[0]));
            if (block.size() == length + 1) {
                break;
            }
            if (!handshake_.send(step, std::string(1, static_cast<char>(inverse(byte->value))))) {
                return std::nullopt;
            }
            step.sent.clear();
            by = Deadline::after(BYTE_WAIT + handshake_.wire.uncertainty());
        }
        step.received = block;
        if (block.size() < 4 || static_cast<unsigned char>(block.back()) != BLOCK_END ||
            (started_ && static_cast<unsigned char>(block[1]) != counter_)) {
            return failed(block, true);
        }
        // The ECU's first block sets the count the rest follow.
        counter_ = static_cast<unsigned char>(static_cast<unsigned char>(block[1]) + 1);
        started_ = true;
        step.ok = true;
        return block;
    }

    // Sends a block of ours, waiting for the ECU's complement of each byte
    // but the last.
    bool send_block(const char* what, unsigned char title) {
        EcuStep& step = handshake_.add_step(what);
        const std::string block = kw1281_block(counter_, title);
        for (std::size_t i = 0; i < block.size(); ++i) {
            if (!handshake_.send(step, std::string(1, block[i]))) {
                return false;
            }
            if (i + 1 == block.size()) {
                break;
            }
            const std::optional<WireByte> complement =
                handshake_.wire.next(Deadline::after(BYTE_WAIT + handshake_.wire.uncertainty()));
            if (!complement || complement->value != inverse(static_cast<unsigned char>(block[i]))) {
                step.sent = block.substr(0, i + 1);
                return handshake_.cut() ? false
                                        : handshake_.fail(EcuDiagnosis::broken,
                                                          "the ECU did not complement " +
                                                              hex_bytes(block.substr(i, 1)) +
                                                              " of our " + hex_bytes(block));
            }
            step.received.push_back(static_cast<char>(complement->value));
        }
        step.sent = block;
        ++counter_;
        step.ok = true;
        return true;
    }

  private:
    std::nullopt_t failed(const std::string& block, bool came) {
        if (!handshake_.cut()) {
            handshake_.fail(EcuDiagnosis::broken,
                            came ? "the ECU's block " + hex_bytes(block) + " is malformed"
                            : block.empty() ? "the ECU sent no block"
                                            : "the ECU's block stopped after " + hex_bytes(block));
        }
        return std::nullopt;
    }

    Handshake& handshake_;
    unsigned char counter_ = 1;
    bool started_ = false;
};

// The identification blocks, each acknowledged, until the ECU's own ACK.
bool identification(Handshake& handshake, Kw1281Session& session, const StepTiming& ours) {
    std::string text;
    Deadline first_by = Deadline::after(BLOCK_WAIT + handshake.wire.uncertainty());
    for (int blocks = 0; blocks < MOST_BLOCKS; ++blocks) {
        const std::optional<std::string> block = session.receive_block(first_by);
        if (!block) {
            if (blocks == 0 && !handshake.cut() && ours.judged != Readiness::yes) {
                handshake.fail(EcuDiagnosis::late,
                               "the ECU sent no identification: our complement of 8A went out at " +
                                   timing_text(ours));
            }
            return false;
        }
        if (static_cast<unsigned char>((*block)[2]) == TITLE_ACK) {
            if (blocks == 0) {
                return handshake.fail(EcuDiagnosis::broken, "the ECU sent no identification");
            }
            handshake.attempt.detail = "identification: " + text;
            return true;
        }
        text += block->substr(3, block->size() - 4);
        if (!session.send_block("ACK block", TITLE_ACK)) {
            return false;
        }
        first_by = Deadline::after(BLOCK_WAIT + handshake.wire.uncertainty());
    }
    return handshake.fail(EcuDiagnosis::broken, "the ECU's identification did not end");
}

} // namespace

std::string kw1281_block(unsigned char counter, unsigned char title, std::string_view data) {
    std::string block;
    block.push_back(static_cast<char>(data.size() + 3));
    block.push_back(static_cast<char>(counter));
    block.push_back(static_cast<char>(title));
    block.append(data);
    block.push_back(static_cast<char>(BLOCK_END));
    return block;
}

void kw1281_attempt(Handshake& handshake) {
    EcuAttempt& attempt = handshake.attempt;
    const std::optional<FiveBaudWake> wake =
        wake_by_five_baud(handshake, with_odd_parity(attempt.address));
    if (!wake) {
        return;
    }
    if (wake->kb2.value != KW1281_KB2) {
        handshake.fail(EcuDiagnosis::broken,
                       "key bytes " + hex_bytes(*attempt.key_bytes) + " are not KW1281's (01 8A)");
        return;
    }
    EcuStep& step = handshake.add_step("complement of 8A");
    const std::optional<WireSend> inverted = send_inverted(handshake, step, wake->kb2);
    if (!inverted) {
        return;
    }
    const StepTiming ours = *step.timing;
    attempt.ended = false;
    Kw1281Session session(handshake);
    if (identification(handshake, session, ours)) {
        attempt.session_held = true;
        attempt.diagnosis = EcuDiagnosis::answered;
    }
    if (handshake.wire.gone()) {
        attempt.ended = true;
        return;
    }
    // The end block goes out after a stop too; the ECU ends a session a
    // second after the tester's last block anyway.
    const EcuAttempt kept = attempt;
    handshake.wire.set_ending(true);
    (void)session.send_block("end block", TITLE_END);
    handshake.wire.set_ending(false);
    attempt.diagnosis = kept.diagnosis;
    attempt.detail = kept.detail;
    attempt.ended = true;
}
