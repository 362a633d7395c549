// The ECU handshakes end to end: lantoric-check --ecu against the simulator's
// ECU model, which hears the program's break changes through the driver
// emulation's log and judges the wake-up as a car's ECU would; and the single
// wire's echo against answers split or merged with it on a real
// pseudo-terminal.
#include "base/owners.h"
#include "check/ecu/kline_wire.h"
#include "tests/support/processes.h"
#include "tests/support/pty_pair.h"
#include "tests/support/simulated_adapter.h"
#include "tests/support/temp_folder.h"

#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <regex>
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
    const std::size_t end = json.find_first_of(",\n", from);
    std::string value = json.substr(from, end - from);
    return value.front() == '"' ? value.substr(1, value.size() - 2) : value;
}

struct Row {
    const char* name;
    std::vector<std::string> ecu;
    std::string asked;
    const char* diagnosis;
    const char* protocol;
    const char* key_bytes;
    int status;
    std::string driver = "";
};

// StartCommunication, mode 01 PID 00 in either framing, StopCommunication,
// a KW1281 ACK or end block.
bool harmless(const std::string& request) {
    static const std::regex reading("C1 33 F1 81 66|C2 33 F1 01 00 E7|C1 33 F1 82 67|68 6A F1 01 "
                                    "00 C4|03 [0-9A-F]{2} 0[69] 03");
    return std::regex_match(request, reading);
}

// Runs each row's check against its ECU, and checks that nothing but the
// reading requests reached the bus: the ECU's log names every request.
void run_rows(const std::vector<Row>& rows) {
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TempFolder folder;
        const std::string log = folder.path_of("ecu.log");
        std::vector<std::string> options = row.ecu;
        options.push_back("--breaks-from=" + folder.path_of("breaks"));
        options.push_back("--ecu-log=" + log);
        SimulatedAdapter adapter(folder.path_of("port"), options);
        ASSERT_TRUE(adapter.ready());
        std::vector<std::string> command = under_driver_emulation(
            LANTORIC_DRIVER_EMULATION_PATH, adapter.link(),
            row.driver.empty() ? "none" : row.driver, folder.path_of("breaks"));
        command.insert(command.end(), {LANTORIC_CHECK_PATH, row.asked, "--json", adapter.link()});
        const ToolRun run = run_tool(command, std::chrono::seconds(60));
        EXPECT_EQ(run.status, row.status) << run.errors;
        EXPECT_EQ(field(run.output, "diagnosis"), row.diagnosis) << field(run.output, "detail");
        EXPECT_EQ(field(run.output, "protocol"), row.protocol);
        EXPECT_EQ(field(run.output, "key_bytes"), row.key_bytes);
        std::ifstream heard(log);
        for (std::string line; std::getline(heard, line);) {
            const std::size_t at = line.find("REQUEST ");
            EXPECT_TRUE(at == std::string::npos || harmless(line.substr(at + 8))) << line;
            EXPECT_EQ(line.find("RX 54"), std::string::npos) << "the loopback text reached the bus";
        }
    }
}

TEST(EcuHandshake, EachProtocolAnswers) {
    run_rows({
        {"ISO 9141-2", {"--ecu=iso9141"}, "--ecu=iso9141", "answered", "iso9141", "08 08", 0},
        {"KWP2000 slow init",
         {"--ecu=kwp-slow"},
         "--ecu=kwp-slow",
         "answered",
         "kwp-slow",
         "ef 8f",
         0},
        {"KWP2000 fast init",
         {"--ecu=kwp-fast"},
         "--ecu=kwp-fast",
         "answered",
         "kwp-fast",
         "ef 8f",
         0},
        {"KW1281", {"--ecu=kw1281"}, "--ecu=kw1281", "answered", "kw1281", "01 8a", 0},
        {"auto: slow init after a fast init nothing answers",
         {"--ecu=kwp-slow", "--ecu-fault=slow-init-only"},
         "--ecu",
         "answered",
         "kwp-slow",
         "ef 8f",
         0},
        {"auto: again at the rate the sync byte names",
         {"--ecu=iso9141", "--ecu-fault=rate=9600"},
         "--ecu",
         "answered",
         "iso9141",
         "08 08",
         0},
    });
}

TEST(EcuHandshake, EachFaultHasItsDiagnosis) {
    run_rows({
        {"no +12 V", {"--ecu=kwp-fast", "--no-echo"}, "--ecu", "no-echo", "null", "null", 1},
        {"the bus held low",
         {"--ecu=kwp-fast", "--held-low"},
         "--ecu",
         "held-low",
         "null",
         "null",
         4},
        {"ignition off", {"--ecu=silent"}, "--ecu", "silent", "null", "null", 6},
        {"a 9600 ECU",
         {"--ecu=iso9141", "--ecu-fault=rate=9600"},
         "--ecu=iso9141",
         "other-rate",
         "null",
         "null",
         6},
        {"10400 run as 14400",
         {"--ecu=kwp-fast"},
         "--ecu",
         "adapter-rate",
         "null",
         "null",
         4,
         "rate=10400:14400"},
        {"StartCommunication refused",
         {"--ecu=kwp-fast", "--ecu-fault=negative=0x22"},
         "--ecu",
         "refused",
         "null",
         "null",
         6},
        {"a wrong checksum",
         {"--ecu=kwp-fast", "--ecu-fault=bad-checksum"},
         "--ecu=kwp-fast",
         "broken",
         "null",
         "null",
         6},
        {"key bytes that differ",
         {"--ecu=iso9141", "--ecu-fault=kb1-differs"},
         "--ecu=iso9141",
         "broken",
         "null",
         "94 08",
         6},
        {"no inverted address",
         {"--ecu=iso9141", "--ecu-fault=no-inverted-address"},
         "--ecu=iso9141",
         "broken",
         "null",
         "08 08",
         6},
    });
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
