// lantoric-check run as a user runs it, against simulated adapters on real
// pseudo-terminals linked in a temporary folder: what it prints, what it
// leaves on the line and the exit status scripts rely on.
#include "base/owners.h"
#include "check/common/exit_status.h"
#include "serial/line_rate.h"
#include "tests/support/processes.h"
#include "tests/support/pty_pair.h"
#include "tests/support/simulated_adapter.h"
#include "tests/support/temp_folder.h"
#include "tests/support/wait_until.h"

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <json-glib/json-glib.h>
#include <memory>
#include <numeric>
#include <sstream>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

ToolRun check(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), LANTORIC_CHECK_PATH);
    return run_tool(arguments);
}

// The document lantoric-check printed, parsed by json-glib's own parser.
class Json {
  public:
    explicit Json(const std::string& text) : parser_(json_parser_new()) {
        GError* error = nullptr;
        if (!json_parser_load_from_data(parser_.get(), text.c_str(),
                                        static_cast<gssize>(text.size()), &error)) {
            ADD_FAILURE() << "not JSON: " << error->message << "\n" << text;
            g_error_free(error);
        }
    }
    // The value at a JSONPath expression such as "$.tests[0].runs[0].verdict".
    std::string at(const char* path) const {
        JsonNode* root = json_parser_get_root(parser_.get());
        if (root == nullptr) {
            return "(no document)";
        }
        JsonNode* found = json_path_query(path, root, nullptr);
        JsonArray* matches = found != nullptr ? json_node_get_array(found) : nullptr;
        std::string value = "(none)";
        if (matches != nullptr && json_array_get_length(matches) == 1) {
            JsonNode* node = json_array_get_element(matches, 0);
            if (JSON_NODE_HOLDS_VALUE(node)) {
                GValue plain = G_VALUE_INIT;
                json_node_get_value(node, &plain);
                GValue text = G_VALUE_INIT;
                g_value_init(&text, G_TYPE_STRING);
                if (g_value_transform(&plain, &text)) {
                    value = g_value_get_string(&text);
                }
                g_value_unset(&text);
                g_value_unset(&plain);
            } else if (JSON_NODE_HOLDS_ARRAY(node)) {
                value =
                    "array of " + std::to_string(json_array_get_length(json_node_get_array(node)));
            } else {
                value = "null";
            }
        }
        if (found != nullptr) {
            json_node_unref(found);
        }
        return value;
    }

  private:
    OwnedBy<JsonParser, g_object_unref> parser_;
};

class CheckProgram : public testing::Test {
  protected:
    TempFolder folder;
};

// Each verdict of the window, with the exit status and the fact a user needs.
TEST_F(CheckProgram, EachVerdictHasItsExitStatusAndItsExplanation) {
    struct Row {
        const char* name;
        std::vector<std::string> simulator;
        int status;
        std::vector<const char*> lines;
        std::vector<std::string> options = {};
    };
    const Row rows[] = {
        {"echo", {}, 0, {"verdict: success", "timing: write to first byte"}},
        // 200 ms a byte: the silence between them must not use the budget up.
        {"at 50 baud", {"--pace=50"}, 0, {"verdict: success"}, {"--baud=50"}},
        // Unplugged mid-echo: said at once, not blamed on the bus.
        {"vanishes", {"--vanish-after-bytes=5"}, 3, {"verdict: the port went away"}},
        // Soak tests on injected faults: counts, when, and a port that comes back.
        {"soak: wrong bytes and silences",
         {"--wrong-every=5", "--silence-every=7:300"},
         1,
         {"soak: ran 0:00:03 of 0:00:03", "first failure, test 5 of ",
          "timeout: ", "longest run of successes: 4\n"},
         {"--duration=3s"}},
        {"soak until the first failure",
         {"--wrong-every=4"},
         1,
         {"tests: 4, successes: 3, timeout: 1\n", "until the first failure"},
         {"--until-fail"}},
        // Counted as gone or as not opened, as the unplug falls in a test or
        // between two; the absence is said either way.
        {"soak: unplugged and back",
         {"--vanish-after-ms=700", "--return-after-ms=700"},
         3,
         {"the port went away at ", "and came back at "},
         {"--duration=3s"}},
        {"silent", {"--silent"}, 1, {"verdict: timeout", "received: \"\"", "nothing came back"}},
        {"wrong byte",
         {"--change=4"},
         1,
         {"verdict: timeout", "received: \"This!is a test!\"",
          "54 68 69 73 [21] 69 73 20 61 20 74 65 73 74 21",
          "first difference: byte 4, sent 20, received 21"}},
        {"short write",
         {"--short-write"},
         2,
         {"verdict: not able to transmit", "sent: 5 of 15 bytes went out"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        SimulatedAdapter adapter(unique_device_link(folder.path()), row.simulator);
        ASSERT_TRUE(adapter.ready());
        std::vector<std::string> arguments = row.options;
        arguments.push_back(adapter.link());
        ToolRun run = check(arguments);
        EXPECT_EQ(run.status, row.status) << run.output << run.errors;
        for (const char* line : row.lines) {
            EXPECT_NE(run.output.find(line), std::string::npos) << line << "\n" << run.output;
        }
        // A summary's outcomes add up to its tests: waits for an absent port
        // are no tests.
        if (const std::size_t at = run.output.find("  tests: "); at != std::string::npos) {
            const std::string line = run.output.substr(at, run.output.find('\n', at) - at);
            std::vector<int> counts;
            for (std::size_t colon = line.find(": "); colon != std::string::npos;
                 colon = line.find(": ", colon + 1)) {
                counts.push_back(std::atoi(line.c_str() + colon + 2));
            }
            EXPECT_EQ(std::accumulate(counts.begin() + 1, counts.end(), 0), counts.front()) << line;
        }
    }
}

TEST_F(CheckProgram, RepeatedTestsAreSummarisedAndTheJsonParsesBack) {
    SimulatedAdapter adapter(unique_device_link(folder.path()));
    ASSERT_TRUE(adapter.ready());
    ToolRun text = check({"--count", "5", adapter.link()});
    EXPECT_EQ(text.status, 0);
    EXPECT_NE(text.output.find("tests: 5, successes: 5"), std::string::npos) << text.output;
    EXPECT_NE(text.output.find("median"), std::string::npos) << text.output;

    // Only the first run and failed ones keep their bytes, so memory stays
    // flat however many runs there are.
    ToolRun json = check({"--json", "--count=3", adapter.link()});
    EXPECT_EQ(json.status, 0) << json.errors;
    Json document(json.output);
    EXPECT_EQ(document.at("$.version"), "1.01");
    EXPECT_EQ(document.at("$.exit_status"), "0");
    EXPECT_EQ(document.at("$.tests[0].path"), adapter.link());
    EXPECT_EQ(document.at("$.tests[0].runs"), "array of 1");
    EXPECT_EQ(document.at("$.tests[0].runs[0].verdict"), "success");
    EXPECT_EQ(document.at("$.tests[0].runs[0].received_text"), "This is a test!");
    EXPECT_EQ(document.at("$.tests[0].summary.tests"), "3");
    EXPECT_EQ(document.at("$.tests[0].summary.successes"), "3");
    EXPECT_NE(document.at("$.tests[0].summary.median_ms"), "null");
}

// The worst port decides the status; a missing one is "not able to open".
TEST_F(CheckProgram, SeveralPortsExitWithTheHighestStatus) {
    SimulatedAdapter good(unique_device_link(folder.path()));
    SimulatedAdapter silent(unique_device_link(folder.path()), {"--silent"});
    ToolRun run = check({"--json", good.link(), silent.link()});
    EXPECT_EQ(run.status, 1);
    Json document(run.output);
    EXPECT_EQ(document.at("$.tests[0].exit_status"), "0");
    EXPECT_EQ(document.at("$.tests[1].exit_status"), "1");
    EXPECT_EQ(check({silent.link(), good.link()}).status, 1) << "the last port's status won";
    EXPECT_EQ(check({good.link(), folder.path_of("absent")}).status, 3);
    // A proven failure outranks "not proven" (a pseudo-terminal's K-line checks).
    EXPECT_EQ(check({"--kline", silent.link(), good.link()}).status, 1);
}

TEST_F(CheckProgram, ANonStandardRateReachesTheLine) {
    SimulatedAdapter adapter(unique_device_link(folder.path()));
    ASSERT_TRUE(adapter.ready());
    ToolRun run = check({"--baud=10400", "--json", adapter.link()});
    EXPECT_EQ(run.status, 0) << run.errors;
    EXPECT_EQ(Json(run.output).at("$.tests[0].line_rate"), "10400");
}

// Every bad input ends at once with one line on standard error.
TEST_F(CheckProgram, BadInputGetsOneLineAndItsStatus) {
    ASSERT_EQ(mkfifo(folder.path_of("fifo").c_str(), 0600), 0);
    ASSERT_EQ(mkfifo(folder.path_of("r.json").c_str(), 0600), 0);
    folder.add_folder("folder");
    // Put by another user in a sticky folder anyone may write in.
    folder.add_folder("shared");
    folder.add_file("shared/planted");
    const std::string planted = folder.path_of("shared/planted");
    folder.add_link("link", planted);
    ASSERT_EQ(chmod(folder.path_of("shared").c_str(), 01777) | chown(planted.c_str(), 65534, 0), 0);
    PtyPair pty;
    struct Row {
        std::vector<std::string> arguments;
        int status;
        const char* says;
    };
    const Row rows[] = {
        {{"--bogus"}, 64, "--bogus"},
        {{"--baud=0"}, 64, "bad --baud"},
        {{"--baud", "-9600"}, 64, "bad --baud"},
        {{"--baud=fast"}, 64, "bad --baud"},
        {{"--baud=99999999999999999999"}, 64, "bad --baud"},
        {{"--count=0"}, 64, "bad --count"},
        {{"--duration=5x", "/dev/null"}, 64, "bad --duration"},
        {{"--duration=8d", "/dev/null"}, 64, "bad --duration"},
        {{"--until-fail"}, 64, "give the port"},
        {{"--watch", "/dev/null"}, 64, "--watch waits"},
        {{"--watch", "--until-fail"}, 64, "--watch tests each adapter"},
        {{"--duration=1h", "--count=2", "/dev/null"}, 64, "not together with --count"},
        {{"--report=", "/dev/null"}, 64, "--report needs a file name"},
        // Refused before a run that would end only by a signal.
        {{"--watch", "--report=" + folder.path_of("fifo")}, 74, "it is a FIFO, not a regular"},
        {{"--json", "--report=" + folder.path_of("r"), "/dev/null"}, 74, "r.json: it is a FIFO"},
        {{"--report=" + pty.slave_path(), "/dev/null"}, 74, "it is a character device"},
        {{"--report=" + folder.path_of("link"), "/dev/null"}, 74, "it is a symbolic link"},
        {{"--report=" + planted, "/dev/null"}, 74, "it belongs to another user"},
        {{"--all", "/dev/null"}, 64, "--all"},
        {{"--ecu=obd", "/dev/null"}, 64, "bad --ecu \"obd\": give one of auto, iso9141, kwp-slow"},
        {{"--ecu", "kwp-fast", "/dev/null"}, 64, "after an equals sign, such as --ecu=kwp-fast"},
        {{"--ecu", "--kline", "/dev/null"}, 64, "not together with --kline"},
        {{"--ecu", "--baud=9600", "/dev/null"}, 64, "not together with --baud"},
        {{"--ecu", "--duration=1m", "/dev/null"}, 64, "not together with --duration"},
        {{"--ecu=kw1281", "--address=0x80", "/dev/null"}, 64, "too high for kw1281"},
        {{"--ecu", "--address=0x1g", "/dev/null"}, 64, "bad --address \"0x1g\""},
        {{"--ecu", "--address=-1", "/dev/null"}, 64, "bad --address"},
        {{"--address=0x33", "/dev/null"}, 64, "--address goes with --ecu"},
        {{"--ecu"}, 64, "give the port or --all"},
        // Taken: kw1281's highest address, and a port after --ecu as a port.
        {{"--ecu=kw1281", "--address=0x7F", folder.path_of("absent")}, 3, "no such file"},
        {{"--ecu", folder.path_of("absent")}, 3, "no such file"},
        {{folder.path_of("absent")}, 3, "no such file"},
        {{folder.path_of("folder")}, 3, "is a folder"},
        {{"/dev/tty"}, 3, "is the terminal lantoric-check runs in"},
        {{folder.path() + "/new\nline"}, 3, "new\\x0aline"},
        // DEL, and a terminal's one-byte CSI (here: erase the line).
        {{folder.path() + "/del\x7f\x9bK"}, 3, "del\\x7f\\x9bK"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.arguments.front());
        ToolRun run = check(row.arguments);
        EXPECT_FALSE(run.timed_out);
        EXPECT_EQ(run.status, row.status) << run.output << run.errors;
        EXPECT_NE(run.errors.find(row.says), std::string::npos) << run.errors;
        EXPECT_EQ(std::count(run.errors.begin(), run.errors.end(), '\n'), 1) << run.errors;
    }
    // Every program has /dev/null open; none of them holds a serial line.
    EXPECT_EQ(check({"/dev/null"}).output.find("held by"), std::string::npos);
    ToolRun version = check({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.output, "lantoric-check 1.01\n");
    EXPECT_EQ(Json(check({"--json", "--version"}).output).at("$.version"), "1.01");
    const std::string help =
        run_tool({"/usr/bin/env", "LC_ALL=C", LANTORIC_CHECK_PATH, "--help"}).output;
    EXPECT_TRUE(std::all_of(help.begin(), help.end(), [](unsigned char c) { return c < 0x80; }));
    // Each exit status on the line of its meaning, within the summary's width.
    for (const ExitStatusMeaning& exit : EXIT_STATUS_MEANINGS) {
        const std::string meaning = exit.meaning;
        const std::string start =
            std::to_string(exit.status) + " " + meaning.substr(0, meaning.find(' '));
        EXPECT_NE(help.find(start), std::string::npos) << start << "\n" << help;
    }
    std::istringstream lines(help.substr(help.find("Exit status:")));
    for (std::string line; std::getline(lines, line);) {
        EXPECT_LE(line.size(), 86u) << line;
    }
}

// A folder that cannot take the report is refused before the test, on a full
// filesystem and on one without inodes left, and nothing is left there.
TEST_F(CheckProgram, AReportFolderWithoutRoomIsRefusedBeforeTheTest) {
    folder.add_folder("small");
    for (const char* fill :
         {"head -c 1M /dev/zero >\"$1/full\"", "i=0; while touch \"$1/$i\"; do i=$((i+1)); done"}) {
        ToolRun run = run_tool({"/usr/bin/unshare", "--mount", "/bin/sh", "-c",
                                "mount -t tmpfs -o size=64k,nr_inodes=8 tmpfs \"$1\"; { " +
                                    std::string(fill) +
                                    "; } 2>/dev/null; \"$0\" --report \"$1/r\" /dev/null; s=$?; "
                                    "rm \"$1\"/[0-9f]*; ls -A \"$1\"; exit $s",
                                LANTORIC_CHECK_PATH, folder.path_of("small")});
        EXPECT_EQ(run.status, 74) << fill;
        EXPECT_EQ(run.errors, "lantoric-check: cannot write the report " + folder.path() +
                                  "/small/r: no file can be made and written in " + folder.path() +
                                  "/small/: No space left on device\n");
        EXPECT_EQ(run.output, "") << "left behind";
    }
}

// A report that cannot be written is no success: one line and status 74.
TEST_F(CheckProgram, OutputThatCannotBeWrittenFails) {
    SimulatedAdapter adapter(unique_device_link(folder.path()));
    ASSERT_TRUE(adapter.ready());
    for (const std::vector<std::string>& arguments : std::vector<std::vector<std::string>>{
             {}, {adapter.link()}, {"--json", adapter.link()}, {"--help"}, {"--version"}}) {
        std::vector<std::string> full = {"/bin/sh", "-c", "exec \"$0\" \"$@\" >/dev/full",
                                         LANTORIC_CHECK_PATH};
        full.insert(full.end(), arguments.begin(), arguments.end());
        ToolRun run = run_tool(full);
        EXPECT_EQ(run.status, 74) << arguments.size() << run.errors;
        EXPECT_NE(run.errors.find("cannot write the report"), std::string::npos) << run.errors;
    }
    // A reader that has gone ends at once a run meant to last an hour, or for ever.
    for (const std::string& mode : {"--duration=1h " + adapter.link(), std::string("--watch")}) {
        ToolRun run =
            run_tool({"/bin/bash", "-c", "set -o pipefail; timeout -s KILL 20 \"$0\" $1 | true",
                      LANTORIC_CHECK_PATH, mode});
        EXPECT_EQ(run.status, 74) << mode << run.errors;
    }
    // The report would cut off what standard output wrote to the same file.
    ToolRun same = run_tool({"/bin/sh", "-c", "exec \"$0\" --report \"$1\" >>\"$1\"",
                             LANTORIC_CHECK_PATH, folder.path_of("both.txt")});
    EXPECT_EQ(same.status, 74) << same.errors;
}

// Interrupted mid-test, the port is left as it was found: not exclusive, its
// line as before, and the program dies by the signal it got. Signals it was
// started with ignored (under nohup, in the background) stay so; one it was
// started with blocked is not.
TEST_F(CheckProgram, AnInterruptedTestGivesThePortBack) {
    SimulatedAdapter adapter(unique_device_link(folder.path()));
    ASSERT_TRUE(adapter.ready());
    OwnedDescriptor slave(open(adapter.slave().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK));
    ASSERT_TRUE(slave);
    // Another program's rate of its own, which only termios2 can put back.
    ASSERT_TRUE(set_line_rate(slave.get(), 12345));
    termios before{};
    ASSERT_EQ(tcgetattr(slave.get(), &before), 0);
    for (int signal_number : {SIGQUIT, SIGINT, SIGTERM, SIGHUP, SIGUSR1, SIGUSR2, SIGALRM, SIGXCPU,
                              SIGXFSZ, SIGVTALRM, SIGPROF, SIGPWR, SIGRTMIN, SIGRTMAX}) {
        SCOPED_TRACE(signal_number);
        // Forced: this test has the port open too, to watch it.
        ChildSetup setup;
        setup.arguments = {LANTORIC_CHECK_PATH, "--force", "--count=1000000", adapter.link()};
        if (signal_number == SIGQUIT) {
            setup.ignored = {SIGINT, SIGTERM, SIGHUP};
            setup.blocked = {SIGQUIT};
        }
        pid_t child = spawn_child(setup);
        ASSERT_GT(child, 0);
        auto exclusive = [&] {
            int held = 0;
            return ioctl(slave.get(), TIOCGEXCL, &held) == 0 && held != 0;
        };
        EXPECT_TRUE(wait_until(exclusive));
        for (int ignored : setup.ignored) {
            kill(child, ignored);
        }
        kill(child, signal_number);
        std::optional<int> status = wait_for_child(child, std::chrono::seconds(10));
        ASSERT_TRUE(status.has_value());
        EXPECT_TRUE(WIFSIGNALED(*status) && WTERMSIG(*status) == signal_number)
            << describe_wait_status(*status);
        EXPECT_FALSE(exclusive()) << "the port stayed exclusive";
        termios after{};
        ASSERT_EQ(tcgetattr(slave.get(), &after), 0);
        EXPECT_EQ(cfgetospeed(&after), cfgetospeed(&before));
        EXPECT_EQ(after.c_lflag, before.c_lflag);
        EXPECT_EQ(line_rate(slave.get()), 12345);
    }
}

// The adapter of a K-line row: a simulator following the line's rate, and
// the driver behaviours a pseudo-terminal lacks played by the preloaded
// emulation (an empty driver plays none).
struct EmulatedAdapter {
    SimulatedAdapter adapter;
    std::vector<std::string> command;

    EmulatedAdapter(const std::string& link, const std::string& driver,
                    const std::vector<std::string>& simulator, const std::string& log = {})
        : adapter(link, simulator), command(under_driver_emulation(LANTORIC_DRIVER_EMULATION_PATH,
                                                                   adapter.link(), driver, log)) {
        command.push_back(LANTORIC_CHECK_PATH);
    }
};

// A soak waits out whatever keeps the port from it, each gap one episode
// however long, instead of opening the port thousands of times a second.
TEST_F(CheckProgram, ASoakWaitsOutWhatKeepsThePortFromIt) {
    // In /dev, and open to all: a plain user reaches it too.
    SimulatedAdapter adapter(unique_device_link());
    ASSERT_TRUE(adapter.ready());
    ASSERT_EQ(chmod(adapter.slave().c_str(), 0666), 0);
    const std::string lock_file =
        "/run/lock/LCK.." + adapter.link().substr(adapter.link().rfind('/') + 1);
    OwnedDescriptor other; // another program's opening of the port
    const auto open_other = [&](bool locked) {
        other.reset(open(adapter.slave().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
        // The soak holds the lock itself while it tests.
        EXPECT_TRUE(!locked ||
                    wait_until([&] { return flock(other.get(), LOCK_EX | LOCK_NB) == 0; }));
    };
    struct Row {
        const char* name;
        bool plain_user; // who cannot see root's processes
        std::function<void()> keep, give_back;
        int status;
        const char* says;
    };
    const Row rows[] = {
        {"another program has it open", false, [&] { open_other(false); }, [&] { other.reset(); },
         0, "another program held the port 1 time"},
        {"an unseen program holds its lock", true, [&] { open_other(true); },
         [&] { other.reset(); }, 0, "another program held the port 1 time"},
        {"a UUCP lock file of a live process, taken again in place", false,
         [&] {
             std::ofstream(lock_file) << getpid() << "\n";
             std::this_thread::sleep_for(std::chrono::milliseconds(300));
             std::ofstream again(lock_file); // empty for a moment: still one hold
             std::this_thread::sleep_for(std::chrono::milliseconds(300));
             again << getpid() << "\n";
         },
         [&] { unlink(lock_file.c_str()); }, 0, "another program held the port 1 time"},
        {"closed to the user (udev has not set the mode yet)", true,
         [&] { chmod(adapter.slave().c_str(), 0600); },
         [&] { chmod(adapter.slave().c_str(), 0666); }, 3, "could not open: 1\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string output = folder.path_of("soak");
        OwnedDescriptor written(
            open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
        ChildSetup setup;
        setup.arguments = {LANTORIC_CHECK_PATH, "--duration=3s", adapter.link()};
        if (row.plain_user) {
            setup.arguments.insert(setup.arguments.begin(), {"/usr/bin/setpriv", "--reuid=65534",
                                                             "--regid=65534", "--clear-groups"});
        }
        setup.output = written.get();
        const pid_t soak = spawn_child(setup);
        ASSERT_GT(soak, 0);
        // Past the look that decides whether to test at all: the port opened,
        // closed and opened again.
        for (bool open : {true, false, true}) {
            ASSERT_TRUE(wait_until([&] { return has_open(soak, adapter.slave()) == open; }));
        }
        row.keep();
        std::this_thread::sleep_for(std::chrono::seconds(1));
        row.give_back();
        const std::optional<int> status = wait_for_child(soak, std::chrono::seconds(20));
        ASSERT_TRUE(status && WIFEXITED(*status)) << describe_wait_status(status.value_or(0));
        EXPECT_EQ(WEXITSTATUS(*status), row.status);
        EXPECT_NE(file_text(output).find(row.says), std::string::npos) << file_text(output);
    }
}

// What K-line diagnostics need, against the drivers that fail it.
TEST_F(CheckProgram, KlineChecksSayWhatTheDriverCanDo) {
    struct Row {
        const char* driver; // LANTORIC_EMULATED_DRIVER; empty: a plain pseudo-terminal
        std::vector<std::string> options;
        int status;
        std::vector<const char*> lines;
        std::vector<std::string> simulator = {"--follow-line"};
    };
    const Row rows[] = {
        {"",
         {"--kline"},
         5,
         {"10400 baud: yes", "fast init by break: cannot tell: a pseudo-terminal carries no break",
          "fast init by 360 baud: yes", "slow init (5 baud): cannot tell"}},
        // An instant echo: no wire on a pseudo-terminal, a faster line on an adapter.
        {"", {"--kline"}, 5, {"fast init by 360 baud: cannot tell: a pseudo-terminal"}, {}},
        {"plain-break", {"--kline"}, 4, {"360 baud: no: the line does not run at 360 baud"}, {}},
        // Calls as slow as USB transfers: bounds from the raise's return and call.
        {"plain-break,slow-raise=20", {"--kline"}, 5, {"fast init by break: cannot tell: the"}},
        // Output that never leaves; Ctrl-C in a soak as the zero byte's echo is awaited.
        {"plain-break,stuck-output,sigint-at-360",
         {"--duration=1s", "--kline"},
         5,
         {"fast init by 360 baud: yes", "slow init (5 baud): cannot tell: not measured: a stop"}},
        {"plain-break,unplug-at=listen", {"--kline"}, 3, {"went away during the K-line checks"}},
        {"plain-break,unplug-at=break",
         {"--kline"},
         3,
         {"break: cannot tell: not measured: the port went away", "went away during the K-line"}},
        {"rate=10400:14400", {"--kline"}, 4, {"10400 baud: no: the line runs at 14400 baud"}},
        {"rate=4000000:9600",
         {"--baud=4000000", "--json"},
         4,
         {"\"verdict\" : \"cannot do what was asked\""}},
        {"", {"--kline", "--json"}, 5, {"\"verdict\" : \"not proven: test again\""}},
        // The line refuses its old rate back at the close.
        {"refused-rate=38400",
         {"--kline"},
         4,
         {"could not be put back as it was after the test"},
         {}},
        {"rate=4000000:9600", {"--baud=4000000"}, 4, {"rate: the line runs at 9600 baud, not"}},
        {"refused-rate=10400",
         {"--baud=10400", "--count=3"},
         3,
         {"verdict: not able to open selected port\n  reason: refused rate: the driver of "}},
        {"refused-rate=10400",
         {"--baud=10400", "--json"},
         3,
         {"\"first_open_failure\" : \"refused rate: the driver of "}},
        {"refused-break",
         {"--kline"},
         4,
         {"fast init by break: no: the driver refused the break (Broken pipe)",
          "slow init (5 baud): no: the driver refused the break"}},
        {"slow-break",
         {"--kline"},
         4,
         {"fast init by break: no: the driver held the break's clear back",
          "slow init (5 baud): no: the driver held"}},
        {"marked-break",
         {"--kline"},
         0,
         {"came back: ff 00 00; breaks counted by the driver: 1", "fast init by break: yes",
          "slow init (5 baud): yes"}},
        {"plain-break", {"--kline"}, 0, {"came back: 00\n", "fast init by break: yes"}},
        // Gone after the echo's first bytes: nothing of the line was measured.
        {"plain-break",
         {"--kline"},
         3,
         {"fast init by break: cannot tell: not measured: the port did not open again",
          "slow init (5 baud): cannot tell: not measured"},
         {"--vanish-after-bytes=5"}},
        // Zeros on the line before anything is sent: a bus held low.
        {"plain-break",
         {"--kline"},
         1,
         {"fast init by break: no: the line is held low",
          "fast init by 360 baud: no: the line is held low"},
         {"--flood=0"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.driver);
        EmulatedAdapter emulated(unique_device_link(folder.path()), row.driver, row.simulator);
        ASSERT_TRUE(emulated.adapter.ready());
        std::vector<std::string> command = emulated.command;
        command.insert(command.end(), row.options.begin(), row.options.end());
        command.push_back(emulated.adapter.link());
        ToolRun run = run_tool(command);
        EXPECT_EQ(run.status, row.status) << run.output << run.errors;
        const std::string said = run.output + run.errors;
        bool put_back_fails = false;
        for (const char* line : row.lines) {
            EXPECT_NE(said.find(line), std::string::npos) << line << "\n" << said;
            put_back_fails |= std::string(line).find("could not be put back") != std::string::npos;
        }
        // A refused break was never raised: no close has a low line to own up to.
        EXPECT_EQ(said.find("could not be put back") != std::string::npos, put_back_fails) << said;
    }
}

// The slow-init frame as the line sees it; a program stopped in the middle
// of it clears the break for as long as it is stopped; Ctrl-C in a soak
// after its time ends the checks, said as such, with no verdict on the rest.
TEST_F(CheckProgram, KlineChecksKeepTheirFrameAndYieldToSignals) {
    const std::string log = folder.path_of("breaks");
    EmulatedAdapter emulated(unique_device_link(folder.path()), "plain-break", {"--follow-line"},
                             log);
    ASSERT_TRUE(emulated.adapter.ready());
    // (on, off) times in milliseconds, in the order the line took them.
    const auto breaks = [&] {
        std::ifstream in(log);
        std::vector<std::pair<std::string, long long>> changes;
        std::string kind;
        long long ms = 0;
        while (in >> kind >> ms) {
            if (kind != "flush") {
                changes.emplace_back(kind, ms);
            }
        }
        return changes;
    };
    ChildSetup setup;
    setup.arguments = emulated.command;
    setup.arguments.insert(setup.arguments.end(), {"--kline", emulated.adapter.link()});
    // A group of its own, whose parent is in another group of the session: an
    // orphaned group (as under some test runners) is never stopped by SIGTSTP.
    setup.own_group = true;
    pid_t child = spawn_child(setup);
    ASSERT_GT(child, 0);
    std::optional<int> status = wait_for_child(child, std::chrono::seconds(20));
    ASSERT_TRUE(status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0);
    // The fast-init break, then slow init: low, high, low, high, low, high,
    // low, high, then low through the last data slot and the stop slot.
    const auto frame = breaks();
    ASSERT_EQ(frame.size(), 12u);
    EXPECT_GT(frame[11].second - frame[10].second, 300) << "the stop slot was not kept low";

    ASSERT_EQ(truncate(log.c_str(), 0), 0);
    // Forced, so that the port is watched throughout.
    setup.arguments.insert(setup.arguments.end() - 1, "--force");
    OwnedDescriptor slave(open(emulated.adapter.slave().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK));
    const auto exclusive = [&] {
        int held = 0;
        return ioctl(slave.get(), TIOCGEXCL, &held) == 0 && held != 0;
    };
    child = spawn_child(setup);
    ASSERT_GT(child, 0);
    // Stopped as fast init's break starts, then while slow init holds its
    // second break. Between them the checks go on with the port held again.
    for (std::size_t changes : {1u, 5u}) {
        ASSERT_TRUE(
            wait_until([&] { return breaks().size() >= changes; }, std::chrono::seconds(10)));
        kill(child, SIGTSTP);
        int stopped = 0;
        ASSERT_EQ(waitpid(child, &stopped, WUNTRACED), child);
        ASSERT_TRUE(WIFSTOPPED(stopped));
        EXPECT_EQ(breaks().back().first, "off") << "a stopped program holds the line low";
        EXPECT_FALSE(exclusive()) << "a stopped program keeps the port to itself";
        kill(child, SIGCONT);
        EXPECT_TRUE(changes > 1 || wait_until(exclusive)) << "continued without the port's hold";
    }
    status = wait_for_child(child, std::chrono::seconds(20));
    ASSERT_TRUE(status && WIFEXITED(*status)) << describe_wait_status(status.value_or(0));
    EXPECT_EQ(WEXITSTATUS(*status), 5) << "slow init cut by the stop is not proven";

    ASSERT_EQ(truncate(log.c_str(), 0), 0);
    const std::string output = folder.path_of("soak");
    OwnedDescriptor written(open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    setup.output = written.get();
    setup.arguments.insert(setup.arguments.end() - 1, "--duration=1s");
    child = spawn_child(setup);
    ASSERT_GT(child, 0);
    // Interrupted while the fast-init break's echo is listened for.
    ASSERT_TRUE(wait_until([&] { return breaks().size() >= 2; }, std::chrono::seconds(10)));
    kill(child, SIGINT);
    status = wait_for_child(child, std::chrono::seconds(20));
    ASSERT_TRUE(status && WIFEXITED(*status)) << describe_wait_status(status.value_or(0));
    EXPECT_EQ(WEXITSTATUS(*status), 5);
    const std::string said = file_text(output);
    for (const char* line :
         {"soak: ran 0:00:01 of 0:00:01\n", "K-line checks: interrupted",
          "fast init by 360 baud: cannot tell: not measured: a stop was asked"}) {
        EXPECT_NE(said.find(line), std::string::npos) << line << "\n" << said;
    }

    // Another program has the port open: its input is never flushed, forced or not.
    OwnedDescriptor other(open(emulated.adapter.slave().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK));
    ASSERT_EQ(truncate(log.c_str(), 0), 0);
    std::vector<std::string> forced = emulated.command;
    forced.insert(forced.end(), {"--force", "--kline", emulated.adapter.link()});
    EXPECT_EQ(run_tool(forced).status, 0);
    EXPECT_EQ(file_text(log).find("flush"), std::string::npos) << file_text(log);

    // A second signal during the first one's release waits for it: this
    // driver's break clear returns only 200 ms after the raise.
    EmulatedAdapter slow(unique_device_link(folder.path()), "slow-break", {"--follow-line"}, log);
    ASSERT_TRUE(slow.adapter.ready());
    slave = OwnedDescriptor(open(slow.adapter.slave().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK));
    ASSERT_EQ(truncate(log.c_str(), 0), 0);
    setup.arguments = slow.command;
    setup.arguments.insert(setup.arguments.end(), {"--force", "--kline", slow.adapter.link()});
    child = spawn_child(setup);
    ASSERT_TRUE(wait_until([&] { return !breaks().empty(); }, std::chrono::seconds(10)));
    kill(child, SIGINT);
    kill(child, SIGTERM);
    status = wait_for_child(child, std::chrono::seconds(20));
    ASSERT_TRUE(status && WIFSIGNALED(*status)) << describe_wait_status(status.value_or(0));
    EXPECT_EQ(WTERMSIG(*status), SIGINT);
    EXPECT_FALSE(exclusive()) << "the port stayed exclusive";
}

// Stopped mid-test, the run is no measure of the adapter: continued, it runs
// again on a new opening, which leaves a port another program took meanwhile
// as that program has it (its hold, its rate, its waiting input).
TEST_F(CheckProgram, AStoppedTestIsRunAgainOnlyOnAPortStillFree) {
    for (bool taken : {false, true}) {
        SCOPED_TRACE(taken);
        SimulatedAdapter adapter(unique_device_link(folder.path()), {"--pace=100"});
        ASSERT_TRUE(adapter.ready());
        ChildSetup setup;
        setup.arguments = {LANTORIC_CHECK_PATH, "--baud=100", adapter.link()};
        setup.own_group = true;
        const pid_t child = spawn_child(setup);
        // Signals wait while the port opens or closes: stopped with the port
        // open, the program is in the exchange.
        do {
            kill(child, SIGCONT);
            ASSERT_TRUE(wait_until([&] { return has_open(child, adapter.slave()); }));
            kill(child, SIGTSTP);
            ASSERT_EQ(waitpid(child, nullptr, WUNTRACED), child);
        } while (!has_open(child, adapter.slave()));
        OwnedDescriptor other(taken ? open(adapter.slave().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK)
                                    : -1);
        int waiting = 0;
        ASSERT_TRUE(
            !taken ||
            (ioctl(other.get(), TIOCEXCL) == 0 && flock(other.get(), LOCK_EX | LOCK_NB) == 0 &&
             set_line_rate(other.get(), 19200) && write(other.get(), "other", 5) == 5 &&
             wait_until([&] { return ioctl(other.get(), FIONREAD, &waiting) == 0 && waiting; })));
        kill(child, SIGCONT);
        const std::optional<int> status = wait_for_child(child, std::chrono::seconds(20));
        ASSERT_TRUE(status && WIFEXITED(*status)) << describe_wait_status(status.value_or(0));
        EXPECT_EQ(WEXITSTATUS(*status), taken ? 3 : 0);
        int exclusive = 0;
        int left = 0;
        EXPECT_TRUE(!taken || (ioctl(other.get(), TIOCGEXCL, &exclusive) == 0 && exclusive &&
                               line_rate(other.get()) == 19200 &&
                               ioctl(other.get(), FIONREAD, &left) == 0 && left >= waiting));
    }
}

// What a mechanic reads of a car, played by the simulator's ECU (which hears
// the breaks through the driver emulation's log): the ECU check's block in
// the report as printed, its diagnosis, and its fix among what to do next.
TEST_F(CheckProgram, TheEcuCheckIsSaidForAMechanic) {
    struct Row {
        std::vector<std::string> car;
        const char* asked; // after --ecu
        int status;
        const char* line;
    };
    const Row rows[] = {
        {{"--ecu=kwp-fast"}, "=kwp-fast", 0, "key bytes: ef 8f: keyword 2031: KWP2000; headers"},
        // Auto tries fast init first, and says so.
        {{"--ecu=iso9141"}, "", 0, "    gave: silent\n  iso9141 at 0x33 (ISO 9141-2):\n"},
        {{"--ecu=silent"}, "=kwp-fast", 6, "what to do next:\n  - switch the ignition on"},
        {{"--ecu=iso9141", "--ecu-fault=rate=9600"}, "=iso9141", 6, "9600 baud\n  fix: test"},
        {{"--ecu=kwp-fast", "--ecu-fault=negative=0x22"}, "=kwp-fast", 6, "(7F 81 22: condit"},
    };
    int number = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.line);
        const std::string breaks = folder.path_of("breaks" + std::to_string(++number));
        std::vector<std::string> car = row.car;
        car.push_back("--breaks-from=" + breaks);
        // No driver behaviour: the pseudo-terminal is the driver.
        EmulatedAdapter emulated(unique_device_link(folder.path()), "", car, breaks);
        ASSERT_TRUE(emulated.adapter.ready());
        const std::string report = breaks + ".report";
        std::vector<std::string> command = emulated.command;
        command.insert(command.end(), {std::string("--ecu") + row.asked, "--json", "--report",
                                       report, emulated.adapter.link()});
        ToolRun run = run_tool(command);
        EXPECT_EQ(run.status, row.status) << run.output << run.errors;
        const std::string text = file_text(report);
        EXPECT_NE(text.find(row.line), std::string::npos) << text;
    }
}

// A report holds what a helper asks for, and no user or host name.
TEST_F(CheckProgram, TheReportHoldsTheFactsAndNoNames) {
    SimulatedAdapter adapter(unique_device_link(), {"--silent"});
    ASSERT_TRUE(adapter.ready());
    // The port's group is root's own, named as the user running the test is.
    ASSERT_EQ(chown(adapter.slave().c_str(), 0, 0), 0);
    // A port of that group whose mode keeps the group out, for root without powers.
    SimulatedAdapter locked(unique_device_link());
    ASSERT_EQ(chown(locked.slave().c_str(), 65534, 0) | chmod(locked.slave().c_str(), 0600), 0);
    // The report's name is a second link of another file.
    const std::string file = folder.path_of("report.txt");
    std::ofstream(folder.path_of("other.txt")) << "other";
    ASSERT_EQ(link(folder.path_of("other.txt").c_str(), file.c_str()), 0);
    ToolRun run =
        run_tool(with_own_devices({"/usr/bin/setpriv", "--bounding-set=-all", "--inh-caps=-all",
                                   LANTORIC_CHECK_PATH, "--report", file, adapter.link()}));
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.output.find("report: " + file + "\n"), std::string::npos) << run.output;
    const std::string report = file_text(file);
    for (const char* line :
         {"User and host names are left out of this report.",
          "kernel: ", "distribution: ", "groups that open the ports:", "verdict: timeout",
          "\n  - check +12 V", "belongs to your own group (its name left out), which you have"}) {
        EXPECT_NE(report.find(line), std::string::npos) << line << "\n" << report;
    }
    char host[256] = {};
    gethostname(host, sizeof host - 1);
    EXPECT_EQ(report.find(host), std::string::npos) << "the host name is in the report";
    EXPECT_EQ(report.find("  root: in this session"), std::string::npos) << report;
    EXPECT_EQ(report.find("group root"), std::string::npos) << report;
    EXPECT_EQ(file_text(folder.path_of("other.txt")), "other");
}

// A signal while the report's listing holds a port ends the program only once
// the port's hold is given back.
TEST_F(CheckProgram, TheReportsListingGivesThePortBackOnASignal) {
    EmulatedAdapter emulated(unique_device_link(), "slow-flock", {});
    OwnedDescriptor written(
        open(folder.path_of("out").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600));
    emulated.command.insert(emulated.command.end(), {"--report", folder.path_of("r")});
    ChildSetup setup;
    setup.arguments = with_own_devices(emulated.command);
    setup.output = written.get();
    const pid_t child = spawn_child(setup);
    OwnedDescriptor slave(open(emulated.adapter.slave().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK));
    int held = 0;
    // The listing printed, the report's own looks at the port.
    ASSERT_TRUE(wait_until(
        [&] {
            return ioctl(slave.get(), TIOCGEXCL, &held) == 0 && held != 0 &&
                   file_text(folder.path_of("out")).find("opens") != std::string::npos;
        },
        std::chrono::seconds(20)));
    kill(child, SIGTERM);
    EXPECT_TRUE(wait_for_child(child, std::chrono::seconds(10)));
    EXPECT_TRUE(ioctl(slave.get(), TIOCGEXCL, &held) == 0 && held == 0)
        << "the port stayed exclusive";
}

// A link swapped between the look at a node and its open never gets another
// node opened: what was looked at is what is opened. The decoy stands for a
// device whose mere open does something (a watchdog starts counting).
TEST_F(CheckProgram, ALinkSwappedMidOpenNeverOpensAnotherNode) {
    SimulatedAdapter adapter(unique_device_link(folder.path()));
    ASSERT_TRUE(adapter.ready());
    const std::string decoy = folder.path_of("decoy");
    std::ofstream(decoy).put('x');
    OwnedDescriptor opens(inotify_init1(IN_CLOEXEC | IN_NONBLOCK));
    ASSERT_GE(inotify_add_watch(opens.get(), decoy.c_str(), IN_CLOSE_WRITE), 0);
    const std::string link = folder.path_of("ttyUSBswapped");
    std::atomic<bool> done{false};
    std::thread swapper([&] {
        const std::string next = link + ".next";
        for (int i = 0; !done; ++i) {
            unlink(next.c_str());
            if (symlink(i % 2 != 0 ? decoy.c_str() : adapter.slave().c_str(), next.c_str()) == 0) {
                rename(next.c_str(), link.c_str());
            }
        }
    });
    for (int run = 0; run < 40; ++run) {
        check({link});
    }
    done = true;
    swapper.join();
    char events[4096];
    EXPECT_LE(read(opens.get(), events, sizeof events), 0) << "the decoy was opened for writing";
}

// A path is bytes: JSON carries one that is not UTF-8 without losing any.
TEST_F(CheckProgram, AnyPathBytesMakeValidJson) {
    const std::string path = folder.path() + "/tty\xff\xfe";
    ToolRun run = check({"--json", path});
    EXPECT_EQ(run.status, 3);
    Json document(run.output);
    EXPECT_EQ(document.at("$.tests[0].open.outcome"), "missing");
    EXPECT_EQ(document.at("$.tests[0].path_bytes"), "array of " + std::to_string(path.size()));
    const std::string second_last =
        "$.tests[0].path_bytes[" + std::to_string(path.size() - 2) + "]";
    EXPECT_EQ(document.at(second_last.c_str()), "255");
    // Marks, embeddings and isolates that would turn the text around them.
    run = check({"--json", folder.path() + "/\u200f\u202a\u2066\u2069"});
    EXPECT_NE(run.output.find("/\\u200f\\u202a\\u2066\\u2069\""), std::string::npos) << run.output;
}

} // namespace
