// The ECU handshakes end to end: lantoric-check --ecu against the simulator's
// ECU model, which hears the program's break changes through the driver
// emulation's log and judges the wake-up as a car's ECU would; and the single
// wire's echo against answers split or merged with it on a real
// pseudo-terminal.
#include "base/owners.h"
#include "check/ecu/kline_wire.h"
#include "serial/line_rate.h"
#include "tests/support/processes.h"
#include "tests/support/pty_pair.h"
#include "tests/support/simulated_adapter.h"
#include "tests/support/temp_folder.h"
#include "tests/support/wait_until.h"

#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <regex>
#include <sstream>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>

namespace {

using std::chrono::milliseconds;

// The value of the first "name" : value in the JSON document (the ECU
// object's own, before its attempts'), without quotes.
std::string field(const std::string& json, const std::string& name) {
    const std::string key = "\"" + name + "\" : ";
    const std::size_t at = json.find(key);
    if (at == std::string::npos) {
        return "(missing)";
    }
    const std::size_t from = at + key.size();
    std::string value = json.substr(from, json.find_first_of(",\n", from) - from);
    return value.front() == '"' ? value.substr(1, value.size() - 2) : value;
}

struct Row {
    const char* name;
    const char* car;   // the simulator's ECU
    const char* fault; // the ECU's or the adapter's, or ""
    const char* asked;
    // The diagnosis, protocol and key bytes the JSON gives, and the exit status.
    const char* expected;
    const char* driver = "";
};

// StartCommunication, mode 01 PID 00 in either framing, StopCommunication,
// a KW1281 ACK or end block.
bool harmless(const std::string& request) {
    static const std::regex reading("C1 33 F1 81 66|C2 33 F1 01 00 E7|C1 33 F1 82 67|"
                                    "68 6A F1 01 00 C4|03 [0-9A-F]{2} 0[69] 03");
    return std::regex_match(request, reading);
}

// Runs each row's check against its car, and checks that nothing but the
// reading requests reached the bus: the ECU's log names every request.
void run_rows(const std::vector<Row>& rows) {
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TempFolder folder;
        std::vector<std::string> faults;
        if (*row.fault != '\0') {
            faults.push_back(row.fault);
        }
        SimulatedAdapter adapter(
            SimulatedCar{folder.path_of("port"), row.car, faults, folder.path()});
        ASSERT_TRUE(adapter.ready());
        std::vector<std::string> command =
            adapter.under_emulation(LANTORIC_DRIVER_EMULATION_PATH, row.driver);
        command.insert(command.end(), {LANTORIC_CHECK_PATH, row.asked, "--json", adapter.link()});
        const ToolRun run = run_tool(command, std::chrono::seconds(60));
        EXPECT_EQ(field(run.output, "diagnosis") + ", " + field(run.output, "protocol") + ", " +
                      field(run.output, "key_bytes") + ", exit " + std::to_string(run.status),
                  row.expected)
            << field(run.output, "detail") << run.errors;
        EXPECT_EQ(run.errors.find("could not be put back"), std::string::npos) << run.errors;
        std::istringstream heard(adapter.ecu_log_text());
        for (std::string line; std::getline(heard, line);) {
            const std::size_t at = line.find("REQUEST ");
            EXPECT_TRUE(at == std::string::npos || harmless(line.substr(at + 8))) << line;
            EXPECT_EQ(line.find("RX 54"), std::string::npos) << "the loopback text reached the bus";
        }
    }
}

TEST(EcuHandshake, EachProtocolAnswers) {
    run_rows({
        {"ISO 9141-2", "iso9141", "", "--ecu=iso9141", "answered, iso9141, 08 08, exit 0"},
        {"KWP2000 slow init", "kwp-slow", "", "--ecu=kwp-slow",
         "answered, kwp-slow, ef 8f, exit 0"},
        {"KWP2000 fast init", "kwp-fast", "", "--ecu=kwp-fast",
         "answered, kwp-fast, ef 8f, exit 0"},
        {"KW1281", "kw1281", "", "--ecu=kw1281", "answered, kw1281, 01 8a, exit 0"},
        // Real drivers give a break's own echo back: as 00, or FF 00 00 with line status.
        {"fast init, the break echoed as 00", "kwp-fast", "", "--ecu=kwp-fast",
         "answered, kwp-fast, ef 8f, exit 0", "plain-break"},
        {"slow init, the breaks echoed as FF 00 00", "iso9141", "", "--ecu=iso9141",
         "answered, iso9141, 08 08, exit 0", "marked-break"},
        {"fast init by a zero byte at 360 baud where the break is refused", "kwp-fast", "",
         "--ecu=kwp-fast", "answered, kwp-fast, ef 8f, exit 0", "refused-break"},
        {"and where the driver holds a simulated break 200 ms", "kwp-fast", "", "--ecu=kwp-fast",
         "answered, kwp-fast, ef 8f, exit 0", "slow-break"},
        {"auto: slow init after a fast init nothing answers", "kwp-slow",
         "--ecu-fault=slow-init-only", "--ecu", "answered, kwp-slow, ef 8f, exit 0"},
        {"auto: again at the rate the sync byte names", "iso9141", "--ecu-fault=rate=9600", "--ecu",
         "answered, iso9141, 08 08, exit 0"},
    });
}

TEST(EcuHandshake, EachFaultHasItsDiagnosis) {
    run_rows({
        {"no +12 V", "kwp-fast", "--no-echo", "--ecu", "no-echo, null, null, exit 1"},
        {"the bus held low", "kwp-fast", "--held-low", "--ecu", "held-low, null, null, exit 4"},
        {"ignition off", "silent", "", "--ecu", "silent, null, null, exit 6"},
        {"a 9600 ECU", "iso9141", "--ecu-fault=rate=9600", "--ecu=iso9141",
         "other-rate, null, null, exit 6"},
        {"10400 run as 14400", "kwp-fast", "", "--ecu", "adapter-rate, null, null, exit 4",
         "rate=10400:14400"},
        {"StartCommunication refused", "kwp-fast", "--ecu-fault=negative=0x22", "--ecu",
         "refused, null, null, exit 6"},
        {"a wrong checksum", "kwp-fast", "--ecu-fault=bad-checksum", "--ecu=kwp-fast",
         "broken, null, null, exit 6"},
        {"key bytes that differ", "iso9141", "--ecu-fault=kb1-differs", "--ecu=iso9141",
         "broken, null, 94 08, exit 6"},
        {"a refused break: no 5-baud address", "iso9141", "", "--ecu=iso9141",
         "no-wake-up, null, null, exit 4", "refused-break"},
        {"no inverted address", "iso9141", "--ecu-fault=no-inverted-address", "--ecu=iso9141",
         "broken, null, 08 08, exit 6"},
        // Our inverted key byte reaching the line 120 ms late, past every ECU's W4.
        {"our inverted key byte late: the sync again", "iso9141", "--ecu-fault=repeat-sync",
         "--ecu=iso9141", "late, null, 08 08, exit 4", "slow-write=120"},
        {"our inverted key byte late: the ECU quiet, its echo's bounds cannot tell", "iso9141", "",
         "--ecu=iso9141", "late, null, 08 08, exit 5", "slow-write=120"},
    });
}

// A signal in the middle of the 5-baud address, the line low: the break
// cleared, the port neither exclusive nor in the program's settings.
TEST(EcuHandshake, ASignalMidWakeUpGivesThePortBack) {
    TempFolder folder;
    SimulatedAdapter adapter(folder.path_of("port"));
    ASSERT_TRUE(adapter.ready());
    OwnedDescriptor slave(open(adapter.slave().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK));
    ASSERT_TRUE(slave);
    ASSERT_TRUE(set_line_rate(slave.get(), 12345));
    const std::string breaks = folder.path_of("breaks");
    const auto last_break = [&] {
        std::ifstream log(breaks);
        std::string line, last;
        while (std::getline(log, line)) {
            last = line.substr(0, line.find(' '));
        }
        return last;
    };
    ChildSetup setup;
    setup.arguments =
        under_driver_emulation(LANTORIC_DRIVER_EMULATION_PATH, adapter.link(), "none", breaks);
    setup.arguments.insert(setup.arguments.end(),
                           {LANTORIC_CHECK_PATH, "--ecu=iso9141", "--force", adapter.link()});
    const pid_t child = spawn_child(setup);
    ASSERT_GT(child, 0);
    EXPECT_TRUE(wait_until([&] { return last_break() == "on"; }));
    kill(child, SIGINT);
    const std::optional<int> status = wait_for_child(child, std::chrono::seconds(10));
    ASSERT_TRUE(status.has_value());
    EXPECT_TRUE(WIFSIGNALED(*status) && WTERMSIG(*status) == SIGINT)
        << describe_wait_status(*status);
    EXPECT_EQ(last_break(), "off");
    int held = 0;
    EXPECT_EQ(ioctl(slave.get(), TIOCGEXCL, &held), 0);
    EXPECT_EQ(held, 0) << "the port stayed exclusive";
    EXPECT_EQ(line_rate(slave.get()), 12345);
}

// A TERM in the middle of a session: StopCommunication goes out before the
// port is given back, a check cut short makes no diagnosis of the car, and
// the program ends by the signal.
TEST(EcuHandshake, AStopMidSessionEndsTheSessionFirst) {
    TempFolder folder;
    SimulatedAdapter adapter(SimulatedCar{folder.path_of("port"), "kwp-fast", {}, folder.path()});
    ASSERT_TRUE(adapter.ready());
    const std::string output = folder.path_of("output");
    OwnedDescriptor out(open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    ChildSetup setup;
    setup.arguments = adapter.under_emulation(LANTORIC_DRIVER_EMULATION_PATH, "plain-break");
    setup.arguments.insert(setup.arguments.end(),
                           {LANTORIC_CHECK_PATH, "--ecu=kwp-fast", "--json", adapter.link()});
    setup.output = out.get();
    const pid_t child = spawn_child(setup);
    ASSERT_GT(child, 0);
    EXPECT_TRUE(
        wait_until([&] { return adapter.ecu_log_text().find("SESSION") != std::string::npos; }));
    kill(child, SIGTERM);
    const std::optional<int> status = wait_for_child(child, std::chrono::seconds(10));
    ASSERT_TRUE(status.has_value());
    EXPECT_TRUE(WIFSIGNALED(*status) && WTERMSIG(*status) == SIGTERM)
        << describe_wait_status(*status);
    EXPECT_NE(adapter.ecu_log_text().find("END StopCommunication"), std::string::npos)
        << adapter.ecu_log_text();
    // Cut before the proving answer: none; after it: answered.
    const std::string diagnosis = field(file_text(output), "diagnosis");
    EXPECT_TRUE(diagnosis == "null" || diagnosis == "answered") << file_text(output);
}

// What the test's side of the wire sends, piece by piece, after the program
// wrote its request.
TEST(KlineWire, TheEchoIsNeverTakenForTheAnswerHoweverTheReadsFall) {
    const std::string request("\xC1\x33\xF1\x81\x66", 5);
    const std::string answer = "\x83\xF1\x10\xC1\xEF\x8F\xC3";
    struct Row {
        const char* name;
        std::vector<std::string> pieces;
        bool echoed;
        std::string then;
    };
    const Row rows[] = {
        {"echo and answer in one read", {request + answer}, true, answer},
        {"the echo split", {request.substr(0, 2), request.substr(2), answer}, true, answer},
        {"the echo's end merged with the answer's start",
         {request.substr(0, 3), request.substr(3) + answer.substr(0, 2), answer.substr(2)},
         true,
         answer},
        {"an FF in the answer, doubled by the line's marks",
         {request + "\x03\xFF\x7E"},
         true,
         "\x03\xFF\x7E"},
        {"a wrong echo", {"\xC1\x33\xF1\x81\x67" + answer}, false, answer},
        {"no echo", {}, false, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        PtyPair pty;
        OwnedDescriptor port(
            open(pty.slave_path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
        termios line{};
        ASSERT_EQ(tcgetattr(port.get(), &line), 0);
        cfmakeraw(&line);
        line.c_iflag |= PARMRK | INPCK;
        ASSERT_EQ(tcsetattr(port.get(), TCSANOW, &line), 0);
        KlineWire wire(port.get(), 10400, {});
        std::thread other_side([&] {
            for (const std::string& piece : row.pieces) {
                std::this_thread::sleep_for(milliseconds(20));
                pty.write_master(piece);
            }
        });
        const WireSend sent = wire.send(request);
        other_side.join();
        EXPECT_EQ(sent.echoed, row.echoed);
        std::string then;
        while (const std::optional<WireByte> byte = wire.next(Deadline::after(milliseconds(200)))) {
            then.push_back(static_cast<char>(byte->value));
        }
        EXPECT_EQ(then, row.then);
        EXPECT_EQ(pty.read_master(request.size()), request);
    }
}

} // namespace
