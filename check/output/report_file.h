// --report FILE: the facts a seller or a forum would ask for about a failing
// adapter, in one plain-text file, so nobody has to ask for them again.
#pragma once

#include "base/owners.h"

#include <string>
#include <vector>

// The files a report goes to: FILE, and with a JSON document FILE.json beside
// it. Each is made before the test, as a file without a name in its folder
// with room taken, so a long run never ends in a report that cannot be
// written; at the end it gets its name by a rename, so the report never
// writes into another file: not through a second link, not into a file of
// another user. Only a regular file of this user's (or one it may write in a
// folder where nobody else may put files) is replaced; never a link, a FIFO
// or a device, never the file standard output goes to, and no open waits.
// Each target is looked at without following a link, before the test and
// again at the end.
class ReportFiles {
  public:
    // Makes the files for FILE (and with json FILE.json). Returns false and
    // sets error to one line when one cannot be made and written there;
    // nothing is left behind then.
    bool prepare(const std::string& file, bool json, std::string& error);

    // Writes the report: the program's version, the kernel release, the
    // distribution, the group memberships that matter, the listing with every
    // port's USB identity, the tests as printed (tests_text) and what to do
    // next; the JSON document, if any, to FILE.json. User and host names are
    // left out, and the report says so at its top; the user's own group, which
    // bears the user's name, is named "your own group". Returns false and sets
    // error to one line when a file cannot be written; no file made for it is
    // left behind then.
    bool write(const std::string& tests_text, const std::string& json, std::string& error);

  private:
    struct Target {
        std::string path;
        // The file without a name; none where the filesystem has no such
        // files (it is made, with a name, at the end).
        OwnedDescriptor unnamed;
    };
    std::vector<Target> targets_;
};
