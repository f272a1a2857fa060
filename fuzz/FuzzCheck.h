#pragma once
// A check that stops the fuzzer with a message when a property does not hold; input splitting.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#define FUZZ_CHECK(condition)                                                                      \
    ((condition)                                                                                   \
         ? void()                                                                                  \
         : (std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition),     \
            std::abort()))

// The input split at each separator; with a limit, the last part holds the rest.
inline std::vector<std::string> SplitInput(const uint8_t* data, size_t size, char separator,
                                           size_t most = SIZE_MAX) {
    std::vector<std::string> parts(1);
    for (const char c : std::string(reinterpret_cast<const char*>(data), size)) {
        if (c == separator && parts.size() < most) {
            parts.emplace_back();
        } else {
            parts.back() += c;
        }
    }
    return parts;
}
