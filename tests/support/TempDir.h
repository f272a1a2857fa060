#pragma once
// Temporary folders and small file and process helpers for the tests.

#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

namespace oxlip::test {

// A folder removed with everything in it when the object goes.
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

std::string ReadFileBytes(const std::string& path);
bool WriteFileBytes(const std::string& path, const std::string& bytes);
// Makes each entry below top, with missing folders on the way: "name/" a folder, "name ->
// target" a symbolic link, any other name a file holding that name.
void MakeEntries(const std::string& top, std::initializer_list<std::string> entries);
// The names in a folder, sorted.
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

// What `fn` returned (0 to 127) in a child process once `prepare` succeeded there; -1 when
// it failed or the child did not finish in 10 s.
int RunInChild(const std::function<bool()>& prepare, const std::function<int()>& fn);

} // namespace oxlip::test
