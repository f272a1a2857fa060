#include "support/TempDir.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace oxlip::test {

namespace fs = std::filesystem;

TempDir::TempDir() {
    std::string templ = (fs::temp_directory_path() / "oxlip-test-XXXXXX").string();
    if (!mkdtemp(templ.data())) {
        throw std::runtime_error("mkdtemp failed");
    }
    path_ = templ;
}

TempDir::~TempDir() {
    std::error_code ec;
    // Give back write permission that a test took away, so everything can go.
    for (auto it = fs::recursive_directory_iterator(path_, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_directory(ec) && !it->is_symlink(ec)) {
            ::chmod(it->path().c_str(), 0700);
        }
    }
    ::chmod(path_.c_str(), 0700);
    fs::remove_all(path_, ec);
}

std::string ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

bool WriteFileBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    return bool(out.write(bytes.data(), std::streamsize(bytes.size())).flush());
}

void MakeEntries(const std::string& top, std::initializer_list<std::string> entries) {
    for (const std::string& entry : entries) {
        const std::size_t arrow = entry.find(" -> ");
        const fs::path path = fs::path(top) / entry.substr(0, arrow);
        fs::create_directories(entry.ends_with('/') ? path : path.parent_path());
        if (arrow != std::string::npos) {
            fs::create_symlink(entry.substr(arrow + 4), path);
        } else if (!entry.ends_with('/')) {
            WriteFileBytes(path.string(), entry);
        }
    }
}

std::vector<std::string> NamesIn(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string RandomBytes(std::size_t size, unsigned seed) {
    std::string bytes(size, '\0');
    for (char& c : bytes) {
        seed = seed * 1103515245u + 12345u;
        c = char(seed >> 16);
    }
    return bytes;
}

ScopedEnv::ScopedEnv(const char* name) : name_(name) {
    if (const char* value = std::getenv(name)) {
        saved_ = value;
    }
}

ScopedEnv::~ScopedEnv() {
    saved_ ? ::setenv(name_, saved_->c_str(), 1) : ::unsetenv(name_);
    ::tzset(); // in case it was TZ
}

int RunInChild(const std::function<bool()>& prepare, const std::function<int()>& fn) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::_exit(prepare() ? fn() & 0x7f : 255);
    }
    int status = 0;
    for (int i = 0; pid > 0 && i < 1000; ++i) {
        if (::waitpid(pid, &status, WNOHANG) == pid) {
            return WIFEXITED(status) && WEXITSTATUS(status) != 255 ? WEXITSTATUS(status) : -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (pid > 0) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
    }
    return -1;
}

} // namespace oxlip::test
