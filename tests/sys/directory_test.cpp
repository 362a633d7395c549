#include "sys/directory.h"

#include "tests/support/descriptor_count.h"
#include "tests/support/temp_folder.h"

#include <algorithm>
#include <climits>
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

using Names = std::vector<std::string>;

// Every name the listing reports, stepping to its end.
Names listed(object_number number) {
    Names names;
    while (dir_next_entry(number) == 1) {
        names.push_back(dir_entry_name(number));
    }
    return names;
}

// The names of the folder in the order its directory stream delivers them.
Names stream_order(const std::string& folder) {
    Names names;
    DIR* stream = opendir(folder.c_str());
    if (stream == nullptr) {
        ADD_FAILURE() << "cannot list " << folder;
        return names;
    }
    while (const dirent* entry = readdir(stream)) {
        names.emplace_back(entry->d_name);
    }
    closedir(stream);
    return names;
}

// The wanted names, in stream order.
Names in_stream_order(const std::string& folder, const Names& wanted) {
    Names ordered;
    for (const std::string& name : stream_order(folder)) {
        if (std::find(wanted.begin(), wanted.end(), name) != wanted.end()) {
            ordered.push_back(name);
        }
    }
    EXPECT_EQ(ordered.size(), wanted.size()) << "a wanted name is not in the folder";
    return ordered;
}

class DirectoryTest : public testing::Test {
  protected:
    void SetUp() override {
        for (const char* name :
             {"ttyUSB0", "ttyUSB1", "ttyUSB", "ttyS0", "xttyUSB2", "a.txt", "noext", ".hidden"}) {
            folder.add_file(name);
        }
        folder.add_folder("ttyUSB10");
    }
    void TearDown() override { dir_finish_all(); }

    Names every_name() const {
        return in_stream_order(folder.path(),
                               {".", "..", "ttyUSB0", "ttyUSB1", "ttyUSB", "ttyS0", "xttyUSB2",
                                "a.txt", "noext", ".hidden", "ttyUSB10"});
    }

    TempFolder folder;
};

TEST_F(DirectoryTest, PatternSelectsMatchingEntriesOfAnyKindInStreamOrder) {
    object_number listing = dir_examine(OBJECT_ANY, folder.path().c_str(), "ttyUSB*");
    ASSERT_NE(listing, 0);
    EXPECT_EQ(listed(listing),
              in_stream_order(folder.path(), {"ttyUSB0", "ttyUSB1", "ttyUSB", "ttyUSB10"}));
    dir_finish(listing);
}

TEST_F(DirectoryTest, StarDotStarEmptyAndNoPatternListEverythingWithDotEntries) {
    for (const char* pattern : {"*.*", "", static_cast<const char*>(nullptr), "*"}) {
        object_number listing = dir_examine(OBJECT_ANY, folder.path().c_str(), pattern);
        ASSERT_NE(listing, 0);
        EXPECT_EQ(listed(listing), every_name()) << (pattern ? pattern : "(none)");
        dir_finish(listing);
    }
    object_number listing = dir_examine(OBJECT_ANY, folder.path().c_str(), "*.txt");
    EXPECT_EQ(listed(listing), Names{"a.txt"});
}

// The prefix joins the folder and the name for lstat: a wrong one makes every
// status unreadable and the listing empty.
TEST_F(DirectoryTest, PathWithOrWithoutTrailingSlashListsTheSame) {
    EXPECT_EQ(dir_examine(1, folder.path().c_str(), nullptr), 1);
    EXPECT_EQ(dir_examine(2, (folder.path() + "/").c_str(), nullptr), 1);
    EXPECT_EQ(listed(1), every_name());
    EXPECT_EQ(listed(2), every_name());
}

TEST_F(DirectoryTest, EmptyOrNoPathListsTheCurrentDirectory) {
    std::string previous(PATH_MAX, '\0');
    ASSERT_NE(getcwd(previous.data(), previous.size()), nullptr);
    ASSERT_EQ(chdir(folder.path().c_str()), 0);
    object_number empty = dir_examine(OBJECT_ANY, "", "*");
    object_number none = dir_examine(OBJECT_ANY, nullptr, "*");
    Names from_empty = listed(empty);
    Names from_none = listed(none);
    EXPECT_EQ(chdir(previous.c_str()), 0);
    EXPECT_EQ(from_empty, every_name());
    EXPECT_EQ(from_none, every_name());
}

TEST_F(DirectoryTest, DanglingLinkIsReportedAndVanishedEntryIsSkipped) {
    folder.add_link("ttyACMgone", folder.path_of("no such device"));
    object_number listing = dir_examine(OBJECT_ANY, folder.path().c_str(), "ttyACM*");
    EXPECT_EQ(listed(listing), Names{"ttyACMgone"});

    Names numbered = in_stream_order(folder.path(), {"ttyUSB0", "ttyUSB1", "ttyUSB10"});
    listing = dir_examine(OBJECT_ANY, folder.path().c_str(), "ttyUSB?*");
    ASSERT_EQ(dir_next_entry(listing), 1);
    EXPECT_EQ(dir_entry_name(listing), numbered[0]);
    // The stream has read the whole small folder already; an entry removed now
    // still comes out of it, but its status can no longer be read.
    std::string removed = folder.path_of(numbered[1]);
    ASSERT_EQ(numbered[1] == "ttyUSB10" ? rmdir(removed.c_str()) : unlink(removed.c_str()), 0);
    EXPECT_EQ(listed(listing), Names{numbered[2]});
}

TEST_F(DirectoryTest, MissingDirectoryGivesNoListing) {
    std::string missing = folder.path_of("missing");
    EXPECT_EQ(dir_examine(OBJECT_ANY, missing.c_str(), "*"), 0);
    EXPECT_EQ(dir_examine(5, missing.c_str(), "*"), 0);
    EXPECT_EQ(dir_next_entry(5), 0);
    EXPECT_STREQ(dir_entry_name(5), "");
    dir_finish(5);
    EXPECT_EQ(dir_examine(6, folder.path_of("a.txt").c_str(), "*"), 0) << "not a directory";
    EXPECT_EQ(dir_next_entry(6), 0);
}

TEST_F(DirectoryTest, ReexaminingAnOpenNumberFinishesTheOldListingFirst) {
    TempFolder other;
    other.add_file("only");
    int before = open_descriptor_count();
    ASSERT_EQ(dir_examine(3, folder.path().c_str(), "ttyUSB*"), 1);
    ASSERT_EQ(dir_next_entry(3), 1);
    EXPECT_EQ(open_descriptor_count(), before + 1);

    ASSERT_EQ(dir_examine(3, other.path().c_str(), "o*"), 1);
    EXPECT_EQ(open_descriptor_count(), before + 1);
    EXPECT_EQ(listed(3), Names{"only"});

    EXPECT_EQ(dir_examine(3, other.path_of("missing").c_str(), "*"), 0);
    EXPECT_EQ(open_descriptor_count(), before);
    EXPECT_EQ(dir_next_entry(3), 0);
}

TEST_F(DirectoryTest, NoCurrentEntryBeforeTheFirstStepOrAfterTheEnd) {
    object_number listing = dir_examine(OBJECT_ANY, folder.path().c_str(), "a.txt");
    EXPECT_STREQ(dir_entry_name(listing), "");
    ASSERT_EQ(dir_next_entry(listing), 1);
    EXPECT_STREQ(dir_entry_name(listing), "a.txt");
    EXPECT_EQ(dir_next_entry(listing), 0);
    EXPECT_STREQ(dir_entry_name(listing), "");
    EXPECT_EQ(dir_next_entry(listing), 0) << "a listing at its end stays there";
}

TEST_F(DirectoryTest, AutomaticListingsAreIndependentAndInvalidOnceFinished) {
    object_number first = dir_examine(OBJECT_ANY, folder.path().c_str(), "ttyUSB0");
    object_number second = dir_examine(OBJECT_ANY, folder.path().c_str(), "ttyUSB1");
    ASSERT_NE(first, 0);
    ASSERT_NE(second, 0);
    EXPECT_NE(first, second);
    EXPECT_LT(first, -1);
    ASSERT_EQ(dir_next_entry(first), 1);
    ASSERT_EQ(dir_next_entry(second), 1);
    EXPECT_STREQ(dir_entry_name(first), "ttyUSB0");
    EXPECT_STREQ(dir_entry_name(second), "ttyUSB1");
    dir_finish(first);
    EXPECT_EQ(dir_next_entry(first), 0);
    EXPECT_STREQ(dir_entry_name(first), "");
    EXPECT_STREQ(dir_entry_name(second), "ttyUSB1");
}

TEST_F(DirectoryTest, FinishingLeavesNoDirectoryOpen) {
    int before = open_descriptor_count();
    object_number automatic = dir_examine(OBJECT_ANY, folder.path().c_str(), "*");
    dir_examine(OBJECT_ANY, folder.path().c_str(), "*");
    dir_examine(0, folder.path().c_str(), "*");
    dir_examine(17, folder.path().c_str(), "*");
    dir_examine(OBJECT_ANY, folder.path_of("missing").c_str(), "*");
    EXPECT_EQ(open_descriptor_count(), before + 4);
    dir_finish(automatic);
    dir_finish(automatic);
    EXPECT_EQ(open_descriptor_count(), before + 3);
    dir_finish_all();
    EXPECT_EQ(open_descriptor_count(), before);
    EXPECT_EQ(dir_next_entry(0), 0);
    EXPECT_EQ(dir_next_entry(17), 0);
}

// Names are bytes to the file system, in whatever encoding: a listed name
// joined to the folder's path must lead back to its own entry, and paths and
// patterns go over unconverted.
TEST_F(DirectoryTest, NamesPathsAndPatternsKeepTheirBytes) {
    const std::string cafe = folder.path_of("caf\xC3\xA9");
    folder.add_folder("caf\xC3\xA9");
    const Names odd_names{"\xC3\xA9t\xC3\xA9",       "\xE2\x82\xAC", "\xA4", "\xFF\xFEq",
                          "x\xC0\xAF..\xC0\xAFnull", "\xC0\xAE"};
    std::vector<ino_t> inodes;
    for (const std::string& name : odd_names) {
        int descriptor = open((cafe + "/" + name).c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600);
        ASSERT_GE(descriptor, 0) << testing::PrintToString(name);
        struct stat status;
        fstat(descriptor, &status);
        inodes.push_back(status.st_ino);
        close(descriptor);
    }
    object_number listing = dir_examine(OBJECT_ANY, cafe.c_str(), "[!.]*");
    ASSERT_NE(listing, 0);
    Names names = listed(listing);
    EXPECT_EQ(names, in_stream_order(cafe, odd_names));
    for (const std::string& name : names) {
        struct stat status;
        ASSERT_EQ(lstat((cafe + "/" + name).c_str(), &status), 0);
        auto made = std::find(odd_names.begin(), odd_names.end(), name) - odd_names.begin();
        EXPECT_EQ(status.st_ino, inodes[static_cast<std::size_t>(made)])
            << testing::PrintToString(name);
    }
    listing = dir_examine(OBJECT_ANY, cafe.c_str(), "\xC3\xA9*");
    EXPECT_EQ(listed(listing), Names{"\xC3\xA9t\xC3\xA9"});
    EXPECT_EQ(dir_examine(OBJECT_ANY, folder.path_of("caf\xE9").c_str(), "*"), 0)
        << "a path is not re-encoded into another";
}

// Makes folders inside each other until the path is nearly as long as asked.
std::string deep_folder(const std::string& base, std::size_t length) {
    std::string path = base;
    std::string component(200, 'd');
    while (path.size() + 1 + component.size() < length) {
        path += "/" + component;
        if (mkdir(path.c_str(), 0700) != 0) {
            ADD_FAILURE() << "cannot make a deep folder";
            return base;
        }
    }
    return path;
}

TEST_F(DirectoryTest, PathsBeyondTheLimitAreRefusedOrSkipped) {
    std::string deep = deep_folder(folder.path(), PATH_MAX - 40);
    // Folder, "/" and name: PATH_MAX - 1 bytes fit with the terminating zero,
    // PATH_MAX bytes do not.
    std::string fits(PATH_MAX - 2 - deep.size(), 'f');
    std::string too_long(PATH_MAX - 1 - deep.size(), 'n');
    ASSERT_LE(too_long.size(), 255u);
    int directory = open(deep.c_str(), O_DIRECTORY | O_RDONLY | O_CLOEXEC);
    ASSERT_GE(directory, 0);
    for (const std::string& name : {std::string("short"), fits, too_long}) {
        int descriptor = openat(directory, name.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600);
        ASSERT_GE(descriptor, 0);
        close(descriptor);
    }
    close(directory);

    object_number listing = dir_examine(OBJECT_ANY, deep.c_str(), "[!.]*");
    ASSERT_NE(listing, 0);
    EXPECT_EQ(listed(listing), in_stream_order(deep, {"short", fits}));

    EXPECT_EQ(dir_examine(4, (deep + "/" + std::string(300, 'x')).c_str(), "*"), 0);
}

} // namespace
