// Scrambled passwords as they may stand in a settings file: unscrambling never fails badly,
// and any valid UTF-8 password survives scrambling and unscrambling.

#include "FuzzCheck.h"
#include "localfs/TextCodec.h"
#include "settings/Settings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    (void)oxlip::UnscramblePassword(input);
    FUZZ_CHECK(!oxlip::IsValidUtf8(input) ||
               oxlip::UnscramblePassword(oxlip::ScramblePassword(input)) == input);
    return 0;
}
