#include "api/SecureProtocols.h"

#include "core/SystemInfo.h"

namespace {

constexpr DWORD kTls10 = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1;
constexpr DWORD kTls11 = 0x00000200;  // WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_1
constexpr DWORD kTls12 = 0x00000800;  // WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2
constexpr DWORD kTls13 = 0x00002000;  // WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3

}  // namespace

DWORD SecureProtocolsForThisSystem() {
    if (!IsOsVersionAtLeast(6, 1, 1)) return kTls10;
    DWORD protocols = kTls10 | kTls11 | kTls12;
    if (IsOsVersionAtLeast(10, 0, 0)) protocols |= kTls13;
    return protocols;
}

bool SetSecureProtocols(HINTERNET session) {
    DWORD protocols = SecureProtocolsForThisSystem();
    if (::WinHttpSetOption(session, WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols, sizeof(protocols))) return true;
    // Older stacks reject flags they do not know; offer what they do know.
    protocols &= ~kTls13;
    return ::WinHttpSetOption(session, WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols, sizeof(protocols)) != FALSE;
}
