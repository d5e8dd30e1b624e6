// The loading tests' fixture and the configurations they serve: the
// reference server on the built-in host, reset before each test.
#pragma once

#include <string>
#include <vector>

#include "resources/resource.h"
#include "tests/common/TestServer.h"
#include "tests/ui/WizardUi.h"

namespace ostrel::testing {

inline constexpr char kProduct[] =
    R"("i":{"ct":"Kestrel Viewer","cu":"https://127.0.0.1/f/kestrel.exe","cp":"https://127.0.0.1/site/privacy"})";

inline std::string Offer(const std::string& code, int vertical, const std::string& name) {
    return R"({"ad":{"f":"tag-)" + code + R"(","o":")" + code + R"("},"ps":{"i":"img/)" + code + R"(.png","dn":")" +
           name + R"(","u":"dl/)" + code + R"(.exe","v":)" + std::to_string(vertical) +
           R"(,"cp":"https://127.0.0.1/site/)" + code + R"(-privacy","ctu":"https://127.0.0.1/site/)" + code +
           R"(-eula"}})";
}

class LoadingFlow : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(server.Reset()) << "reference server on 127.0.0.1 not reachable"; }

    std::vector<nlohmann::json> StoredEvents(size_t count) {
        std::vector<nlohmann::json> bodies;
        for (const nlohmann::json& stored : server.WaitForEvents(count, kUiTimeoutMs)) {
            bodies.push_back(TestServer::EventData(stored));
        }
        return bodies;
    }

    TestServer server{L"127.0.0.1"};
};

// Walks through the offer pages by accepting each; returns how many there were.
inline int AcceptAllOffers(UiDriver& driver, HWND welcome) {
    if (!driver.Click(welcome, IDC_NEXT)) return -1;
    int pages = 0;
    HWND previous = welcome;
    HWND page = nullptr;
    // Judged on one look: while pages switch, two may be on screen. The first
    // step gets longer: a busy machine may take a moment to switch.
    for (DWORD wait = 6000;
         driver.WaitUntil([&] { return (page = driver.CurrentPage()) != nullptr && page != previous; }, wait);
         wait = 3000) {
        if (driver.Text(page) != L"ProductPage") break;
        ++pages;
        previous = page;
        driver.Click(page, IDC_ACCEPT);
    }
    return pages;
}

}  // namespace ostrel::testing
