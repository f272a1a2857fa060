#pragma once
// Line-end conversion of ASCII-mode transfers, block by block: the state carries a line end
// that is split between two blocks.

#include <cstddef>

namespace oxlip::ftp {

// Download: CR LF becomes LF; a CR not followed by LF stays.
class AsciiDecoder {
public:
    // Converts in place and returns the new size. carryCr comes back true when the CR that
    // ended the block before was not part of a CR LF: that CR must be written before this
    // block's output.
    std::size_t decode(char* data, std::size_t size, bool& carryCr);
    // At the end of the data: whether a final CR is still held back (it must be written).
    bool finish() {
        bool held = pendingCr_;
        pendingCr_ = false;
        return held;
    }

private:
    bool pendingCr_ = false;
};

// Upload: an LF without a CR before it becomes CR LF; CR LF and a lone CR stay.
class AsciiEncoder {
public:
    // Writes the converted block to out, which must hold 2 * size bytes; returns its size.
    std::size_t encode(const char* data, std::size_t size, char* out);

private:
    bool lastWasCr_ = false;
};

} // namespace oxlip::ftp
