#pragma once
// What the fuzz targets share: a check that stops the fuzzer with a message when a property
// of the code does not hold, and the input cut into parts.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition);     \
            std::abort();                                                                          \
        }                                                                                          \
    } while (false)

// The input split at each separator; with a limit, the last part holds the rest.
inline std::vector<std::string> SplitInput(const uint8_t* data, size_t size, char separator,
                                           size_t most = SIZE_MAX) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> parts;
    size_t begin = 0;
    for (size_t end;
         parts.size() + 1 < most && (end = input.find(separator, begin)) != std::string::npos;
         begin = end + 1) {
        parts.push_back(input.substr(begin, end - begin));
    }
    parts.push_back(input.substr(begin));
    return parts;
}
