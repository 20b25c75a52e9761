#include "support/temp_dir.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

CTempDir::CTempDir() {
    std::string pattern = (fs::temp_directory_path() / "melodex-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

CTempDir::~CTempDir() {
    std::error_code ec;
    // Make read-only test folders removable again before deleting.
    for (auto it = fs::recursive_directory_iterator(path_, ec); !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_directory(ec) && !it->is_symlink(ec))
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(path_, ec);
}

std::string CTempDir::File(const std::string& name) const { return path_ + "/" + name; }

std::string CTempDir::Write(const std::string& name, const std::string& bytes) const {
    std::string path = File(name);
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
    return path;
}

std::string CTempDir::Copy(const std::string& source, const std::string& name) const {
    std::string target = File(name.empty() ? fs::path(source).filename().string() : name);
    fs::copy_file(source, target, fs::copy_options::overwrite_existing);
    fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::add);
    return target;
}

std::string ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

std::string CorpusFile(const std::string& relative) {
    return std::string(MELODEX_CORPUS_DIR) + "/" + relative;
}

std::string FixtureFile(const std::string& name) {
    return std::string(MELODEX_FIXTURE_DIR) + "/" + name;
}
