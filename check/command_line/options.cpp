#include "check/command_line/options.h"

#include "base/owners.h"
#include "check/common/exit_status.h"
#include "check/ecu/ecu_meaning.h"
#include "check/line/kline_readiness.h"

#include <algorithm>
#include <glib.h>
#include <iterator>

namespace {

using OwnedContext = OwnedBy<GOptionContext, g_option_context_free>;
using OwnedError = OwnedBy<GError, g_error_free>;
using OwnedStrings = OwnedBy<gchar*, g_strfreev>;
using OwnedText = OwnedBy<gchar, g_free>;

// A whole decimal number in [low, high], nothing else around it.
std::optional<int> whole_number(const char* text, long low, long high) {
    gint64 value = 0;
    if (text == nullptr || !g_ascii_string_to_signed(text, 10, low, high, &value, nullptr)) {
        return std::nullopt;
    }
    return static_cast<int>(value);
}

// What the parse gathers: the options, and which were given at all.
struct Parse {
    CheckOptions options;
    bool baud_given = false;
    bool count_given = false;
    bool report_given = false;
    bool help = false;
    // --ecu given without "=PROTOCOL".
    bool ecu_without_value = false;
    std::optional<int> address;
};

// Takes an option's value (nullptr for a flag) into the parse; the usage
// error's line when the value is bad, empty otherwise.
using Take = std::string (*)(Parse& parse, const char* value);

// One option, declared once: its names, its help, and how it is taken.
struct CommandOption {
    const char* long_name;
    char short_name;
    const char* value_name; // nullptr: a flag without a value
    const char* description;
    Take take;
    // The value is a file name, taken as its bytes rather than as UTF-8.
    bool file_name = false;
    // The value may be left out, and is given only after "=" (value nullptr then).
    bool optional_value = false;
};

std::string take_baud(Parse& parse, const char* value) {
    const auto rate = whole_number(value, CHECK_RATE_MIN, CHECK_RATE_MAX);
    if (!rate) {
        return std::string("bad --baud \"") + value + "\": give a whole number of baud from " +
               std::to_string(CHECK_RATE_MIN) + " to " + std::to_string(CHECK_RATE_MAX) +
               ", such as 9600 or 10400";
    }
    parse.options.baud_rate = *rate;
    parse.baud_given = true;
    return {};
}

std::string take_count(Parse& parse, const char* value) {
    const auto times = whole_number(value, 1, CHECK_COUNT_LIMIT);
    if (!times) {
        return std::string("bad --count \"") + value +
               "\": give a whole number of tests from 1 to " + std::to_string(CHECK_COUNT_LIMIT);
    }
    parse.options.count = *times;
    parse.count_given = true;
    return {};
}

std::string take_duration(Parse& parse, const char* value) {
    parse.options.duration = parse_duration(value);
    if (!parse.options.duration) {
        return std::string("bad --duration \"") + value +
               "\": give a whole number with s, m or h, such as 30s, 10m or 2h, up to a week";
    }
    return {};
}

std::string take_ecu(Parse& parse, const char* value) {
    EcuRequest request;
    // Given on its own, --ecu comes with an empty value (parse_check_options).
    parse.ecu_without_value = value == nullptr || *value == '\0';
    if (!parse.ecu_without_value && std::string(value) != ECU_AUTO_WORD) {
        request.protocol = protocol_named(value);
        if (!request.protocol) {
            return std::string("bad --ecu \"") + value + "\": give one of " + ecu_protocol_words();
        }
    }
    parse.options.ecu = request;
    return {};
}

// An address as 0x33 (hex) or 51 (decimal), from 0 to 255.
std::string take_address(Parse& parse, const char* value) {
    const bool hex = g_ascii_strncasecmp(value, "0x", 2) == 0;
    const char* digits = value + (hex ? 2 : 0);
    guint64 address = 0;
    if (!g_ascii_isxdigit(digits[0]) ||
        !g_ascii_string_to_unsigned(digits, hex ? 16 : 10, 0, 0xff, &address, nullptr)) {
        return std::string("bad --address \"") + value +
               "\": give a whole number from 0 to 255, in decimal or as 0x hex, such as 0x33";
    }
    parse.address = static_cast<int>(address);
    return {};
}

std::string take_report(Parse& parse, const char* value) {
    parse.options.report = value;
    parse.report_given = true;
    return {};
}

// A flag's setter: the member of the options it sets.
template <bool CheckOptions::*flag> std::string take_flag(Parse& parse, const char*) {
    parse.options.*flag = true;
    return {};
}

std::string take_help(Parse& parse, const char*) {
    parse.help = true;
    return {};
}

const CommandOption COMMAND_OPTIONS[] = {
    {"baud", 'b', "N", "Test at N baud (default 9600; any rate the driver accepts, such as 10400)",
     take_baud},
    {"count", 'c', "N", "Run the test N times and summarise (default 1)", take_count},
    {"all", 'a', nullptr, "Test every port that opens and no other process has open",
     take_flag<&CheckOptions::all>},
    {"force", 'f', nullptr, "Test a port even when another process has it open",
     take_flag<&CheckOptions::force>},
    {"kline", 'k', nullptr,
     "Also check what K-line diagnostics need: the rate, a break for fast init, 360 baud, "
     "slow init timing and the echo latency (default rate 10400)",
     take_flag<&CheckOptions::kline>},
    {"ecu", 0, "PROTOCOL",
     "Wake the car's ECU instead of the echo test and say why it stays silent: "
     "--ecu=auto (the default: fast init, then 5 baud), iso9141, kwp-slow, kwp-fast or kw1281",
     take_ecu, false, true},
    {"address", 0, "N",
     "With --ecu, the ECU address to wake (0x33 for the OBD protocols, 0x01 for kw1281; "
     "decimal or 0x hex)",
     take_address},
    {"watch", 'w', nullptr, "Test each adapter as it is plugged in, until interrupted",
     take_flag<&CheckOptions::watch>},
    {"duration", 'd', "TIME",
     "Repeat the test for TIME (30s, 10m, 2h): a soak test for intermittent cables", take_duration},
    {"until-fail", 'u', nullptr, "Repeat the test until it fails (or --duration ends)",
     take_flag<&CheckOptions::until_fail>},
    {"report", 'r', "FILE",
     "Also write what a helper would ask for to FILE (with --json, FILE.json too)", take_report,
     true},
    {"json", 'j', nullptr, "Print one JSON document", take_flag<&CheckOptions::json>},
    {"version", 'V', nullptr, "Print the version", take_flag<&CheckOptions::version>},
    {"help", 'h', nullptr, "Show this help", take_help},
};

// Whether an argument is an option whose value is the next argument: a long
// or short name of an option that takes a value, without "=".
bool takes_value(const std::string& argument) {
    for (const CommandOption& option : COMMAND_OPTIONS) {
        if (option.value_name != nullptr && !option.optional_value &&
            (argument == std::string("--") + option.long_name ||
             (option.short_name != 0 && argument == std::string("-") + option.short_name))) {
            return true;
        }
    }
    return false;
}

// Whether a long name is of an option whose value may be left out.
bool optional_value_named(const std::string& name) {
    return std::any_of(std::begin(COMMAND_OPTIONS), std::end(COMMAND_OPTIONS),
                       [&](const CommandOption& option) {
                           return option.optional_value && name == option.long_name;
                       });
}

// Our own errors, told apart from the parser's (an unknown option), which get
// a pointer to --help.
GQuark value_error_quark() {
    return g_quark_from_static_string("lantoric-check-option-value");
}

// GOption's callback for every option of the table: finds the option by the
// name it was given as ("--baud" or "-b") and takes its value.
gboolean take_option(const gchar* name, const gchar* value, gpointer data, GError** error) {
    for (const CommandOption& option : COMMAND_OPTIONS) {
        const bool named = (name[1] == '-' && std::string(name + 2) == option.long_name) ||
                           (name[1] == option.short_name && name[2] == '\0');
        if (!named) {
            continue;
        }
        const std::string problem = option.take(*static_cast<Parse*>(data), value);
        if (!problem.empty()) {
            g_set_error_literal(error, value_error_quark(), 0, problem.c_str());
            return FALSE;
        }
        return TRUE;
    }
    return FALSE;
}

// What does not go with --ecu, and the address it takes; empty when sound.
std::string ecu_combination_error(const Parse& parse) {
    const CheckOptions& options = parse.options;
    if (!options.ecu) {
        return parse.address ? "--address goes with --ecu, such as --ecu=kw1281 --address=0x01"
                             : "";
    }
    const char* other = options.kline        ? "--kline"
                        : parse.count_given  ? "--count"
                        : options.duration   ? "--duration"
                        : options.until_fail ? "--until-fail"
                        : options.watch      ? "--watch"
                        : parse.baud_given   ? "--baud"
                                             : nullptr;
    if (other != nullptr) {
        return std::string("--ecu wakes the ECU once, at the rate its protocol runs: not "
                           "together with ") +
               other;
    }
    if (parse.ecu_without_value && !options.ports.empty() &&
        (options.ports.front() == ECU_AUTO_WORD || protocol_named(options.ports.front()))) {
        return "--ecu takes its protocol after an equals sign, such as --ecu=" +
               options.ports.front();
    }
    const EcuProtocol protocol = options.ecu->protocol.value_or(EcuProtocol::kwp_fast);
    if (parse.address && *parse.address > highest_address(protocol)) {
        return "--address " + std::to_string(*parse.address) + " is too high for " +
               (options.ecu->protocol ? protocol_word(protocol) : ECU_AUTO_WORD) +
               ": its addresses go from 0 to " + std::to_string(highest_address(protocol));
    }
    if (!parse.help && options.ports.empty() && !options.all) {
        return "--ecu wakes the ECU behind a port: give the port or --all";
    }
    return {};
}

// The options that do not go together, and what a soak needs; empty when the
// combination is sound.
std::string combination_error(const Parse& parse) {
    if (std::string ecu = ecu_combination_error(parse); !ecu.empty()) {
        return ecu;
    }
    const CheckOptions& options = parse.options;
    const bool soak = options.duration || options.until_fail;
    if (options.watch && soak) {
        return "--watch tests each adapter as it comes: not together with --duration or "
               "--until-fail";
    }
    if (parse.count_given && soak) {
        return "--duration and --until-fail repeat the test for a time or until it fails: not "
               "together with --count";
    }
    if (parse.report_given && options.report.empty()) {
        return "--report needs a file name, such as --report adapter.txt";
    }
    if (options.watch && !options.ports.empty()) {
        return "--watch waits for adapters to be plugged in: give no ports with it";
    }
    if (parse.help) {
        return {};
    }
    if (soak && options.ports.empty() && !options.all) {
        return "--duration and --until-fail repeat the test of a port: give the port";
    }
    if (options.all && !options.ports.empty()) {
        return "--all tests every port that opens: give either --all or ports, not both";
    }
    return {};
}

// The exit statuses and what they mean, as wide as the summary's lines; a
// status's number stays on the line of its meaning's first word.
std::string exit_status_help() {
    constexpr std::size_t WIDTH = 86;
    std::string text = "Exit status:";
    std::size_t line_start = 0;
    // Adds each word of words, the first glued to first.
    const auto add = [&](std::string first, const std::string& words) {
        for (std::size_t at = 0; at <= words.size();) {
            const std::size_t space = std::min(words.find(' ', at), words.size());
            const std::string word = first + words.substr(at, space - at);
            const bool fits = text.size() - line_start + 1 + word.size() <= WIDTH;
            text += fits ? " " : "\n";
            line_start = fits ? line_start : text.size();
            text += word;
            first.clear();
            at = space + 1;
        }
    };
    for (const ExitStatusMeaning& exit : EXIT_STATUS_MEANINGS) {
        const bool last = &exit == &EXIT_STATUS_MEANINGS[std::size(EXIT_STATUS_MEANINGS) - 1];
        add(std::to_string(exit.status) + " ", exit.meaning + std::string(last ? ";" : ","));
    }
    add("", "the worst of several ports (1 to 4, the higher the worse, before 6, 6 before 5).");
    return text + "\n";
}

OwnedContext option_context(Parse& parse, gchar*** ports) {
    OwnedContext context(g_option_context_new(nullptr));
    g_option_context_set_summary(
        context.get(),
        "Without a port: lists every /dev/ttyUSB* and /dev/ttyACM* port, whether it opens and\n"
        "why not, who holds it and its USB identity, and USB serial converters without a port.\n"
        "With a port: sends \"This is a test!\" and checks the echo, as the Lantoric window does.\n"
        "With --ecu: wakes the car's ECU through the adapter, and says why when it stays silent.");
    g_option_context_set_description(context.get(), exit_status_help().c_str());
    std::vector<GOptionEntry> entries;
    for (const CommandOption& option : COMMAND_OPTIONS) {
        const int flags = (option.value_name == nullptr ? G_OPTION_FLAG_NO_ARG : 0) |
                          (option.file_name ? G_OPTION_FLAG_FILENAME : 0) |
                          (option.optional_value ? G_OPTION_FLAG_OPTIONAL_ARG : 0);
        entries.push_back({option.long_name, option.short_name, flags, G_OPTION_ARG_CALLBACK,
                           reinterpret_cast<gpointer>(take_option), option.description,
                           option.value_name});
    }
    entries.push_back(
        {G_OPTION_REMAINING, 0, 0, G_OPTION_ARG_FILENAME_ARRAY, ports, nullptr, "[PORT...]"});
    entries.push_back({nullptr, 0, 0, G_OPTION_ARG_NONE, nullptr, nullptr, nullptr});
    GOptionGroup* group = g_option_group_new("main", "", "", &parse, nullptr);
    g_option_group_add_entries(group, entries.data());
    g_option_context_set_main_group(context.get(), group);
    // The help is printed by the caller, which can tell when the write fails.
    g_option_context_set_help_enabled(context.get(), FALSE);
    return context;
}

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
    Parse parse;
    gchar** ports = nullptr;
    OwnedContext context = option_context(parse, &ports);
    // The parser removes (and frees) what it took from its own copy of the
    // arguments; argv stays as it was.
    gchar** arguments = g_new0(gchar*, argc + 1);
    bool options_end = false;
    for (int i = 0; i < argc; ++i) {
        const std::string argument = argv[i];
        // GOption takes the word after an option whose value may be left out
        // as its value: "--ecu /dev/ttyUSB0" would lose the port. Given on
        // its own, the option gets an empty value instead.
        const bool bare = !options_end && i > 0 && !takes_value(argv[i - 1]) &&
                          argument.rfind("--", 0) == 0 && optional_value_named(argument.substr(2));
        options_end = options_end || argument == "--";
        arguments[i] = g_strdup((argument + (bare ? "=" : "")).c_str());
    }
    GError* raw_error = nullptr;
    const gboolean parsed = g_option_context_parse_strv(context.get(), &arguments, &raw_error);
    OwnedStrings rest(arguments);
    OwnedError parse_error(raw_error);
    OwnedStrings ports_owner(ports);
    if (!parsed) {
        error = parse_error->message;
        if (parse_error->domain != value_error_quark()) {
            error += "; see lantoric-check --help";
        }
        return std::nullopt;
    }
    CheckOptions& options = parse.options;
    for (gchar** port = ports; port != nullptr && *port != nullptr; ++port) {
        options.ports.emplace_back(*port);
    }
    if (error = combination_error(parse); !error.empty()) {
        return std::nullopt;
    }
    if ((options.kline || options.ecu) && !parse.baud_given) {
        options.baud_rate = KLINE_RATE;
    }
    if (options.ecu) {
        options.ecu->address = parse.address;
    }
    if (parse.help) {
        // GLib's own words carry typographic punctuation (the ellipsis of
        // "[OPTION...]"), whose UTF-8 bytes a terminal of another character
        // set garbles: the help is ASCII, in every locale.
        OwnedText text(g_option_context_get_help(context.get(), TRUE, nullptr));
        OwnedText ascii(g_str_to_ascii(text.get(), "C"));
        options.help = ascii.get();
    }
    return options;
}
