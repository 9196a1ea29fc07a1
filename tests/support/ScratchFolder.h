#pragma once

// A folder of the test's own in the system's temporary folder, removed with
// everything in it when the test ends, so a full run leaves nothing behind.

#include <stdlib.h>

#include <filesystem>
#include <stdexcept>
#include <string>

namespace korvalin::test {

class ScratchFolder {
public:
    explicit ScratchFolder(const std::string& prefix) {
        std::string pattern = (std::filesystem::temp_directory_path() / (prefix + ".XXXXXX")).string();
        if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot make a folder for the test");
        FPath = pattern;
    }
    ~ScratchFolder() {
        std::error_code ec;
        std::filesystem::remove_all(FPath, ec);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::filesystem::path& Path() const { return FPath; }

private:
    std::filesystem::path FPath;
};

}  // namespace korvalin::test
