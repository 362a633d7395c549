#include "app/core/port_candidates.h"

#include "sys/directory.h"

std::vector<std::string> port_candidates(const std::string& folder,
                                         std::initializer_list<const char*> patterns) {
    std::vector<std::string> paths;
    for (const char* pattern : patterns) {
        object_number listing = dir_examine(OBJECT_ANY, folder.c_str(), pattern);
        if (listing == 0) {
            continue;
        }
        while (dir_next_entry(listing) != 0) {
            paths.push_back(folder + "/" + dir_entry_name(listing));
        }
        dir_finish(listing);
    }
    return paths;
}
