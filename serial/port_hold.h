// Holding a port for this program alone while it uses it, so that a test never
// shares its line with another program that asked for the port for itself.
#pragma once

// How another program holds a port that cannot be had.
enum class OpeningHold {
    none,
    exclusive, // TIOCEXCL: only root's open passes it
    flock,     // an advisory lock on the node
    shared,    // only open, and the opening was told not to share
};

// Takes the port behind a freshly opened descriptor. Refuses (exclusive or
// flock, nothing changed) when another program asked for the port alone: it
// holds an advisory flock on the node, or has set the terminal exclusive
// (TIOCEXCL). Otherwise sets the terminal exclusive, so that later opens of it
// fail with EBUSY for every user but root, takes flock(LOCK_EX | LOCK_NB),
// which binds root too, and returns none. A node that is no terminal is held
// by the flock alone, and a file system without flock does not make it
// refuse. Descriptors that others merely have open do not count here: test
// rigs and simulators keep their own end open. Any thread; no lock.
OpeningHold serial_hold_port(int descriptor);

// Gives the hold up just before the descriptor is closed. The exclusive mode
// belongs to the terminal, not the descriptor: left set, it would outlive the
// close while another program still has the terminal open. The flock ends
// with the close itself. Any thread; no lock; a system call only.
void serial_release_port(int descriptor);
