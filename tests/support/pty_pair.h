// A pseudo-terminal for serial tests: the test plays the device at the master
// while the code under test opens the slave path as it would a serial node.
#pragma once

#include <chrono>
#include <string>
#include <termios.h>

class PtyPair {
  public:
    // Opens a non-blocking master and, unless told otherwise, keeps a slave
    // descriptor of its own open in raw mode, so the master does not read EIO
    // whenever the code under test closes its port. Fails the test on error.
    explicit PtyPair(bool hold_slave = true);
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    bool ok() const { return master_ >= 0; }
    // "/dev/pts/N".
    const std::string& slave_path() const { return slave_path_; }
    int master() const { return master_; }

    // What the code under test wrote: reads until count bytes came or the
    // deadline passed, and returns what came.
    std::string read_master(std::size_t count,
                            std::chrono::milliseconds deadline = std::chrono::seconds(5));
    // Everything the master can read now, without waiting.
    std::string read_master_now();
    // Sends bytes towards the code under test; false if not all were taken.
    bool write_master(const std::string& bytes);
    // Waits up to the deadline until the slave has count bytes waiting to be
    // read (sent bytes reach the slave asynchronously).
    bool wait_slave_input(int count, std::chrono::milliseconds deadline = std::chrono::seconds(5));
    // The slave's settings as the code under test left them.
    termios slave_settings() const;

  private:
    int master_ = -1;
    int slave_ = -1;
    std::string slave_path_;
};
