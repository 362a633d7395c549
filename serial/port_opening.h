// The one way a port is opened for a test, by the window's serial_open and by
// lantoric-check alike: decide whether the path may be opened at all, open it
// without blocking, hold it for this program, save the line as it was, set
// it. The result is either an open port that puts the line back and gives the
// hold up when it goes, or the reason it did not open.
#pragma once

#include "base/owners.h"
#include "serial/line_rate.h"
#include "serial/port_hold.h"
#include "serial/port_holders.h"

#include <optional>
#include <string>
#include <sys/types.h>
#include <termios.h>

struct PortRequest {
    // The node's bytes, used as they are.
    std::string path;
    // The line to set once the port is held; none only opens and holds it,
    // changing nothing on the line (a look at whether it would open).
    std::optional<termios> line;
    // A rate set through termios2 after the line, for rates the classic speed
    // constants lack (10400); 0 keeps the line's own.
    int rate = 0;
    // Decide from the node's status and the device's class in sysfs before
    // any open: only a terminal's character device is opened, never one of
    // this program's own terminals (its controlling terminal, its standard
    // streams', /dev/tty). The node is looked up once and the node decided on
    // is the one opened, so a link swapped meanwhile changes nothing. Off for
    // the window, which opens whatever node it is given.
    bool serial_lines_only = false;
    // Refuse a port another process has open (the device end of a
    // pseudo-terminal does not count), instead of sharing its line.
    bool refuse_shared = false;
};

// Why a port did not open; none when it did. Each has its word for people
// and scripts (opening_failure_word), checked by the compiler to be there.
enum class OpeningFailure {
    none,
    missing,           // no such file
    gone,              // a link whose target is gone, or no device behind the node
    not_a_serial_line, // no terminal device (a file, a FIFO, /dev/null, a watchdog)
    own_terminal,      // the terminal this program runs in
    permission_denied,
    busy,         // held by another program (see OpeningHold)
    refused_rate, // the driver refused the rate
    failed,       // any other error of the open
};

// An open port: its descriptor, held for this program, and the line as it was
// before. Going out of scope puts the line back, gives the hold up and closes.
class OpenPort {
  public:
    OpenPort() = default;
    // A port whose line was set (saved or not) discards its unsent output at
    // the close; one that was only looked at leaves the line's queues alone.
    OpenPort(OwnedDescriptor descriptor, std::optional<SavedLine> saved, bool line_set)
        : descriptor_(std::move(descriptor)), saved_(saved), line_set_(line_set) {}
    OpenPort(OpenPort&&) = default;
    OpenPort& operator=(OpenPort&& other) noexcept;
    // A destructor has no one to tell whether the line went back: a caller
    // that must know closes with close_now first.
    ~OpenPort() { (void)close_now(); }

    explicit operator bool() const { return static_cast<bool>(descriptor_); }
    int descriptor() const { return descriptor_.get(); }
    // The line as another program left it; none when nothing was changed.
    const std::optional<SavedLine>& saved() const { return saved_; }
    // Hands the descriptor over (to the serial table, which closes it with
    // port_close and saved()).
    int release() { return descriptor_.release(); }
    // Closes now, as port_close does; true when it held no port.
    [[nodiscard]] bool close_now();

  private:
    OwnedDescriptor descriptor_;
    std::optional<SavedLine> saved_;
    bool line_set_ = false;
};

struct PortOpening {
    OpenPort port;
    OpeningFailure failure = OpeningFailure::failed;
    // errno of the call that failed; EBUSY only when the open itself was
    // refused (another program's TIOCEXCL, for a user who is not root).
    int error = 0;
    OpeningHold hold = OpeningHold::none;
    // The node's type and group, when stat could read them.
    mode_t mode = 0;
    gid_t group = 0;
    // Who else has it open: looked up when the line is set (their waiting
    // input is then left alone) and when it is busy; the input waiting
    // whenever the port was held.
    PortHolders holders;
    // The line was set and the input waiting before was this program's to
    // drop (input_is_ours), and was dropped: later checks may drop theirs
    // too. Otherwise another program may be reading the port.
    bool input_ours = false;
    // The rate the line runs at after it was set, as the driver reads it back;
    // none when no line was set or the read failed.
    std::optional<int> rate;
    // The rate the driver refused (refused_rate only).
    int refused_rate = 0;
};

// The failure as one word for scripts and the listing: "opens", "permission
// denied", "busy", "no serial line", "gone", "missing", "failed", "own
// terminal", "refused rate".
const char* opening_failure_word(OpeningFailure failure);

// Opens a port as the request says. Never blocks: the open is non-blocking, a
// FIFO or folder is refused from stat when serial_lines_only is set. Input
// waiting from before is dropped only when no other process has the port
// open and every process could be looked into; a port that refuses sharing
// is refused as well when input waits and not every process could be looked
// into, since a program this user cannot see probably reads it. Any thread;
// no lock.
PortOpening port_open(const PortRequest& request);

// Closes a port handed over by OpenPort::release: clears a break and
// discards unsent output (a stuck adapter's close would wait for it) unless
// told to leave the line alone, puts the saved line back, gives the hold up and closes. Any thread;
// no lock; only system calls, so it may run in a signal handler. False when
// the line, still there, could not be put back: the break not cleared, or
// the saved settings refused; true for a line unplugged, hung up or let go,
// which has nothing left to put back.
[[nodiscard]] bool port_close(int descriptor, const std::optional<SavedLine>& saved,
                              bool discard_output = true);

// Whether the character device is a terminal by its class in sysfs (a
// pseudo-terminal slave has no sysfs entry and counts by its major).
bool is_serial_line(dev_t rdev, const std::string& sysfs_root = "/sys");

// Whether sysfs has a device for the character device number: a real serial
// port does, a pseudo-terminal does not.
bool has_sysfs_device(dev_t rdev, const std::string& sysfs_root = "/sys");

// Whether the character device is one of this process's own terminals.
bool is_own_terminal(dev_t rdev);
