#include "check/options.h"

#include "check/kline_readiness.h"
#include "base/owners.h"

#include <glib.h>

namespace {

// A whole decimal number in [low, high], nothing else around it.
std::optional<int> whole_number(const char* text, long low, long high) {
    gint64 value = 0;
    if (text == nullptr ||
        !g_ascii_string_to_signed(text, 10, low, high, &value, nullptr)) {
        return std::nullopt;
    }
    return static_cast<int>(value);
}

using OwnedContext = OwnedBy<GOptionContext, g_option_context_free>;
using OwnedError = OwnedBy<GError, g_error_free>;
using OwnedStrings = OwnedBy<gchar*, g_strfreev>;
using OwnedText = OwnedBy<gchar, g_free>;

} // namespace

std::optional<std::chrono::seconds> parse_duration(const std::string& text) {
    std::size_t digits = 0;
    while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') {
        ++digits;
    }
    const std::string unit = text.substr(digits);
    long long scale = unit.empty() || unit == "s" ? 1 : unit == "m" ? 60 : unit == "h" ? 3600 : 0;
    auto number = whole_number(text.substr(0, digits).c_str(), 1, CHECK_DURATION_LIMIT.count());
    if (scale == 0 || !number || *number * scale > CHECK_DURATION_LIMIT.count()) {
        return std::nullopt;
    }
    return std::chrono::seconds(*number * scale);
}

std::optional<CheckOptions> parse_check_options(int argc, char** argv, std::string& error) {
    gchar* baud_text = nullptr;
    gchar* count_text = nullptr;
    gboolean all = FALSE;
    gboolean json = FALSE;
    gboolean version = FALSE;
    gboolean force = FALSE;
    gboolean kline = FALSE;
    gboolean watch = FALSE;
    gboolean until_fail = FALSE;
    gchar* duration_text = nullptr;
    gchar* report_text = nullptr;
    gboolean help = FALSE;
    gchar** ports = nullptr;
    GOptionEntry entries[] = {
        {"baud", 'b', 0, G_OPTION_ARG_STRING, &baud_text,
         "Test at N baud (default 9600; any rate the driver accepts, such as 10400)", "N"},
        {"count", 'c', 0, G_OPTION_ARG_STRING, &count_text,
         "Run the test N times and summarise (default 1)", "N"},
        {"all", 'a', 0, G_OPTION_ARG_NONE, &all,
         "Test every port that opens and no other process has open", nullptr},
        {"force", 'f', 0, G_OPTION_ARG_NONE, &force,
         "Test a port even when another process has it open", nullptr},
        {"kline", 'k', 0, G_OPTION_ARG_NONE, &kline,
         "Also check what K-line diagnostics need: the rate, a break for fast init, 360 baud, "
         "slow init timing and the echo latency (default rate 10400)",
         nullptr},
        {"watch", 'w', 0, G_OPTION_ARG_NONE, &watch,
         "Test each adapter as it is plugged in, until interrupted", nullptr},
        {"duration", 'd', 0, G_OPTION_ARG_STRING, &duration_text,
         "Repeat the test for TIME (30s, 10m, 2h): a soak test for intermittent cables", "TIME"},
        {"until-fail", 'u', 0, G_OPTION_ARG_NONE, &until_fail,
         "Repeat the test until it fails (or --duration ends)", nullptr},
        {"report", 'r', 0, G_OPTION_ARG_FILENAME, &report_text,
         "Also write what a helper would ask for to FILE (with --json, FILE.json too)", "FILE"},
        {"json", 'j', 0, G_OPTION_ARG_NONE, &json, "Print one JSON document", nullptr},
        {"version", 'V', 0, G_OPTION_ARG_NONE, &version, "Print the version", nullptr},
        {"help", 'h', 0, G_OPTION_ARG_NONE, &help, "Show this help", nullptr},
        {G_OPTION_REMAINING, 0, 0, G_OPTION_ARG_FILENAME_ARRAY, &ports, nullptr, "[PORT...]"},
        {nullptr, 0, 0, G_OPTION_ARG_NONE, nullptr, nullptr, nullptr},
    };
    OwnedContext context(g_option_context_new(nullptr));
    g_option_context_set_summary(
        context.get(),
        "Without a port: lists every /dev/ttyUSB* and /dev/ttyACM* port, whether it opens and\n"
        "why not, who holds it and its USB identity, and USB serial converters without a port.\n"
        "With a port: sends \"This is a test!\" and checks the echo, as the Lantoric window does.");
    g_option_context_set_description(
        context.get(),
        "Exit status: 0 success or a listing, 1 timeout or wrong echo, 2 not able to transmit,\n"
        "3 not able to open, the port went away, held by another process or no port to test,\n"
        "4 the echo came back but the port cannot do what was asked (the rate, a K-line check),\n"
        "64 usage error, 74 the output or the report could not be written; the highest of\n"
        "several ports.\n");
    g_option_context_add_main_entries(context.get(), entries, nullptr);
    // The help is printed by the caller, which can tell when the write fails.
    g_option_context_set_help_enabled(context.get(), FALSE);
    CheckOptions options;
    GError* raw_error = nullptr;
    // The parser removes (and frees) what it took from its own copy of the
    // arguments; argv stays as it was.
    gchar** arguments = g_new0(gchar*, argc + 1);
    for (int i = 0; i < argc; ++i) {
        arguments[i] = g_strdup(argv[i]);
    }
    gboolean parsed = g_option_context_parse_strv(context.get(), &arguments, &raw_error);
    OwnedStrings rest(arguments);
    OwnedError parse_error(raw_error);
    OwnedText baud_owner(baud_text);
    OwnedText count_owner(count_text);
    OwnedText duration_owner(duration_text);
    OwnedText report_owner(report_text);
    OwnedStrings ports_owner(ports);
    if (!parsed) {
        error = std::string(parse_error->message) + "; see lantoric-check --help";
        return std::nullopt;
    }
    if (baud_text != nullptr) {
        auto rate = whole_number(baud_text, CHECK_RATE_MIN, CHECK_RATE_MAX);
        if (!rate) {
            error = std::string("bad --baud \"") + baud_text +
                    "\": give a whole number of baud from " + std::to_string(CHECK_RATE_MIN) +
                    " to " + std::to_string(CHECK_RATE_MAX) + ", such as 9600 or 10400";
            return std::nullopt;
        }
        options.baud_rate = *rate;
    }
    if (count_text != nullptr) {
        auto times = whole_number(count_text, 1, CHECK_COUNT_LIMIT);
        if (!times) {
            error = std::string("bad --count \"") + count_text +
                    "\": give a whole number of tests from 1 to " +
                    std::to_string(CHECK_COUNT_LIMIT);
            return std::nullopt;
        }
        options.count = *times;
    }
    for (gchar** port = ports; port != nullptr && *port != nullptr; ++port) {
        options.ports.emplace_back(*port);
    }
    options.all = all;
    options.json = json;
    options.version = version;
    options.force = force;
    options.kline = kline;
    options.watch = watch;
    options.until_fail = until_fail;
    if (report_text != nullptr) {
        options.report = report_text;
    }
    if (duration_text != nullptr) {
        options.duration = parse_duration(duration_text);
        if (!options.duration) {
            error = std::string("bad --duration \"") + duration_text +
                    "\": give a whole number with s, m or h, such as 30s, 10m or 2h, up to a week";
            return std::nullopt;
        }
    }
    if (watch && (options.duration || until_fail)) {
        error = "--watch tests each adapter as it comes: not together with --duration or "
                "--until-fail";
        return std::nullopt;
    }
    if (count_text != nullptr && (options.duration || until_fail)) {
        error = "--duration and --until-fail repeat the test for a time or until it fails: not "
                "together with --count";
        return std::nullopt;
    }
    if (report_text != nullptr && options.report.empty()) {
        error = "--report needs a file name, such as --report adapter.txt";
        return std::nullopt;
    }
    if (watch && !options.ports.empty()) {
        error = "--watch waits for adapters to be plugged in: give no ports with it";
        return std::nullopt;
    }
    if (kline && baud_text == nullptr) {
        options.baud_rate = KLINE_RATE;
    }
    if (help) {
        OwnedText text(g_option_context_get_help(context.get(), TRUE, nullptr));
        options.help = text.get();
        return options;
    }
    if ((options.duration || options.until_fail) && options.ports.empty() && !options.all) {
        error = "--duration and --until-fail repeat the test of a port: give the port";
        return std::nullopt;
    }
    if (options.all && !options.ports.empty()) {
        error = "--all tests every port that opens: give either --all or ports, not both";
        return std::nullopt;
    }
    return options;
}
