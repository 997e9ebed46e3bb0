// Scratch folders and whole-file reads and writes, for tests of any part.
#pragma once

#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

namespace wce::test {

namespace fs = std::filesystem;

// A host folder of the test's own, removed with everything in it (read-only entries too).
class ScratchFolder {
  public:
    // base picks the filesystem (/dev/shm for memory, say).
    explicit ScratchFolder(const fs::path& base = fs::temp_directory_path()) {
        std::string tmpl = (base / "wce-test-XXXXXX").string();
        if (!mkdtemp(tmpl.data())) throw std::runtime_error("no folder in " + base.string());
        path_ = tmpl;
    }
    ~ScratchFolder() {
        std::error_code ec;
        // A link's target may lie outside (a test links to "/"): never made writable through it.
        for (auto& p : fs::recursive_directory_iterator(path_, ec))
            if (!p.is_symlink(ec)) chmod(p.path().c_str(), 0700);
        fs::remove_all(path_, ec);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    const fs::path& path() const { return path_; }

  private:
    fs::path path_;
};

inline void WriteFile(const fs::path& path, const std::string& data) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << data;
}
// To its end, in bulk (files here run to megabytes), not to the size a FUSE client may still
// have cached from before a rename.
inline std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream data;
    if (in) data << in.rdbuf();
    return std::move(data).str();
}

}  // namespace wce::test
