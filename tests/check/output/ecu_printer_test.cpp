// What an ECU check says, given its results: the JSON's word, the exit status
// and the text a mechanic reads, for each diagnosis and the bounds that
// decide between a proven "late" and "test again".
#include "check/common/exit_status.h"
#include "check/ecu/ecu_meaning.h"
#include "check/output/ecu_printer.h"
#include "check/output/json_document.h"

#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <json-glib/json-glib.h>

namespace {

using std::chrono::microseconds;
using std::chrono::milliseconds;

std::string printed(const AdapterTest& port, const EcuCheck& ecu) {
    char* text = nullptr;
    std::size_t size = 0;
    std::FILE* out = open_memstream(&text, &size);
    print_ecu_test(port, ecu, out);
    std::fclose(out);
    std::string result(text, size);
    std::free(text);
    return result;
}

// One member of the first test's ecu object, as text ("null" for null).
std::string ecu_member(const std::string& document, const char* member) {
    JsonParser* parser = json_parser_new();
    std::string value = "(not JSON)";
    if (json_parser_load_from_data(parser, document.c_str(), -1, nullptr)) {
        JsonObject* ecu = json_object_get_object_member(
            json_node_get_object(json_array_get_element(
                json_object_get_array_member(json_node_get_object(json_parser_get_root(parser)),
                                             "tests"),
                0)),
            "ecu");
        JsonNode* node = json_object_get_member(ecu, member);
        value = node == nullptr               ? "(none)"
                : JSON_NODE_HOLDS_NULL(node)  ? "null"
                : JSON_NODE_HOLDS_ARRAY(node) ? "array"
                : json_node_get_value_type(node) == G_TYPE_STRING
                    ? json_node_get_string(node)
                    : std::to_string(json_node_get_int(node));
    }
    g_object_unref(parser);
    return value;
}

EcuStep step(const char* what, const char* sent, const char* received, const char* name,
             long long least_us, long long most_us, int from_ms, int to_ms, Readiness judged) {
    return {what, sent, received,
            StepTiming{name, microseconds(least_us), microseconds(most_us), milliseconds(from_ms),
                       milliseconds(to_ms), judged},
            judged != Readiness::no};
}

EcuAttempt attempt(EcuProtocol protocol, EcuDiagnosis diagnosis, std::vector<EcuStep> steps = {}) {
    EcuAttempt made;
    made.protocol = protocol;
    made.address = default_address(protocol);
    made.diagnosis = diagnosis;
    made.steps = std::move(steps);
    made.session_held = diagnosis == EcuDiagnosis::answered;
    return made;
}

// What the end-to-end rows on the simulator's ECU cannot bring about: bounds
// that prove or do not prove a late reply, a session that did not hold, a
// busy bus, a check never tried, and every header form a KB1 can allow.
TEST(EcuPrinter, EachDiagnosisHasItsWordStatusAndText) {
    const EcuStep sync = step("sync byte", "", "\x55", "W1", 61000, 63200, 60, 300, Readiness::yes);
    const auto late = [&](long long least_us, Readiness judged) {
        const EcuStep w4 =
            step("inverted KB2", "\xf7", "\x55", "W4", least_us, 53000, 25, 50, judged);
        return attempt(EcuProtocol::iso9141, EcuDiagnosis::late, {sync, w4});
    };
    EcuAttempt kwp = attempt(EcuProtocol::kwp_fast, EcuDiagnosis::answered);
    kwp.key_bytes = std::string("\xe9\x8f"); // keyword 2025: some header forms only
    EcuAttempt iso = attempt(EcuProtocol::iso9141, EcuDiagnosis::answered, {sync});
    iso.key_bytes = std::string("\x94\x94");
    EcuAttempt unheld = iso;
    unheld.session_held = false;
    struct Row {
        std::vector<EcuAttempt> attempts;
        const char* word;
        int status;
        const char* line;
    };
    const Row rows[] = {
        {{kwp},
         "answered",
         0,
         "headers with the length in the format byte, with target and source"},
        {{iso}, "answered", 0, "key bytes: 94 94: keyword 2580: ISO 9141-2\n"},
        {{unheld}, "answered", 5, "session: it did not hold (test again); ended\n"},
        {{attempt(EcuProtocol::kwp_fast, EcuDiagnosis::busy)}, "busy", 3, "another tester talks"},
        {{late(51200, Readiness::no)}, "late", 4, "W4 at least 51.2 ms, at most 53.0 ms; window"},
        // Bounds that straddle the window prove nothing against the adapter.
        {{late(49000, Readiness::cannot_tell)}, "late", 5, "window 25-50 ms: cannot tell\n"},
        {{}, "null", 5, "  not checked: a stop was asked for\n"},
    };
    AdapterTest port;
    port.path = "/dev/ttyUSB0";
    port.open.failure = OpeningFailure::none;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.word + std::string(" ") + row.line);
        EcuCheck ecu;
        ecu.attempts = row.attempts;
        ecu.not_checked = row.attempts.empty() ? "a stop was asked for" : "";
        EXPECT_EQ(ecu_exit_status(ecu), row.status);
        const std::string text = printed(port, ecu);
        EXPECT_NE(text.find(row.line), std::string::npos) << text;
        const std::string json = tests_json({port}, row.status, {ecu});
        EXPECT_EQ(ecu_member(json, "diagnosis"), row.word) << json;
        EXPECT_EQ(ecu_member(json, "attempts"), "array");
    }
}

// A silent ECU proves the adapter works: any other failure outranks it, and
// it outranks "test again".
TEST(EcuPrinter, ASilentEcuIsTheMildestFailure) {
    EXPECT_EQ(worse_status(EXIT_ECU_SILENT, EXIT_NOT_PROVEN), EXIT_ECU_SILENT);
    EXPECT_EQ(worse_status(EXIT_NOT_PROVEN, EXIT_ECU_SILENT), EXIT_ECU_SILENT);
    EXPECT_EQ(worse_status(EXIT_ECU_SILENT, EXIT_NO_ECHO), EXIT_NO_ECHO);
    EXPECT_EQ(worse_status(EXIT_CANNOT_DO, EXIT_ECU_SILENT), EXIT_CANNOT_DO);
}

} // namespace
