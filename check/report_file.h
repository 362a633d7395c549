// --report FILE: the facts a seller or a forum would ask for about a failing
// adapter, in one plain-text file, so nobody has to ask for them again.
#pragma once

#include <string>

// Writes the report: the program's version, the kernel release, the
// distribution, the group memberships that matter, the listing with every
// port's USB identity, the tests as printed (tests_text) and what to do next.
// User and host names are left out, and the report says so at its top. With
// a JSON document, it goes to FILE.json beside it. Returns false and sets
// error to one line when a file cannot be written; an existing file is
// replaced, a link in its place is not followed.
bool write_report(const std::string& file, const std::string& tests_text,
                  const std::string& json, std::string& error);
