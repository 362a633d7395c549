// Whether a device node opens as a port, without disturbing a program that is
// using it.
#pragma once

// Opens the node at path (its bytes as they are) read-write, non-blocking and
// without becoming its controlling terminal, and closes it at once. Nothing
// else happens: no line setting changes, no waiting input or unsent output is
// discarded, so a port that another program holds open is left exactly as it
// was. Any node that opens counts (a FIFO too: it opens at once in this mode).
// Returns 1 if it opened, 0 if not or for a null path. Any thread; no lock.
int serial_probe(const char* path);
