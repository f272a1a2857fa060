// Names from a server: the input is split at "\n" into names that one connection sees.
// Every name decodes to valid UTF-8 and encodes back to exactly the bytes it came as, in both
// server modes; encoding never brings in a line end or NUL that the text did not hold.

#include "FuzzCheck.h"
#include "ftp/engine/NameCodec.h"
#include "ftp/engine/ReplyText.h"
#include "localfs/TextCodec.h"

using namespace oxlip::ftp;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<std::string> names = SplitInput(data, size, '\n');

    for (bool serverUtf8 : {true, false}) {
        NameCodec codec(serverUtf8);
        std::vector<std::string> decoded;
        for (const std::string& raw : names) {
            decoded.push_back(codec.Decode(raw));
            FUZZ_CHECK(oxlip::IsValidUtf8(decoded.back()));
        }
        // Every name, also those decoded before later names changed the codec's view; text that
        // never came from the server (typed by a user) encodes safely.
        for (std::size_t i = 0; i < names.size(); ++i) {
            FUZZ_CHECK(codec.Encode(decoded[i]) == names[i]);
            FUZZ_CHECK(!IsSafeForCommand(names[i]) || IsSafeForCommand(codec.Encode(names[i])));
        }
    }
    const std::string input(reinterpret_cast<const char*>(data), size);
    FUZZ_CHECK(UnescapeBytes(EscapeInvalidUtf8(input)) == input);
    return 0;
}
