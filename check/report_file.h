// --report FILE: the facts a seller or a forum would ask for about a failing
// adapter, in one plain-text file, so nobody has to ask for them again.
#pragma once

#include <string>

// Writes the report: the program's version, the kernel release, the
// distribution, the group memberships that matter, the listing with every
// port's USB identity, the tests as printed (tests_text) and what to do next.
// User and host names are left out, and the report says so at its top; the
// user's own group, which bears the user's name, is named "your own group". With
// a JSON document, it goes to FILE.json beside it. Returns false and sets
// error to one line when a file cannot be written. Only a regular file is
// written: a new one, or one that is there, replaced; never a link, a FIFO or
// a device, never the file standard output goes to, and no open waits.
bool write_report(const std::string& file, const std::string& tests_text, const std::string& json,
                  std::string& error);

// Whether the report (and with json FILE.json) could be written as
// write_report writes it, looked at without opening anything, so a long run
// does not end in a report that cannot be written. Returns false and sets
// error to one line when not.
bool report_writable(const std::string& file, bool json, std::string& error);
