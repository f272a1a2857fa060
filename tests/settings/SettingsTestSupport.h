#pragma once
// Helpers shared by the settings tests.

#include "settings/Settings.h"

#include <gtest/gtest.h>
#include <regex>
#include <sstream>
#include <string>
#include <sys/stat.h>

namespace oxlip::test {

// File content from lines separated by '|', each ended by CR LF.
inline std::string Crlf(const std::string& lines) {
    return std::regex_replace(lines, std::regex("\\|"), "\r\n") + "\r\n";
}

inline unsigned ModeOf(const std::string& path) {
    struct stat st {};
    ::stat(path.c_str(), &st);
    return st.st_mode & 07777;
}

// Records what the settings do to the window; -1 marks a value never set.
struct FakeWindow : WindowPlacement {
    float l = -1, t = -1, w = -1, h = -1;
    int state = -1;
    std::string calls;

    void setPlacement(float left, float top, float width, float height) override {
        l = left, t = top, w = width, h = height, calls += "place ";
    }
    void setSizeOnly(float width, float height) override {
        w = width, h = height, calls += "size ";
    }
    void setWindowState(int s) override { state = s, calls += "state "; }
    float left() const override { return l; }
    float top() const override { return t; }
    float width() const override { return w; }
    float height() const override { return h; }
    int windowState() const override { return state; }
    // The calls made, then "left,top widthxheight state".
    std::string shown() const {
        std::ostringstream out;
        out << calls << l << ',' << t << ' ' << w << 'x' << h << ' ' << state;
        return out.str();
    }
};

// The saves made at exit, in their order; true when all of them succeeded.
inline bool SaveAll(Settings& s, const FakeWindow& w) {
    const bool extensions = s.SaveAsciiExtensions();
    const bool profile = s.SaveProfile();
    return s.SaveAppSettings(&w) && extensions && profile;
}

} // namespace oxlip::test
