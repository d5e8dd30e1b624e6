// Adds a certificate authority to the Windows prefix's machine-wide Root
// store, so the test servers' certificates are trusted there, and only there.
//
//   ostrel_trust_ca.exe <certificate.der>
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

namespace {

struct StoreHandle {
    HCERTSTORE handle = nullptr;
    ~StoreHandle() {
        if (handle) ::CertCloseStore(handle, 0);
    }
};

struct CertificateContext {
    PCCERT_CONTEXT context = nullptr;
    ~CertificateContext() {
        if (context) ::CertFreeCertificateContext(context);
    }
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::fwprintf(stderr, L"usage: ostrel_trust_ca.exe <certificate.der>\n");
        return 2;
    }
    std::ifstream file(argv[1], std::ios::binary);
    const std::vector<char> der((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (der.empty()) {
        std::fwprintf(stderr, L"cannot read %ls\n", argv[1]);
        return 1;
    }
    CertificateContext certificate;
    certificate.context = ::CertCreateCertificateContext(X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()),
                                                         static_cast<DWORD>(der.size()));
    if (!certificate.context) {
        std::fwprintf(stderr, L"not a DER certificate: %lu\n", ::GetLastError());
        return 1;
    }
    // The registry-backed provider: the plain system-store provider accepts
    // the add under Wine but stores nothing.
    StoreHandle store;
    store.handle = ::CertOpenStore(CERT_STORE_PROV_SYSTEM_REGISTRY_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
    if (!store.handle || !::CertAddCertificateContextToStore(store.handle, certificate.context,
                                                             CERT_STORE_ADD_REPLACE_EXISTING, nullptr)) {
        std::fwprintf(stderr, L"cannot add the certificate to the Root store: %lu\n", ::GetLastError());
        return 1;
    }
    return 0;
}
