#include <windows.h>
#include <winhttp.h>

#include <gtest/gtest.h>

#include "api/SecureProtocols.h"

namespace {

TEST(SecureProtocols, NeverOfferSslAndOfferModernTlsOnCurrentWindows) {
    const DWORD offered = SecureProtocolsForThisSystem();
    EXPECT_EQ(offered & WINHTTP_FLAG_SECURE_PROTOCOL_SSL2, 0u);
    EXPECT_EQ(offered & WINHTTP_FLAG_SECURE_PROTOCOL_SSL3, 0u);
    // The test prefix reports Windows 10.
    EXPECT_NE(offered & 0x00000800u /* TLS 1.2 */, 0u);
    EXPECT_NE(offered & WINHTTP_FLAG_SECURE_PROTOCOL_TLS1, 0u);
}

}  // namespace
