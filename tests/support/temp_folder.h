// A real directory for a test, made empty under the system's temporary folder
// and removed with everything in it when the object goes, also when the test
// fails.
#pragma once

#include <string>

// The whole text of a file; empty when it cannot be read.
std::string file_text(const std::string& path);

class TempFolder {
  public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    // The folder's path, without a trailing "/".
    const std::string& path() const { return path_; }
    // path() + "/" + name.
    std::string path_of(const std::string& name) const;

    // Each makes one entry in the folder and fails the running test if it cannot.
    void add_file(const std::string& name) const;
    void add_folder(const std::string& name) const;
    void add_link(const std::string& name, const std::string& target) const;

  private:
    std::string path_;
};
