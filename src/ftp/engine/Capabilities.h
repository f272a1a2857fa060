#pragma once
// What one connection has learned about its server: what FEAT offered, and what the server
// has shown it takes or refuses since.

#include "ftp/engine/Tls.h"

#include <set>
#include <string>

namespace oxlip::ftp {

struct Reply;

struct ServerCapabilities {
    std::set<std::string> features; // FEAT keywords, upper case ("MLST", "UTF8", "SIZE" …)
    std::string mlstFacts;          // the parameters of FEAT's MLST line ("type*;size*;…")
    bool utf8 = false;              // names are UTF-8: UTF8 offered and "OPTS UTF8 ON" taken
    bool epsvRefused = false;       // EPSV was refused or its data connection failed: PASV
    bool eprtRefused = false;       // EPRT was refused once: PORT from then on
    bool aheadRefused = false;      // an EPSV sent ahead got no usable 229: none ahead again
    bool listDashA = true;          // "LIST -a" lists hidden files (the server took it)
    TlsState tls;                   // FTPS on the control and data connections

    bool has(const std::string& keyword) const { return features.count(keyword) > 0; }
    // Takes in a 211 reply to FEAT.
    void readFeat(const Reply& feat);
    // The facts for "OPTS MLST" that the records need, among those offered ("type;size;…");
    // empty when none is.
    std::string mlstFactsWanted() const;
};

} // namespace oxlip::ftp
