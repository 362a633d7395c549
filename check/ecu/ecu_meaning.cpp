#include "check/ecu/ecu_meaning.h"

#include "check/common/exit_status.h"

#include <algorithm>

const char* protocol_word(EcuProtocol protocol) {
    switch (protocol) {
    case EcuProtocol::iso9141:
        return "iso9141";
    case EcuProtocol::kwp_slow:
        return "kwp-slow";
    case EcuProtocol::kwp_fast:
        return "kwp-fast";
    case EcuProtocol::kw1281:
        break;
    }
    return "kw1281";
}

const char* protocol_title(EcuProtocol protocol) {
    switch (protocol) {
    case EcuProtocol::iso9141:
        return "ISO 9141-2";
    case EcuProtocol::kwp_slow:
        return "KWP2000 slow init";
    case EcuProtocol::kwp_fast:
        return "KWP2000 fast init";
    case EcuProtocol::kw1281:
        break;
    }
    return "KW1281";
}

std::optional<EcuProtocol> protocol_named(const std::string& word) {
    for (EcuProtocol protocol : ECU_PROTOCOLS) {
        if (word == protocol_word(protocol)) {
            return protocol;
        }
    }
    return std::nullopt;
}

std::string ecu_protocol_words() {
    std::string words = ECU_AUTO_WORD;
    for (EcuProtocol protocol : ECU_PROTOCOLS) {
        words += std::string(", ") + protocol_word(protocol);
    }
    return words;
}

int default_address(EcuProtocol protocol) {
    return protocol == EcuProtocol::kw1281 ? 0x01 : 0x33;
}

int highest_address(EcuProtocol protocol) {
    return protocol == EcuProtocol::kw1281 ? 0x7f : 0xff;
}

EcuDiagnosisMeaning meaning_of(EcuDiagnosis diagnosis) {
    switch (diagnosis) {
    case EcuDiagnosis::answered:
        return {"answered", "the ECU answered and the session held", "", EXIT_SUCCESS_STATUS};
    case EcuDiagnosis::no_echo:
        return {"no-echo",
                "our own bytes did not come back from the K-line: the adapter has no +12 V on "
                "OBD pin 16, or its K-line is not connected",
                "check the adapter's power (+12 V on pin 16, ground on pins 4 and 5) and the "
                "cable to the car's socket",
                EXIT_NO_ECHO};
    case EcuDiagnosis::held_low:
        return {"held-low",
                "the K-line is held low: a short to ground, or another tester holds the bus",
                "unplug other testers from the car, then check the K-line (OBD pin 7) and its "
                "wiring for a short to ground",
                EXIT_CANNOT_DO};
    case EcuDiagnosis::busy:
        return {"busy",
                "the K-line carried traffic before we began: another tester talks on the bus",
                "unplug or switch off the other tester, wait a few seconds and test again",
                EXIT_NOT_OPENED};
    case EcuDiagnosis::silent:
        return {"silent",
                "our bytes came back, but no ECU answered in time: the ignition is off, the car "
                "speaks another protocol, it is a CAN-only car, or an older car that also needs "
                "the L-line",
                "switch the ignition on and test again; then try another protocol with "
                "--ecu=PROTOCOL; a CAN-only car needs a CAN adapter, and an older car may need "
                "an adapter that also drives the L-line (OBD pin 15)",
                EXIT_ECU_SILENT};
    case EcuDiagnosis::other_rate:
        return {"other-rate", "the ECU's answer came garbled: it talks at another rate",
                "test with --ecu=auto, which tries again at the rate the sync byte suggests; if "
                "it stays garbled, check the K-line for noise (a long or loose cable)",
                EXIT_ECU_SILENT};
    case EcuDiagnosis::adapter_rate:
        return {"adapter-rate",
                "the adapter cannot run the ECU's rate: its driver runs another (cp210x runs "
                "10400 as 14400), so the ECU cannot understand it",
                "use an adapter with an FTDI or CH340 chip", EXIT_CANNOT_DO};
    case EcuDiagnosis::refused:
        return {"refused", "the ECU answered, but refused the session",
                "wait a few seconds and test again with the engine off and no other tester on "
                "the bus; if it refuses again, try another --ecu protocol or --address",
                EXIT_ECU_SILENT};
    case EcuDiagnosis::late:
        return {"late",
                "the ECU answered, but our reply reached the line outside the ECU's window: the "
                "adapter's timing",
                "use an adapter that passes bytes on sooner: an FTDI chip with its latency timer "
                "at 1 ms, or a CH340",
                EXIT_CANNOT_DO};
    case EcuDiagnosis::no_wake_up:
        return {"no-wake-up",
                "the adapter cannot make the wake-up: its driver refused the break, or held the "
                "line low far longer than asked",
                "use an adapter whose driver sends real breaks (FTDI chips are known to)",
                EXIT_CANNOT_DO};
    case EcuDiagnosis::broken:
        break;
    }
    return {"broken", "the ECU's answer was malformed: a wrong checksum or key byte",
            "check the K-line for noise and the plug in the car's socket for a loose contact, "
            "then test again",
            EXIT_ECU_SILENT};
}

namespace {

// The header forms a KWP2000 KB1 allows: its bits 0 and 1 say where the
// length goes, bits 2 and 3 whether a header carries the addresses.
std::string kwp_header_forms(unsigned kb1) {
    std::string lengths;
    if ((kb1 & 0x01) != 0) {
        lengths = "in the format byte";
    }
    if ((kb1 & 0x02) != 0) {
        lengths += std::string(lengths.empty() ? "" : " or ") + "in a byte of its own";
    }
    std::string addresses;
    if ((kb1 & 0x04) != 0) {
        addresses = "without addresses";
    }
    if ((kb1 & 0x08) != 0) {
        addresses += std::string(addresses.empty() ? "" : " or ") + "with target and source";
    }
    if (lengths.empty() || addresses.empty()) {
        return "; KB1 allows no header form";
    }
    return "; headers with the length " + lengths + ", " + addresses;
}

} // namespace

std::string key_bytes_meaning(const std::string& key_bytes) {
    if (key_bytes.size() != 2) {
        return {};
    }
    const unsigned kb1 = static_cast<unsigned char>(key_bytes[0]);
    const unsigned kb2 = static_cast<unsigned char>(key_bytes[1]);
    const unsigned keyword = ((kb2 & 0x7f) << 7) | (kb1 & 0x7f);
    std::string meaning = "keyword " + std::to_string(keyword);
    if (kb1 == kb2 && (kb1 == 0x08 || kb1 == 0x94)) {
        return meaning + ": ISO 9141-2";
    }
    if (kb2 == 0x8f) {
        return meaning + ": KWP2000" + kwp_header_forms(kb1);
    }
    if (keyword == 1281) {
        return meaning + ": KW1281";
    }
    return meaning + ": no protocol this program knows";
}

int ecu_exit_status(const EcuCheck& check) {
    const EcuAttempt* deciding = check.deciding();
    if (deciding == nullptr) {
        return EXIT_NOT_PROVEN;
    }
    const std::optional<EcuDiagnosis> diagnosis = check.diagnosis();
    if (!diagnosis || (diagnosis == EcuDiagnosis::answered && !deciding->session_held)) {
        return EXIT_NOT_PROVEN;
    }
    const bool window_missed =
        std::any_of(deciding->steps.begin(), deciding->steps.end(), [](const EcuStep& step) {
            return step.timing && step.timing->judged == Readiness::no;
        });
    if (diagnosis == EcuDiagnosis::late && !window_missed) {
        return EXIT_NOT_PROVEN;
    }
    return meaning_of(*diagnosis).exit_status;
}
