#pragma once
// Self-deleting temporary folders and copies of fixtures for tests that write.

#include <string>

class CTempDir {
public:
    CTempDir();
    ~CTempDir();
    CTempDir(const CTempDir&) = delete;
    CTempDir& operator=(const CTempDir&) = delete;

    const std::string& path() const { return path_; }
    // path() + "/" + name
    std::string File(const std::string& name) const;
    // Writes bytes to a new file below the folder; returns its path.
    std::string Write(const std::string& name, const std::string& bytes) const;
    // Copies a file (for example from the read-only corpus) into the folder.
    std::string Copy(const std::string& source, const std::string& name = "") const;

private:
    std::string path_;
};

std::string ReadFileBytes(const std::string& path);
// Path of a file in the shared corpus, e.g. CorpusFile("mp3/x.mp3").
std::string CorpusFile(const std::string& relative);
std::string FixtureFile(const std::string& name);
