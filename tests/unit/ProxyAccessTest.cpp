#include <windows.h>
#include <winhttp.h>

#include <gtest/gtest.h>

#include <tuple>

#include "api/ProxyAccess.h"

namespace {

TEST(ProxyAccess, AutomaticProxyOnlyFromWindows81WhichKnowsIt) {
    const struct {
        const char* windows;
        WORD major, minor, servicePack;
        DWORD expected;
    } cases[] = {
        {"Vista SP2", 6, 0, 2, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY},
        {"7", 6, 1, 0, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY},
        {"7 SP1", 6, 1, 1, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY},
        {"8", 6, 2, 0, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY},
        {"8.1", 6, 3, 0, WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY},
        {"10", 10, 0, 0, WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.windows);
        // As VerifyVersionInfoW answers for that Windows.
        const auto isAtLeast = [&c](WORD major, WORD minor, WORD servicePack) {
            return std::tie(c.major, c.minor, c.servicePack) >= std::tie(major, minor, servicePack);
        };
        EXPECT_EQ(ProxyAccessTypeFor(isAtLeast), c.expected);
    }
}

TEST(ProxyAccess, TheRunningWindowsIsAskedWhatItIs) {
    // The test prefix reports Windows 10.
    EXPECT_EQ(ProxyAccessTypeForThisSystem(), static_cast<DWORD>(WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY));
}

}  // namespace
