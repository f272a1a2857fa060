#pragma once
// A temporary folder removed with everything in it when the object goes.

#include <functional>
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

// Whole-file helpers for tests; false when the file could not be written.
std::string ReadFileBytes(const std::string& path);
bool WriteFileBytes(const std::string& path, const std::string& bytes);
// Bytes of every value in an order that the seed fixes.
std::string RandomBytes(std::size_t size, unsigned seed = 12345);

// Runs `fn` in a child process after `prepare` (in the child) succeeded. Returns what `fn`
// returned (0 to 127), or -1 when `prepare` failed or the child did not finish in 10 s.
int RunInChild(const std::function<bool()>& prepare, const std::function<int()>& fn);

} // namespace oxlip::test
