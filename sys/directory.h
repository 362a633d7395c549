// Numbered directory listings: a listing is opened on a directory with an
// optional wildcard pattern, stepped entry by entry in the order the directory
// delivers them, asked for the current entry's name and finished. Only entries
// that match the pattern and whose own status can be read (symbolic links are
// not followed) are reported; "." and ".." are reported whenever they match.
// There is no sorting and no recursion.
//
// Listings live in a registry table (growth 16, release dir_finish) made by the
// first dir_examine. Each operation takes the table's lock for its whole step,
// so a listing finished by one thread is never read by another afterwards; one
// listing is meant to be stepped by one thread at a time.
#pragma once

#include "base/registry.h"

// Opens a listing of the directory (a path, its bytes used as they are; none
// or empty means ".") with the wildcard pattern (matched against the names'
// bytes; none or empty matches every entry, and "*.*" matches every name,
// with or without a dot). Returns 1 for an explicit number, the listing's
// automatic number for OBJECT_ANY, and 0 if the directory cannot be opened or
// its path does not fit in PATH_MAX bytes. An explicit number that names an
// open listing is finished first, even when the new directory then fails to
// open. Any thread; takes the listing table's lock.
object_number dir_examine(object_number number, const char* directory, const char* pattern);

// Moves to the next entry that matches the pattern and whose status can be
// read. Returns 1 when there is one, now current; 0 at the end of the directory
// (no entry is current then) or if the number names no open listing. Entries
// whose full path would not fit in PATH_MAX bytes are skipped. Any thread;
// takes the listing table's lock.
int dir_next_entry(object_number number);

// The current entry's name, its bytes exactly as the directory holds them
// (whatever their encoding), in the calling thread's text storage, valid until
// that thread's next text result; the prefix and the name open that entry. The empty text if the
// number names no open listing or no entry is current. Any thread; takes the listing table's lock.
const char* dir_entry_name(object_number number);

// Closes the listing and gives its number up; does nothing if the number names
// no open listing. Any thread; takes the listing table's lock.
void dir_finish(object_number number);

// Finishes every open listing: explicit numbers ascending, then automatic ones
// oldest first. Main thread, at shutdown.
void dir_finish_all();
