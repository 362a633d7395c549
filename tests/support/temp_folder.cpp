#include "tests/support/temp_folder.h"

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <sys/stat.h>
#include <unistd.h>

TempFolder::TempFolder() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern =
        std::string(base != nullptr && base[0] != '\0' ? base : "/tmp") + "/lantoric-test.XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
        ADD_FAILURE() << "cannot make a temporary folder from " << pattern;
        return;
    }
    path_ = pattern;
}

TempFolder::~TempFolder() {
    if (!path_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
}

std::string TempFolder::path_of(const std::string& name) const {
    return path_ + "/" + name;
}

void TempFolder::add_file(const std::string& name) const {
    int descriptor = open(path_of(name).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    ASSERT_GE(descriptor, 0) << "cannot make file " << name;
    close(descriptor);
}

void TempFolder::add_folder(const std::string& name) const {
    ASSERT_EQ(mkdir(path_of(name).c_str(), 0700), 0) << "cannot make folder " << name;
}

void TempFolder::add_link(const std::string& name, const std::string& target) const {
    ASSERT_EQ(symlink(target.c_str(), path_of(name).c_str()), 0) << "cannot make link " << name;
}

std::string file_text(const std::string& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
