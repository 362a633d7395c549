// The line held low and let go (TIOCSBRK, TIOCCBRK), with what this program
// raised remembered until a clear goes through. A driver that refuses the
// break refuses its clear as well: a close that cannot clear a break it never
// raised has left nothing low, and must not say it did.
#pragma once

// Starts a break; false when the driver refused it, errno saying why.
// Async-signal-safe.
[[nodiscard]] bool raise_break(int descriptor);

// Ends a break. False when the line refused: it may be held low still, if
// break_may_be_held. Async-signal-safe: one system call and a flag.
[[nodiscard]] bool clear_break(int descriptor);

// Whether a break raised on the descriptor may still hold the line low: one
// went through and no clear has since. True for a descriptor too high to be
// remembered. Async-signal-safe.
bool break_may_be_held(int descriptor);

// The descriptor is closed: its number starts afresh. Async-signal-safe.
void forget_break(int descriptor);
