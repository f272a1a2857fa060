#include "ftp/engine/AsciiMode.h"

namespace oxlip::ftp {

std::size_t AsciiDecoder::decode(char* data, std::size_t size, bool& carryCr) {
    carryCr = false;
    if (size == 0) {
        return 0;
    }
    if (pendingCr_) {
        pendingCr_ = false;
        carryCr = data[0] != '\n'; // a CR LF split between blocks loses its CR
    }
    std::size_t out = 0;
    for (std::size_t i = 0; i < size; ++i) {
        char c = data[i];
        if (c == '\r') {
            if (i + 1 == size) {
                pendingCr_ = true;
                continue;
            }
            if (data[i + 1] == '\n') {
                continue;
            }
        }
        data[out++] = c;
    }
    return out;
}

std::size_t AsciiEncoder::encode(const char* data, std::size_t size, char* out) {
    std::size_t n = 0;
    for (std::size_t i = 0; i < size; ++i) {
        char c = data[i];
        if (c == '\n' && !lastWasCr_) {
            out[n++] = '\r';
        }
        out[n++] = c;
        lastWasCr_ = c == '\r';
    }
    return n;
}

} // namespace oxlip::ftp
