#include "support/TestCerts.h"

#include <cstdio>
#include <memory>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>

namespace oxlip::test {

namespace {

using Key = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using Cert = std::unique_ptr<X509, decltype(&X509_free)>;

Key NewKey() {
    return Key(EVP_EC_gen("P-256"), EVP_PKEY_free);
}

void AddExtension(X509* cert, X509* issuer, int nid, const char* value) {
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
    if (ext) {
        X509_add_ext(cert, ext, -1);
        X509_EXTENSION_free(ext);
    }
}

// A certificate for the key, valid from fromDays to toDays around now; issuer null: its own.
Cert MakeCert(EVP_PKEY* key, const std::string& commonName, const char* altNames, X509* issuer,
              EVP_PKEY* issuerKey, long fromDays, long toDays, int serial, bool authority) {
    Cert cert(X509_new(), X509_free);
    X509_set_version(cert.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), serial);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), fromDays * 86400);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), toDays * 86400);
    X509_set_pubkey(cert.get(), key);
    X509_NAME* name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                               reinterpret_cast<const unsigned char*>(commonName.c_str()), -1, -1,
                               0);
    X509* signer = issuer ? issuer : cert.get();
    X509_set_issuer_name(cert.get(), X509_get_subject_name(signer));
    AddExtension(cert.get(), signer, NID_basic_constraints,
                 authority ? "critical,CA:TRUE" : "critical,CA:FALSE");
    if (altNames) {
        AddExtension(cert.get(), signer, NID_subject_alt_name, altNames);
    }
    X509_sign(cert.get(), issuerKey ? issuerKey : key, EVP_sha256());
    return cert;
}

bool WritePem(const std::string& path, X509* cert, EVP_PKEY* key) {
    const std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "w"), std::fclose);
    return file && (cert ? PEM_write_X509(file.get(), cert)
                         : PEM_write_PrivateKey(file.get(), key, nullptr, nullptr, 0, nullptr,
                                                nullptr)) == 1;
}

} // namespace

TestCerts::TestCerts() {
    caFile_ = dir_.file("ca.pem");
    int serial = 1;
    Key caKey = NewKey();
    Cert ca = MakeCert(caKey.get(), "Oxlip test authority", nullptr, nullptr, nullptr, -1, 30,
                       serial++, true);
    Key otherCaKey = NewKey();
    Cert otherCa = MakeCert(otherCaKey.get(), "Unknown authority", nullptr, nullptr, nullptr, -1,
                            30, serial++, true);
    ok_ = caKey && WritePem(caFile_, ca.get(), nullptr);
    for (CertKind kind : {CertKind::Good, CertKind::OtherName, CertKind::Expired,
                          CertKind::UnknownIssuer, CertKind::SelfSigned}) {
        const bool other = kind == CertKind::OtherName;
        const bool expired = kind == CertKind::Expired;
        const bool unknown = kind == CertKind::UnknownIssuer;
        X509* issuer = kind == CertKind::SelfSigned ? nullptr : unknown ? otherCa.get() : ca.get();
        EVP_PKEY* issuerKey = issuer ? (unknown ? otherCaKey.get() : caKey.get()) : nullptr;
        Key key = NewKey();
        Cert cert = MakeCert(key.get(), other ? "other.example" : "127.0.0.1",
                             other ? "DNS:other.example" : "IP:127.0.0.1,DNS:localhost", issuer,
                             issuerKey, expired ? -30 : -1, expired ? -1 : 30, serial++, false);
        const CertFiles files = server(kind);
        ok_ = ok_ && WritePem(files.cert, cert.get(), nullptr) &&
              WritePem(files.key, nullptr, key.get());
    }
}

CertFiles TestCerts::server(CertKind kind) const {
    const std::string base = dir_.file("server-" + std::to_string(int(kind)));
    return {base + ".pem", base + ".key"};
}

} // namespace oxlip::test
