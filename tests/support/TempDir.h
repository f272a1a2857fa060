#pragma once
// A temporary folder removed with everything in it when the object goes.

#include <string>

namespace oxlip::test {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; } // no final "/"
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Whole-file helpers for tests.
std::string ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::string& bytes);
// Bytes of every value in an order that the seed fixes.
std::string RandomBytes(std::size_t size, unsigned seed = 12345);

} // namespace oxlip::test
