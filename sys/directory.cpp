#include "sys/directory.h"

#include "base/owners.h"
#include "base/text_storage.h"

#include <climits>
#include <dirent.h>
#include <fnmatch.h>
#include <new>
#include <string>
#include <sys/stat.h>

namespace {

// Built in place in the registry's zero-filled record once the directory is
// open, and destroyed before the record is given back: a Listing lives exactly
// while its stream is non-zero.
struct Listing {
    OwnedDirectory stream; // first field: non-zero while the listing is open
    std::string pattern;
    std::string prefix; // the directory path ending in "/"
    struct stat status; // of the current entry, as lstat read it
    std::string current_name;
    bool has_current;
};

ObjectTable* listing_table = nullptr;

// Call with the table held.
Listing* find_listing_locked(object_number number) {
    return static_cast<Listing*>(registry_lookup(listing_table, number));
}

bool fits_path_limit(const std::string& path) {
    return path.size() < PATH_MAX;
}

// The registry reads the first pointer-sized bytes of a record to tell whether
// it is live: they must be the stream pointer and nothing else.
static_assert(sizeof(OwnedDirectory) == sizeof(DIR*));

} // namespace

object_number dir_examine(object_number number, const char* directory, const char* pattern) {
    registry_create_once(&listing_table, sizeof(Listing), 16, dir_finish);
    // Names are bytes to the file system: paths and patterns go over as they
    // are, so that every name a listing gives opens its own entry again.
    std::string path = directory == nullptr || directory[0] == '\0' ? "." : directory;
    std::string wanted = pattern == nullptr ? std::string() : pattern;
    // "*.*" would leave out names without a dot; it is meant as "everything".
    if (wanted == "*.*") {
        wanted = "*";
    }
    std::string prefix = path.back() == '/' ? path : path + "/";

    auto hold = registry_hold(listing_table);
    void* record = registry_allocate(listing_table, number);
    if (record == nullptr) {
        return 0;
    }
    object_number allocated = registry_number_of(listing_table, record);
    OwnedDirectory stream(fits_path_limit(prefix) ? opendir(path.c_str()) : nullptr);
    if (!stream) {
        // Give the record back too, or every failed automatic open would keep one.
        registry_release(listing_table, allocated);
        return 0;
    }
    new (record) Listing{std::move(stream), std::move(wanted), std::move(prefix), {}, {}, false};
    return number == OBJECT_ANY ? allocated : 1;
}

int dir_next_entry(object_number number) {
    if (listing_table == nullptr) {
        return 0;
    }
    auto hold = registry_hold(listing_table);
    Listing* listing = find_listing_locked(number);
    if (listing == nullptr) {
        return 0;
    }
    listing->has_current = false;
    listing->current_name.clear();
    while (const dirent* entry = readdir(listing->stream.get())) {
        // No FNM_PERIOD: "*" matches ".", ".." and hidden names as well.
        if (!listing->pattern.empty() &&
            fnmatch(listing->pattern.c_str(), entry->d_name, FNM_PATHNAME) != 0) {
            continue;
        }
        std::string path = listing->prefix + entry->d_name;
        if (!fits_path_limit(path) || lstat(path.c_str(), &listing->status) != 0) {
            continue;
        }
        listing->current_name = entry->d_name;
        listing->has_current = true;
        return 1;
    }
    return 0;
}

const char* dir_entry_name(object_number number) {
    std::string name;
    if (listing_table != nullptr) {
        auto hold = registry_hold(listing_table);
        Listing* listing = find_listing_locked(number);
        if (listing != nullptr && listing->has_current) {
            name = listing->current_name;
        }
    }
    return text_result(name);
}

void dir_finish(object_number number) {
    if (listing_table == nullptr) {
        return;
    }
    auto hold = registry_hold(listing_table);
    InPlace<Listing> listing(find_listing_locked(number));
    if (listing == nullptr) {
        return;
    }
    // Ends the listing, closing its stream, before its record is cleared.
    listing.reset();
    registry_release(listing_table, number);
}

void dir_finish_all() {
    if (listing_table != nullptr) {
        registry_release_all(listing_table);
    }
}
