#include "check/output/json_document.h"

#include "base/owners.h"
#include "check/common/byte_text.h"
#include "check/ecu/ecu_meaning.h"
#include "serial/text_utf8.h"

#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <json-glib/json-glib.h>
#include <utility>

namespace {

using OwnedBuilder = OwnedBy<JsonBuilder, g_object_unref>;
using OwnedGenerator = OwnedBy<JsonGenerator, g_object_unref>;
using OwnedNode = OwnedBy<JsonNode, json_node_unref>;
using OwnedText = OwnedBy<gchar, g_free>;

// Whether a character would act on a terminal or reorder the text around it
// rather than show: DEL and the C1 controls (U+009B is a terminal's CSI), and
// the line and paragraph separators, and the marks, embeddings, overrides
// and isolates of bidirectional text.
bool acts_on_terminal(gunichar c) {
    return (c >= 0x7f && c <= 0x9f) || c == 0x061c || c == 0x200e || c == 0x200f ||
           (c >= 0x2028 && c <= 0x202e) || (c >= 0x2066 && c <= 0x2069);
}

// json-glib escapes only the controls below U+0020; the others that act on a
// terminal come as \uXXXX too, as text mode escapes them. Outside its strings
// the document is ASCII, so only strings change, and they parse back the same.
std::string escape_acting_characters(const std::string& document) {
    std::string text;
    for (const char* at = document.c_str(); *at != '\0'; at = g_utf8_next_char(at)) {
        const gunichar c = g_utf8_get_char(at);
        if (acts_on_terminal(c)) {
            char code[8];
            std::snprintf(code, sizeof code, "\\u%04x", static_cast<unsigned>(c));
            text += code;
        } else {
            text.append(at, static_cast<std::size_t>(g_utf8_next_char(at) - at));
        }
    }
    return text;
}

// Builds one document; each member call adds a named value to the open object.
class Document {
  public:
    Document() : builder_(json_builder_new()) { json_builder_begin_object(builder()); }

    JsonBuilder* builder() const { return builder_.get(); }

    void text(const char* name, const std::string& value) {
        json_builder_set_member_name(builder(), name);
        OwnedText valid(g_utf8_make_valid(value.data(), static_cast<gssize>(value.size())));
        json_builder_add_string_value(builder(), valid.get());
    }
    // A path: its bytes too when they are not UTF-8, so no byte is lost.
    void path(const std::string& value) {
        text("path", value);
        if (!g_utf8_validate(value.data(), static_cast<gssize>(value.size()), nullptr)) {
            json_builder_set_member_name(builder(), "path_bytes");
            json_builder_begin_array(builder());
            for (char c : value) {
                json_builder_add_int_value(builder(), static_cast<unsigned char>(c));
            }
            json_builder_end_array(builder());
        }
    }
    // A record's text members, each named once in a table.
    template <typename Record>
    void texts(const Record& record,
               std::initializer_list<std::pair<const char*, std::string Record::*>> fields) {
        for (const auto& [name, member] : fields) {
            text(name, record.*member);
        }
    }
    void number(const char* name, gint64 value) {
        json_builder_set_member_name(builder(), name);
        json_builder_add_int_value(builder(), value);
    }
    void milliseconds(const char* name, std::optional<std::chrono::steady_clock::duration> span) {
        json_builder_set_member_name(builder(), name);
        if (span) {
            json_builder_add_double_value(builder(),
                                          std::chrono::duration<double, std::milli>(*span).count());
        } else {
            json_builder_add_null_value(builder());
        }
    }
    void flag(const char* name, bool value) {
        json_builder_set_member_name(builder(), name);
        json_builder_add_boolean_value(builder(), value);
    }
    void null(const char* name) {
        json_builder_set_member_name(builder(), name);
        json_builder_add_null_value(builder());
    }
    void begin_object(const char* name = nullptr) {
        if (name != nullptr) {
            json_builder_set_member_name(builder(), name);
        }
        json_builder_begin_object(builder());
    }
    void end_object() { json_builder_end_object(builder()); }
    void begin_array(const char* name) {
        json_builder_set_member_name(builder(), name);
        json_builder_begin_array(builder());
    }
    void end_array() { json_builder_end_array(builder()); }

    std::string finish() {
        json_builder_end_object(builder());
        OwnedNode root(json_builder_get_root(builder()));
        OwnedGenerator generator(json_generator_new());
        json_generator_set_pretty(generator.get(), TRUE);
        json_generator_set_root(generator.get(), root.get());
        OwnedText text(json_generator_to_data(generator.get(), nullptr));
        return escape_acting_characters(text.get()) + "\n";
    }

  private:
    OwnedBuilder builder_;
};

void add_header(Document& document) {
    document.text("program", "lantoric-check");
    document.text("version", LANTORIC_VERSION);
}

void add_open(Document& document, const OpenReport& open) {
    document.begin_object("open");
    document.text("outcome", open.word());
    document.texts(open, {{"reason", &OpenReport::reason}, {"fix", &OpenReport::fix}});
    document.end_object();
}

void add_holders(Document& document, const PortHolders& holders) {
    document.begin_array("holders");
    for (const PortHolder& holder : holders.processes) {
        document.begin_object();
        document.number("pid", holder.pid);
        document.text("command", holder.command);
        document.end_object();
    }
    document.end_array();
    document.flag("holders_all_visible", holders.all_visible);
    document.number("input_waiting_bytes", holders.input_waiting);
}

// A number that may be unknown (null): a rate, a count of breaks, a latency.
void add_number_or_null(Document& document, const char* name, std::optional<int> value) {
    if (value) {
        document.number(name, *value);
    } else {
        document.null(name);
    }
}

void add_run(Document& document, const TestRun& test_run) {
    const LoopbackResult& run = test_run.result;
    const std::string sent = TEST_TEXT;
    document.begin_object();
    document.number("test", test_run.number);
    const VerdictMeaning outcome = meaning_of(test_run.outcome);
    document.text("outcome", outcome.word);
    // The window's verdict, which stays what it was when the port went away.
    document.text("verdict", test_run.outcome == Verdict::not_opened
                                 ? outcome.shown
                                 : loopback_verdict_text(run.verdict));
    document.number("exit_status", outcome.exit_status);
    if (test_run.outcome == Verdict::not_opened) {
        add_open(document, test_run.open);
    }
    add_number_or_null(document, "line_rate", test_run.line_rate);
    document.number("waiting_before_bytes", run.waiting_before);
    document.number("bytes_written", run.bytes_written);
    document.text("sent_text", sent);
    document.text("sent_hex", hex_bytes(sent));
    document.text("received_text", text_to_utf8(run.received_text.c_str()));
    document.text("received_hex", hex_bytes(run.received_bytes));
    if (run.verdict == LoopbackVerdict::success || run.verdict == LoopbackVerdict::timeout) {
        auto differs = first_difference(sent, run.received_bytes);
        if (differs) {
            document.number("first_difference", static_cast<gint64>(*differs));
        } else {
            document.null("first_difference");
        }
    }
    document.milliseconds("first_byte_ms", run.first_byte);
    document.milliseconds("last_byte_ms", run.last_byte);
    document.end_object();
}

void add_rate_check(Document& document, const char* name, const RateCheck& rate) {
    document.begin_object(name);
    document.number("asked", rate.asked);
    add_number_or_null(document, "read_back", rate.read_back);
    document.flag("within_tolerance", rate.within_tolerance);
    add_number_or_null(document, "chip_lowest_rate", rate.chip_lowest_rate);
    document.end_object();
}

void add_time(Document& document, const char* name,
              std::optional<std::chrono::system_clock::time_point> moment) {
    if (moment) {
        document.number(
            name,
            std::chrono::duration_cast<std::chrono::seconds>(moment->time_since_epoch()).count());
    } else {
        document.null(name);
    }
}

void add_time(Document& document, const char* name, const std::optional<SoakMoment>& moment) {
    add_time(document, name, moment ? std::optional(moment->clock) : std::nullopt);
}

void add_soak(Document& document, const SoakFacts& soak) {
    document.begin_object("soak");
    add_time(document, "started", soak.started);
    document.milliseconds("ran_ms", soak.ran);
    if (soak.planned) {
        document.number("planned_s", soak.planned->count());
    } else {
        document.null("planned_s");
    }
    document.flag("until_fail", soak.until_fail);
    document.flag("interrupted", soak.interrupted);
    add_time(document, "first_failure", soak.first_failure);
    add_time(document, "last_failure", soak.last_failure);
    document.number("longest_success_run", soak.longest_success_run);
    document.begin_array("absences");
    for (const Absence& absence : soak.absences) {
        document.begin_object();
        add_time(document, "went", absence.went.clock);
        add_time(document, "back", absence.back);
        document.text("back_as", absence.back_as);
        document.flag("closed_to_user", absence.closed_to_user);
        document.milliseconds("away_ms",
                              absence.back ? std::optional(absence.back->after - absence.went.after)
                                           : std::nullopt);
        document.end_object();
    }
    document.end_array();
    document.number("absences_left_out", soak.absences_left_out);
    document.number("times_held", soak.times_held);
    document.milliseconds("held_ms", soak.held_for);
    document.end_object();
}

// Opens a check's object with what every check has: why it was not measured.
void begin_check(Document& document, const char* name, const std::string& not_measured) {
    document.begin_object(name);
    document.text("not_measured", not_measured);
}

void add_break_taken(Document& document, bool accepted, int error) {
    document.flag("accepted", accepted);
    document.text("error", error == 0 ? "" : std::strerror(error));
}

void add_break(Document& document, const BreakCheck& fast) {
    begin_check(document, "break", fast.not_measured);
    add_break_taken(document, fast.accepted, fast.error);
    document.milliseconds("asked_ms", FAST_INIT_LOW);
    document.milliseconds("low_at_least_ms", fast.low_at_least);
    document.milliseconds("low_at_most_ms", fast.low_at_most);
    document.milliseconds("clear_took_ms", fast.clear_took);
    document.flag("simulated", break_simulated(fast));
    document.text("received_hex", hex_bytes(fast.received));
    document.flag("line_went_low", fast.line_went_low);
    add_number_or_null(document, "counted_breaks", fast.counted_breaks);
    document.end_object();
}

void add_zero_byte(Document& document, const ZeroByteCheck& zero) {
    begin_check(document, "zero_byte", zero.not_measured);
    add_rate_check(document, "rate", zero.rate);
    document.flag("written", zero.written);
    document.text("received_hex", hex_bytes(zero.received));
    document.milliseconds("echo_ms", zero.echo_time);
    document.milliseconds("wire_time_ms", zero.expected);
    document.flag("sooner_than_the_wire", zero.sooner_than_the_wire);
    document.end_object();
}

void add_slow_init(Document& document, const SlowInitCheck& slow) {
    begin_check(document, "slow_init", slow.not_measured);
    add_break_taken(document, slow.accepted, slow.error);
    document.milliseconds("bit_ms", SLOW_INIT_BIT);
    // Per edge after the first, where it can have fallen against its slot.
    document.begin_array("edge_ranges_ms");
    for (const EdgeRange& edge : slow.edges) {
        json_builder_begin_array(document.builder());
        for (LineSpan bound : {edge.earliest, edge.latest}) {
            json_builder_add_double_value(document.builder(),
                                          std::chrono::duration<double, std::milli>(bound).count());
        }
        json_builder_end_array(document.builder());
    }
    document.end_array();
    document.milliseconds("worst_possible_ms", slow.worst_possible);
    document.milliseconds("least_certain_ms", slow.least_certain);
    document.end_object();
}

void add_kline(Document& document, const KlineReadiness& readiness) {
    const KlineMeasurement& measured = readiness.measured;
    document.begin_object("kline");
    document.text("not_measured", readiness.not_measured);
    document.flag("interrupted", measured.interrupted);
    document.flag("pseudo_terminal", measured.pseudo_terminal);
    document.flag("port_gone", measured.port_gone);
    document.text("before_sending_hex", hex_bytes(measured.before_sending));
    document.flag("line_held_low", measured.line_held_low);
    add_break(document, measured.fast_break);
    add_zero_byte(document, measured.zero_byte);
    add_slow_init(document, measured.slow_init);
    document.begin_object("echo_latency");
    document.milliseconds("last_byte_ms", readiness.echo_last_byte);
    document.milliseconds("wire_time_ms", readiness.echo_wire_time);
    add_number_or_null(document, "latency_timer_ms", readiness.latency_timer_ms);
    document.end_object();
    document.begin_array("summary");
    for (const ReadinessLine& line : readiness.summary) {
        document.begin_object();
        document.text("answer", readiness_word(line.answer));
        document.texts(line, {{"item", &ReadinessLine::item},
                              {"reason", &ReadinessLine::reason},
                              {"fix", &ReadinessLine::fix}});
        document.end_object();
    }
    document.end_array();
    document.end_object();
}

// What every test says of its port: the path, the rate, the opening and
// whether it was tested.
void add_port(Document& document, const AdapterTest& test) {
    document.path(test.path);
    document.number("baud", test.baud_rate);
    add_number_or_null(document, "line_rate", test.line_rate);
    add_rate_check(document, "rate", test.rate);
    add_open(document, test.open);
    add_holders(document, test.holders);
    document.flag("tested", test.open.opens() && !test.held_elsewhere);
}

// Raw bytes as hex pairs, or null when there are none to tell.
void add_hex_or_null(Document& document, const char* name,
                     const std::optional<std::string>& bytes) {
    if (bytes) {
        document.text(name, hex_bytes(*bytes));
    } else {
        document.null(name);
    }
}

void add_step(Document& document, const EcuStep& step) {
    document.begin_object();
    document.text("what", step.what);
    document.text("sent", hex_bytes(step.sent));
    document.text("received", hex_bytes(step.received));
    document.flag("ok", step.ok);
    if (step.timing) {
        const StepTiming& timing = *step.timing;
        document.begin_object("timing");
        document.text("name", timing.name);
        document.milliseconds("at_least_ms", timing.at_least);
        document.milliseconds("at_most_ms", timing.at_most);
        document.milliseconds("window_from_ms", timing.window_from);
        // A window that ends nowhere (the idle before a wake-up) has no end.
        document.milliseconds("window_to_ms", timing.window_to > timing.window_from
                                                  ? std::optional(timing.window_to)
                                                  : std::nullopt);
        document.text("judged", readiness_word(timing.judged));
        document.end_object();
    } else {
        document.null("timing");
    }
    document.end_object();
}

void add_steps(Document& document, const std::vector<EcuStep>& steps) {
    document.begin_array("steps");
    for (const EcuStep& step : steps) {
        add_step(document, step);
    }
    document.end_array();
}

void add_attempt(Document& document, const EcuAttempt& attempt) {
    document.begin_object();
    document.text("protocol", protocol_word(attempt.protocol));
    document.number("address", attempt.address);
    if (attempt.diagnosis) {
        document.text("diagnosis", meaning_of(*attempt.diagnosis).word);
    } else {
        document.null("diagnosis");
    }
    document.text("detail", attempt.detail);
    add_hex_or_null(document, "key_bytes", attempt.key_bytes);
    add_number_or_null(document, "suggested_rate", attempt.suggested_rate);
    add_number_or_null(document, "ecu_rate", attempt.ecu_rate);
    document.flag("session_held", attempt.session_held);
    document.flag("ended", attempt.ended);
    add_steps(document, attempt.steps);
    document.end_object();
}

// The ECU check: what was asked, what answered and why not, the deciding
// attempt's steps, and every attempt (auto tries several).
void add_ecu(Document& document, const EcuCheck& ecu) {
    document.begin_object("ecu");
    document.text("asked",
                  ecu.request.protocol ? protocol_word(*ecu.request.protocol) : ECU_AUTO_WORD);
    add_number_or_null(document, "asked_address", ecu.request.address);
    document.text("not_checked", ecu.not_checked);
    const EcuAttempt* deciding = ecu.deciding();
    document.flag("answered", deciding != nullptr && ecu.answered());
    if (deciding == nullptr || !ecu.diagnosis()) {
        for (const char* name : {"protocol", "address", "key_bytes", "diagnosis"}) {
            document.null(name);
        }
        if (deciding != nullptr) {
            add_steps(document, deciding->steps);
        }
    } else {
        const EcuDiagnosisMeaning meaning = meaning_of(*ecu.diagnosis());
        if (ecu.answered()) {
            document.text("protocol", protocol_word(deciding->protocol));
        } else {
            document.null("protocol");
        }
        document.number("address", deciding->address);
        add_hex_or_null(document, "key_bytes", deciding->key_bytes);
        document.text("key_bytes_meaning", key_bytes_meaning(deciding->key_bytes.value_or("")));
        document.text("diagnosis", meaning.word);
        document.text("sentence", meaning.sentence);
        document.text("fix", meaning.fix);
        document.text("detail", deciding->detail);
        add_number_or_null(document, "suggested_rate", deciding->suggested_rate);
        add_number_or_null(document, "ecu_rate", deciding->ecu_rate);
        document.flag("session_held", deciding->session_held);
        document.flag("ended", deciding->ended);
        add_steps(document, deciding->steps);
    }
    document.flag("echo_seen", ecu.echo_seen);
    add_rate_check(document, "handshake_rate", ecu.rate);
    document.begin_array("attempts");
    for (const EcuAttempt& attempt : ecu.attempts) {
        add_attempt(document, attempt);
    }
    document.end_array();
    document.end_object();
}

} // namespace

std::string listing_json(const PortListing& listing, int exit_status) {
    Document document;
    add_header(document);
    document.begin_array("ports");
    for (const ListedPort& port : listing.ports) {
        document.begin_object();
        document.path(port.path);
        document.text("kind", port.kind);
        document.flag("opens", port.open.opens());
        add_open(document, port.open);
        add_holders(document, port.holders);
        if (const std::optional<UsbIdentity>& usb = port.identity.usb) {
            document.begin_object("usb");
            document.texts(*usb, {{"device", &UsbIdentity::device},
                                  {"vendor_id", &UsbIdentity::vendor_id},
                                  {"product_id", &UsbIdentity::product_id},
                                  {"manufacturer", &UsbIdentity::manufacturer},
                                  {"product", &UsbIdentity::product},
                                  {"serial", &UsbIdentity::serial},
                                  {"driver", &UsbIdentity::driver}});
            add_number_or_null(document, "latency_timer_ms", usb->latency_timer_ms);
            document.end_object();
        } else {
            document.null("usb");
        }
        document.end_object();
    }
    document.end_array();
    document.begin_array("unbound_converters");
    for (const UnboundConverter& converter : listing.unbound) {
        document.begin_object();
        document.texts(converter, {{"device", &UnboundConverter::device},
                                   {"interface", &UnboundConverter::interface},
                                   {"vendor_id", &UnboundConverter::vendor_id},
                                   {"product_id", &UnboundConverter::product_id},
                                   {"manufacturer", &UnboundConverter::manufacturer},
                                   {"product", &UnboundConverter::product},
                                   {"chip", &UnboundConverter::chip},
                                   {"expected_driver", &UnboundConverter::expected_driver},
                                   {"driver", &UnboundConverter::driver},
                                   {"cause", &UnboundConverter::cause},
                                   {"fix", &UnboundConverter::fix}});
        document.end_object();
    }
    document.end_array();
    document.number("exit_status", exit_status);
    return document.finish();
}

std::string version_json() {
    Document document;
    add_header(document);
    return document.finish();
}

std::string tests_json(const std::vector<AdapterTest>& tests, int exit_status,
                       const std::vector<EcuCheck>& ecu_checks) {
    Document document;
    add_header(document);
    document.begin_array("tests");
    for (std::size_t index = 0; index < tests.size(); ++index) {
        const AdapterTest& test = tests[index];
        document.begin_object();
        add_port(document, test);
        if (index < ecu_checks.size()) {
            add_ecu(document, ecu_checks[index]);
            document.number("exit_status", test.exit_status);
            document.end_object();
            continue;
        }
        document.text("verdict", meaning_of(overall_verdict(test)).word);
        document.text("setup_failure",
                      test.rate_refused() ? test.first_open_failure->reason : std::string());
        document.milliseconds("wire_time_ms", wire_time(test.line_rate.value_or(test.baud_rate)));
        document.begin_array("runs");
        for (const TestRun& run : test.kept) {
            add_run(document, run);
        }
        document.end_array();
        document.number("failed_runs_left_out", test.failures_left_out);
        const EchoTimes& times = test.times;
        document.begin_object("summary");
        document.number("tests", test.run_count);
        document.number("successes", test.outcomes[Verdict::success]);
        document.number("timeouts", test.outcomes[Verdict::timeout]);
        document.number("not_transmitted", test.outcomes[Verdict::not_transmitted]);
        document.number("port_gone", test.outcomes[Verdict::port_gone]);
        document.number("not_opened", test.outcomes[Verdict::not_opened]);
        document.text("first_open_failure",
                      test.first_open_failure
                          ? test.first_open_failure->reason + "; " + test.first_open_failure->fix
                          : std::string());
        document.milliseconds("min_ms", times.min());
        document.milliseconds("median_ms", times.quantile(0.5));
        document.milliseconds("p99_ms", times.quantile(0.99));
        document.milliseconds("max_ms", times.max());
        document.end_object();
        if (test.kline) {
            add_kline(document, *test.kline);
        }
        if (test.soak) {
            add_soak(document, *test.soak);
        }
        document.number("exit_status", test.exit_status);
        document.end_object();
    }
    document.end_array();
    document.number("exit_status", exit_status);
    return document.finish();
}
