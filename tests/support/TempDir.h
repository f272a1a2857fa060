#pragma once
// A temporary folder removed with everything in it when the object goes.

#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

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
// Makes each entry below top: "name/" a folder, "name -> target" a symbolic link, any other
// name a file holding that name; missing folders on the way are made too.
void MakeEntries(const std::string& top, std::initializer_list<std::string> entries);
// The names in a folder, sorted; none when it cannot be read.
std::vector<std::string> NamesIn(const std::string& folder);
// Bytes of every value in an order that the seed fixes.
std::string RandomBytes(std::size_t size, unsigned seed = 12345);

// Puts back an environment variable's value (or its absence) when the object goes.
class ScopedEnv {
public:
    explicit ScopedEnv(const char* name);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* name_;
    std::optional<std::string> saved_;
};

// Runs `fn` in a child process after `prepare` (in the child) succeeded. Returns what `fn`
// returned (0 to 127), or -1 when `prepare` failed or the child did not finish in 10 s.
int RunInChild(const std::function<bool()>& prepare, const std::function<int()>& fn);

} // namespace oxlip::test
