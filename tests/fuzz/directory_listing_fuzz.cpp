// Fuzz target for directory listings: every name a listing gives leads back
// to its own entry.
//
// The input names up to twelve entries of one real folder, separated by "/"
// or zero bytes; each piece's first byte picks the kind (file, folder,
// dangling link) and the rest is the name, any bytes. The folder is listed
// with dir_examine and each name the listing gives is taken the way a device
// name goes: into the port chooser and back (text_to_toolkit,
// text_from_toolkit), then to the system as the open gives it, bytes as they
// are. The entry that path reaches must be the listing's own: entries are reached in directory
// order and none twice, so a name that stands for another entry, or for a path outside the folder,
// fails. A listing may leave out a name that cannot make the trip, but never a plain ASCII one.
#include "base/text_decoding.h"
#include "gui/text_encoding.h"
#include "sys/directory.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

std::string folder;

struct Entry {
    std::string name;
    ino_t inode;
};

[[noreturn]] void fail(const char* what, const std::string& name) {
    std::string shown;
    for (unsigned char byte : name) {
        char digits[4];
        std::snprintf(digits, sizeof digits, "%02X ", byte);
        shown += digits;
    }
    std::fprintf(stderr, "%s\n  name: %s\n", what, shown.c_str());
    std::abort();
}

void remove_folder() {
    if (!folder.empty()) {
        rmdir(folder.c_str());
    }
}

bool make_entry(char kind, const std::string& name) {
    std::string path = folder + "/" + name;
    switch (static_cast<unsigned char>(kind) % 3) {
    case 0: {
        int descriptor = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
        if (descriptor < 0) {
            return false;
        }
        close(descriptor);
        return true;
    }
    case 1:
        return mkdir(path.c_str(), 0700) == 0;
    default:
        return symlink("missing", path.c_str()) == 0;
    }
}

void remove_entry(const std::string& name) {
    std::string path = folder + "/" + name;
    if (unlink(path.c_str()) != 0) {
        rmdir(path.c_str());
    }
}

// The folder as the system lists it, in its own order, "." and ".." included.
std::vector<Entry> read_folder() {
    std::vector<Entry> entries;
    DIR* stream = opendir(folder.c_str());
    if (stream == nullptr) {
        fail("the fuzz folder cannot be read", folder);
    }
    while (const dirent* entry = readdir(stream)) {
        entries.push_back({entry->d_name, entry->d_ino});
    }
    closedir(stream);
    return entries;
}

std::vector<std::string> listed_names() {
    std::vector<std::string> names;
    object_number listing = dir_examine(OBJECT_ANY, folder.c_str(), nullptr);
    if (listing == 0) {
        fail("the fuzz folder cannot be listed", folder);
    }
    while (dir_next_entry(listing) != 0) {
        names.emplace_back(dir_entry_name(listing));
    }
    dir_finish(listing);
    return names;
}

bool is_plain_ascii(const std::string& name) {
    for (unsigned char byte : name) {
        if (byte < 0x20 || byte > 0x7E) {
            return false;
        }
    }
    return true;
}

void check_listing(const std::vector<Entry>& entries) {
    std::vector<bool> reached(entries.size(), false);
    std::size_t next_position = 0;
    for (const std::string& name : listed_names()) {
        std::string in_chooser = text_from_toolkit(text_to_toolkit(name.c_str()).get());
        std::string path = folder + "/" + in_chooser;
        struct stat status {};
        if (lstat(path.c_str(), &status) != 0) {
            fail("a listed name leads to no entry", name);
        }
        std::size_t position = next_position;
        while (position < entries.size() && entries[position].inode != status.st_ino) {
            ++position;
        }
        if (position == entries.size()) {
            fail("a listed name leads to another entry than its own", name);
        }
        reached[position] = true;
        next_position = position + 1;
    }
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (!reached[i] && is_plain_ascii(entries[i].name)) {
            fail("a plain ASCII name is left out of the listing", entries[i].name);
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    const char* temporary = std::getenv("TMPDIR");
    std::string pattern =
        std::string(temporary != nullptr ? temporary : "/tmp") + "/lantoric-listing-fuzz.XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
        fail("no temporary folder", pattern);
    }
    folder = pattern;
    std::atexit(remove_folder);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    constexpr std::size_t most_entries = 12;
    constexpr std::size_t longest_name = 255;
    std::vector<std::string> made;
    std::string piece;
    auto take_piece = [&] {
        std::string name = piece.size() > 1 ? piece.substr(1, longest_name) : std::string();
        if (!name.empty() && name != "." && name != ".." && made.size() < most_entries &&
            make_entry(piece[0], name)) {
            made.push_back(name);
        }
        piece.clear();
    };
    for (std::size_t i = 0; i < size; ++i) {
        char byte = static_cast<char>(data[i]);
        if (byte == '/' || byte == '\0') {
            take_piece();
        } else {
            piece.push_back(byte);
        }
    }
    take_piece();

    check_listing(read_folder());
    for (const std::string& name : made) {
        remove_entry(name);
    }
    return 0;
}
