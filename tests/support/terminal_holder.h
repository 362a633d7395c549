// Another program using a terminal: a child process that opens the node at a
// path, gives it settings of its own and keeps it open until the object goes,
// so a test can see that the code under test leaves such a port alone, or
// refuses it when the other program asked for it alone.
#pragma once

#include <string>
#include <sys/types.h>
#include <termios.h>

class TerminalHolder {
  public:
    // Besides keeping it open at 115200 baud in line mode (canonical input,
    // echo), as a terminal program leaves it:
    struct Use {
        bool take_flock = false;     // flock(LOCK_EX) on its descriptor
        bool take_exclusive = false; // TIOCEXCL on its descriptor
    };
    // Starts the child and waits up to five seconds until it holds the node;
    // on failure the current test fails and ready() is false.
    explicit TerminalHolder(const std::string& path, Use use);
    // Ends the child and waits for it.
    ~TerminalHolder();
    TerminalHolder(const TerminalHolder&) = delete;
    TerminalHolder& operator=(const TerminalHolder&) = delete;

    bool ready() const { return ready_; }

    struct Seen {
        termios settings{};
        int waiting = -1; // bytes the child could read now (FIONREAD)
    };
    // The terminal as the child sees it now; waiting stays -1 if it cannot say.
    Seen seen();
    // Waits up to five seconds until the child has count bytes waiting.
    bool wait_waiting(int count);

  private:
    pid_t pid_ = -1;
    int channel_ = -1; // a socket to the child: a byte asks, a Seen answers
    bool ready_ = false;
};
