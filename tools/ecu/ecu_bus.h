// The K-line behind the simulator's pseudo-terminal when a car is on it: the
// single wire's echo of every byte the tester sends, paced at the tester's
// rate, an ECU (ecu_model.h) hearing those bytes as its own UART reads them,
// its answers read as the tester's UART would, and the faults of an adapter
// without +12 V or of a bus held low.
//
// A pseudo-terminal carries no break. The tester's break changes come from
// the driver emulation's log (tests/emulation/driver_emulation.cpp), pointed
// at a FIFO this bus reads: lines "on MS" and "off MS", MS the steady clock in
// milliseconds, the same clock in both processes. A zero byte at a low rate
// (360 baud) is a low phase as well, as on a real wire.
#pragma once

#include "tools/ecu/ecu_model.h"

#include <deque>
#include <optional>
#include <string>
#include <vector>

struct EcuBusOptions {
    // None: no ECU on the bus (the adapter faults alone).
    std::optional<EcuSettings> ecu;
    // No +12 V: nothing comes back, and the ECU hears nothing.
    bool no_echo = false;
    // The bus held low: a zero byte every frame time at the tester's rate,
    // no echo, and the ECU hears nothing.
    bool held_low = false;
    // The FIFO the break changes come through; made when it does not exist.
    std::string breaks_from;
    // One line per thing the ECU saw and did.
    std::string log_path;
    // What the command line asked, before finish_bus_options.
    EcuSettings asked;
    bool asked_kind = false;
    bool asked_address = false;
    bool asked_faults = false;
    // Whether any bus option was given.
    bool given() const { return asked_kind || no_echo || held_low || !breaks_from.empty() ||
                                  !log_path.empty(); }
};

// Takes one command-line argument if it is a bus option: none when it is not
// one, else whether it was right (false after saying why on standard error).
std::optional<bool> parse_bus_option(const std::string& argument, EcuBusOptions& options);
// Fills in what depends on several options (the KW1281 address); false after
// saying why when they do not go together.
bool finish_bus_options(EcuBusOptions& options);

class EcuBus {
  public:
    explicit EcuBus(const EcuBusOptions& options);
    ~EcuBus();
    EcuBus(const EcuBus&) = delete;
    EcuBus& operator=(const EcuBus&) = delete;

    // Makes and opens the FIFO and the log before the tester can start; false
    // after saying why.
    bool open();
    // Runs the line on the pseudo-terminal's master until a signal comes on
    // `signals` (true) or the line fails (false).
    bool run(int master, int signals);

  private:
    // A byte on its way back to the tester: the echo, or the ECU's.
    struct Outgoing {
        EcuTime due;
        unsigned char value = 0;
        bool from_ecu = false;
    };
    // What the ECU learns once the wire has carried it.
    struct Arriving {
        EcuTime due;
        enum class What { low, high, byte } what = What::byte;
        HeardByte byte;
    };

    bool ecu_hears() const;
    void deliver_due(EcuTime now);
    void take_ecu_bytes();
    void read_breaks();
    void take_break_line(const std::string& line);
    bool read_tester(int master);
    void tester_byte(unsigned char value, long rate, EcuTime now);
    bool write_due(int master, EcuTime now);
    void hold_low(int master, EcuTime now);
    std::optional<EcuTime> next_wake() const;
    void log_line(EcuTime at, const std::string& text);
    void schedule(const Outgoing& byte);

    EcuBusOptions options_;
    std::optional<EcuModel> model_;
    int breaks_ = -1;
    bool made_fifo_ = false;
    int log_ = -1;
    std::string break_text_;
    std::deque<Outgoing> outgoing_;
    std::deque<Arriving> arriving_;
    EcuTime tester_wire_free_;
    EcuTime next_zero_;
    bool blocked_ = false;
};
