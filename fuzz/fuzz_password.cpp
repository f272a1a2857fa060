// Scrambled passwords as they may stand in a settings file: unscrambling never fails badly,
// and any valid UTF-8 password survives scrambling and unscrambling.

#include "FuzzCheck.h"
#include "localfs/TextCodec.h"
#include "settings/Settings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    (void)oxlip::UnscramblePassword(input);
    if (oxlip::IsValidUtf8(input)) {
        const std::string scrambled = oxlip::ScramblePassword(input);
        FUZZ_CHECK(oxlip::UnscramblePassword(scrambled) == input);
    }
    return 0;
}
