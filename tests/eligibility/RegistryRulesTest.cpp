// Registry keys, values and value data that block offers, on the real
// registry of the prefix: vendor keys of the test's own in both hives and
// both views, named the ways offers name them.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

#include "packages/EligibilityEngine.h"
#include "registry/RegistryView.h"
#include "tests/eligibility/EligibilityTestSupport.h"

namespace {

using nlohmann::json;
using ostrel::testing::EligibilityTest;
using ostrel::testing::machine32;
using ostrel::testing::machine64;
using ostrel::testing::Narrow;
using ostrel::testing::Place;
using ostrel::testing::ScratchKey;
using ostrel::testing::UniqueName;
using ostrel::testing::user;

constexpr char kKeyExists[] = "REGISTRY KEY EXISTS";
constexpr char kValueExists[] = "REGISTRY VALUE EXISTS";
constexpr char kDataMatches[] = "REGISTRY VALUE DATA MATCHES";

std::string Upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

// Evaluates with an engine of its own and expects the exception to leave Evaluate.
template <typename Exception>
void ExpectEscapes(const std::shared_ptr<Package>& offer, const std::string& message) {
    EligibilityEngine engine(100);
    bool limitReached = false;
    try {
        engine.Evaluate(offer, limitReached);
        ADD_FAILURE() << "no exception";
    } catch (const Exception& error) {
        EXPECT_EQ(error.what(), message);
    } catch (const std::exception& error) {
        ADD_FAILURE() << "another exception: " << error.what();
    }
}

const char* PlaceName(const Place& place) {
    if (&place == &machine64) return "HKLM, 64-bit view";
    if (&place == &machine32) return "HKLM, 32-bit view";
    return "HKCU";
}

// ---------------------------------------------------------------------------
// Keys ("r")

class EligibilityRegistryKeys : public EligibilityTest {};

TEST_F(EligibilityRegistryKeys, RelativePathsAreFoundInEitherHiveAndEitherView) {
    for (const Place* place : {&machine64, &machine32, &user}) {
        SCOPED_TRACE(PlaceName(*place));
        const ScratchKey vendor(*place);
        vendor.AddSubkey(L"Product\\1.0");
        const std::string v = Narrow(vendor.name());
        ExpectOutcomes({
            {{{"r", {v}}}, kKeyExists},
            {{{"r", {Upper(v) + "\\PRODUCT\\1.0"}}}, kKeyExists},
            {{{"r", {v + "\\product\\2.0"}}}, ""},
            {{{"r", {v + "-other"}}}, ""},
            {{{"r", {v + "-other", v + "\\product"}}}, kKeyExists},
            {{{"r", v}}, kKeyExists},  // one string instead of a list
        });
    }
}

TEST_F(EligibilityRegistryKeys, FullAndAbbreviatedHivesNameOneHiveInOneView) {
    const ScratchKey in64(machine64);
    const ScratchKey in32(machine32);
    const ScratchKey inUser(user);
    const std::string n64 = Narrow(in64.name());
    const std::string n32 = Narrow(in32.name());
    const std::string nUser = Narrow(inUser.name());
    ExpectOutcomes({
        {{{"r", {"hklm\\software\\" + n64}}}, kKeyExists},
        {{{"r", {"HKEY_LOCAL_MACHINE\\SOFTWARE\\" + Upper(n64)}}}, kKeyExists},
        {{{"r", {"hklm\\software\\wow6432node\\" + n64}}}, ""},
        {{{"r", {"hkcu\\software\\" + n64}}}, ""},

        {{{"r", {"hklm\\software\\wow6432node\\" + n32}}}, kKeyExists},
        {{{"r", {"HKLM\\Software\\Wow6432Node\\" + n32}}}, kKeyExists},
        {{{"r", {"hkey_local_machine\\software\\wow6432node\\" + n32}}}, kKeyExists},
        {{{"r", {"hklm\\software\\" + n32}}}, ""},
        {{{"r", {"hkcu\\software\\" + n32}}}, ""},

        {{{"r", {"hkcu\\software\\" + nUser}}}, kKeyExists},
        {{{"r", {"Hkey_Current_User\\Software\\" + nUser}}}, kKeyExists},
        {{{"r", {"hklm\\software\\" + nUser}}}, ""},
        {{{"r", {"hklm\\software\\wow6432node\\" + nUser}}}, ""},
        // Not followed by a backslash, a hive name is a vendor name.
        {{{"r", {"hkcu" + nUser}}}, ""},
    });
}

TEST_F(EligibilityRegistryKeys, KeysOutsideSoftwareAreOpenedWhereTheyAre) {
    const ScratchKey outside(HKEY_CURRENT_USER, 0, L"", UniqueName(L"OstrelElig"));
    outside.AddSubkey(L"Sub");
    const std::string name = Narrow(outside.name());
    ExpectOutcomes({
        {{{"r", {"hkcu\\" + name}}}, kKeyExists},
        {{{"r", {"hkey_current_user\\" + Upper(name) + "\\sub"}}}, kKeyExists},
        {{{"r", {"hkcu\\" + name + "\\missing"}}}, ""},
        {{{"r", {"hklm\\" + name}}}, ""},
        // Relative: below Software, where it does not exist.
        {{{"r", {name}}}, ""},
    });
}

TEST_F(EligibilityRegistryKeys, AnEmptyEntryEndsTheList) {
    const ScratchKey vendor(user);
    const std::string v = Narrow(vendor.name());
    ExpectOutcomes({
        {{{"r", {"", v}}}, ""},
        {{{"r", {v + "-absent", "", v}}}, ""},
        {{{"r", {v, ""}}}, kKeyExists},
    });
}

TEST_F(EligibilityRegistryKeys, ABareSoftwareRootEndsTheEvaluation) {
    const ScratchKey vendor(user);
    vendor.SetText(L"", L"v", L"1");
    std::vector<std::pair<std::shared_ptr<Package>, std::string>> expected;
    for (const json& requirements :
         {json{{"r", {"hklm\\software\\"}}}, json{{"r", {"HKCU\\Software\\"}}},
          json{{"rvn", {"hklm\\software\\\\installdir"}}}, json{{"rvd", {"hkcu\\software\\\\v\\1"}}}}) {
        SCOPED_TRACE(requirements.dump());
        const auto offer = Offer(requirements);
        ExpectEscapes<std::out_of_range>(offer, "invalid vector subscript");
        expected.emplace_back(offer, "");
    }
    ExpectReasons(expected);
    // Without its final backslash the Software key is an ordinary key outside the vendors.
    ExpectOutcomes({{{{"r", {"hklm\\software"}}}, kKeyExists}});
}

TEST_F(EligibilityRegistryKeys, SoftwareIsListedOncePerHiveAndViewAndAbsentVendorsOpenNothing) {
    const ScratchKey listed(machine64);
    const std::size_t places = win32::IsWow64() ? 4 : 2;  // (HKLM, HKCU) x (64-bit, 32-bit view)
    EligibilityEngine engine(100);
    std::vector<std::shared_ptr<Package>> offers;
    for (int i = 0; i < 3; ++i) {
        json r = json::array();
        json rvn = json::array();
        json rvd = json::array();
        for (int k = 0; k < 5; ++k) {
            const std::string absent = Narrow(UniqueName(L"OstrelAbsent"));
            r.push_back(absent + "\\product");
            rvn.push_back(absent + "\\product\\installdir");
            if (k < 3) rvd.push_back(absent + "\\product\\version\\2");
        }
        offers.push_back(Offer({{"r", r}, {"rvn", rvn}, {"rvd", rvd}}));
    }
    EXPECT_EQ(EvaluateAll(engine, offers), (std::vector<bool>{true, true, true}));
    EXPECT_EQ(engine.KeyCache().statistics().listings, places);
    EXPECT_EQ(engine.KeyCache().statistics().keyOpens, 0u);

    // A vendor that came after the listing is not seen by this engine.
    const ScratchKey late(machine64);
    const auto lateOffer = Offer({{"r", {Narrow(late.name())}}});
    bool limitReached = false;
    EXPECT_TRUE(engine.Evaluate(lateOffer, limitReached));
    EXPECT_EQ(engine.KeyCache().statistics().keyOpens, 0u);

    // A listed vendor is opened, found or not.
    const auto deeper = Offer({{"r", {Narrow(listed.name()) + "\\missing"}}});
    EXPECT_TRUE(engine.Evaluate(deeper, limitReached));
    EXPECT_GE(engine.KeyCache().statistics().keyOpens, 1u);
    EXPECT_EQ(engine.KeyCache().statistics().listings, places);

    // A new engine lists again and sees the late vendor.
    EligibilityEngine next(100);
    const auto lateSeen = Offer({{"r", {Narrow(late.name())}}});
    EXPECT_FALSE(next.Evaluate(lateSeen, limitReached));
    ExpectReasons(
        {{offers[0], ""}, {offers[1], ""}, {offers[2], ""}, {lateOffer, ""}, {deeper, ""}, {lateSeen, kKeyExists}});
}

// ---------------------------------------------------------------------------
// Values ("rvn")

class EligibilityRegistryValues : public EligibilityTest {};

void SetValuesOfEveryType(const ScratchKey& vendor) {
    const wchar_t text[] = L"1\0";
    vendor.SetText(L"Product", L"InstallDir", L"C:\\Program Files\\Vendor");
    vendor.SetText(L"Product", L"expand", L"%ProgramFiles%\\Vendor", REG_EXPAND_SZ);
    vendor.Set(L"Product", L"multi", REG_MULTI_SZ, text, sizeof(text));
    vendor.SetDword(L"Product", L"dword", 0);
    vendor.SetQword(L"Product", L"qword", 0);
    vendor.Set(L"Product", L"binary", REG_BINARY, "\x01", 1);
    vendor.Set(L"Product", L"none", REG_NONE, nullptr, 0);
    vendor.SetText(L"WithDefault", L"", L"default");
    vendor.AddSubkey(L"WithoutDefault");
}

TEST_F(EligibilityRegistryValues, AValueOfAnyTypeBlocksAMissingOneDoesNot) {
    for (const Place* place : {&machine64, &machine32, &user}) {
        SCOPED_TRACE(PlaceName(*place));
        const ScratchKey vendor(*place);
        SetValuesOfEveryType(vendor);
        const std::string v = Narrow(vendor.name());
        std::vector<Case> cases;
        for (const char* value : {"installdir", "expand", "multi", "dword", "qword", "binary", "none"}) {
            cases.push_back({{{"rvn", {v + "\\product\\" + value}}}, kValueExists});
        }
        cases.push_back({{{"rvn", {Upper(v) + "\\Product\\INSTALLDIR"}}}, kValueExists});
        cases.push_back({{{"rvn", {v + "\\withdefault\\"}}}, kValueExists});  // the default value
        cases.push_back({{{"rvn", {v + "\\withoutdefault\\"}}}, ""});
        cases.push_back({{{"rvn", {v + "\\product\\missing"}}}, ""});
        cases.push_back({{{"rvn", {v + "\\missing\\installdir"}}}, ""});
        cases.push_back({{{"rvn", {v + "-absent\\product\\installdir"}}}, ""});
        ExpectOutcomes(cases);
    }
}

TEST_F(EligibilityRegistryValues, FullPathsLookInTheViewTheyName) {
    const ScratchKey in64(machine64);
    const ScratchKey in32(machine32);
    in64.SetText(L"Product", L"InstallDir", L"64");
    in32.SetText(L"Product", L"InstallDir", L"32");
    const std::string n64 = Narrow(in64.name());
    const std::string n32 = Narrow(in32.name());
    ExpectOutcomes({
        {{{"rvn", {"hklm\\software\\" + n64 + "\\product\\installdir"}}}, kValueExists},
        {{{"rvn", {"hklm\\software\\wow6432node\\" + n64 + "\\product\\installdir"}}}, ""},
        {{{"rvn", {"hklm\\software\\wow6432node\\" + n32 + "\\product\\installdir"}}}, kValueExists},
        {{{"rvn", {"hklm\\software\\" + n32 + "\\product\\installdir"}}}, ""},
        {{{"rvn", {"hkcu\\software\\" + n32 + "\\product\\installdir"}}}, ""},
    });
}

// A value of the test's own directly below HKEY_CURRENT_USER.
class HiveValue {
public:
    HiveValue() : name_(UniqueName(L"OstrelEligValue")) {
        const wchar_t data[] = L"1";
        if (::RegSetValueExW(HKEY_CURRENT_USER, name_.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data),
                             sizeof(data)) != ERROR_SUCCESS) {
            throw std::runtime_error("cannot set a value below HKEY_CURRENT_USER");
        }
    }
    HiveValue(const HiveValue&) = delete;
    HiveValue& operator=(const HiveValue&) = delete;
    ~HiveValue() { ::RegDeleteValueW(HKEY_CURRENT_USER, name_.c_str()); }
    const std::wstring& name() const { return name_; }

private:
    std::wstring name_;
};

TEST_F(EligibilityRegistryValues, AValueDirectlyBelowAHiveIsNotFound) {
    const HiveValue value;
    ASSERT_EQ(::RegQueryValueExW(HKEY_CURRENT_USER, value.name().c_str(), nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    const std::string name = Narrow(value.name());
    ExpectOutcomes({
        {{{"rvn", {"hkcu\\" + name}}}, ""},
        {{{"rvn", {"hkey_current_user\\" + name}}}, ""},
        {{{"rvd", {"hkcu\\" + name + "\\1"}}}, ""},
    });
}

TEST_F(EligibilityRegistryValues, AnEmptyEntryEndsTheList) {
    const ScratchKey vendor(user);
    vendor.SetText(L"Product", L"Version", L"2");
    const std::string value = Narrow(vendor.name()) + "\\product\\version";
    ExpectOutcomes({
        {{{"rvn", {"", value}}}, ""},
        {{{"rvn", {Narrow(vendor.name()) + "\\product\\missing", "", value}}}, ""},
        {{{"rvn", {value, ""}}}, kValueExists},
    });
}

// ---------------------------------------------------------------------------
// Value data ("rvd")

class EligibilityRegistryValueData : public EligibilityTest {
protected:
    void SetUp() override {
        EligibilityTest::SetUp();
        vendor = std::make_unique<ScratchKey>(user);
        const wchar_t multi[] = L"abc\0";
        vendor->SetText(L"Product", L"text", L"ABC");
        vendor->SetText(L"Product", L"spaced", L"5 ");
        vendor->SetText(L"Product", L"x", L"x");
        vendor->SetText(L"Product", L"expand", L"abc", REG_EXPAND_SZ);
        vendor->Set(L"Product", L"multi", REG_MULTI_SZ, multi, sizeof(multi));
        vendor->Set(L"Product", L"binary", REG_BINARY, "abc", 3);
        vendor->SetDword(L"Product", L"five", 5);
        vendor->SetDword(L"Product", L"dwordmax", std::numeric_limits<std::uint32_t>::max());
        vendor->SetQword(L"Product", L"big", (1ull << 40) + 5);
        vendor->SetQword(L"Product", L"qwordmax", std::numeric_limits<std::uint64_t>::max());
        product = Narrow(vendor->name()) + "\\product\\";
    }
    void TearDown() override {
        EligibilityTest::TearDown();
        vendor.reset();
    }

    Case Data(const std::string& valueAndData, const char* reason) {
        return {{{"rvd", {product + valueAndData}}}, reason};
    }

    std::unique_ptr<ScratchKey> vendor;
    std::string product;
};

TEST_F(EligibilityRegistryValueData, TextMatchesInAnyLetterCaseButOtherwiseExactly) {
    ExpectOutcomes({
        Data("text\\abc", kDataMatches),
        Data("text\\ABC", kDataMatches),
        Data("TEXT\\aBc", kDataMatches),
        Data("text\\ab", ""),
        Data("text\\abcd", ""),
        Data("text\\ abc", ""),
        Data("spaced\\5", ""),
        Data("spaced\\5 ", kDataMatches),
        // A text that is no number is compared as text.
        Data("x\\x", kDataMatches),
        Data("x\\y", ""),
        // Only REG_SZ holds comparable text.
        Data("expand\\abc", ""),
        Data("multi\\abc", ""),
        Data("binary\\abc", ""),
    });
}

TEST_F(EligibilityRegistryValueData, NumbersAreReadTheWayTheStandardLibraryReadsThem) {
    ExpectOutcomes({
        Data("five\\5", kDataMatches),
        Data("five\\ 5", kDataMatches),
        Data("five\\+5", kDataMatches),
        Data("five\\05", kDataMatches),
        Data("five\\5x", kDataMatches),
        Data("five\\5.9", kDataMatches),
        Data("five\\6", ""),
        Data("five\\50", ""),
        Data("dwordmax\\4294967295", kDataMatches),
        Data("dwordmax\\-1", kDataMatches),
        Data("big\\1099511627781", kDataMatches),
        Data("big\\5", ""),
        Data("qwordmax\\18446744073709551615", kDataMatches),
        Data("qwordmax\\-1", kDataMatches),
        // Missing values and keys are never converted, whatever the data.
        Data("missing\\x", ""),
        {{{"rvd", {Narrow(vendor->name()) + "\\missing\\five\\x"}}}, ""},
    });
}

TEST_F(EligibilityRegistryValueData, DataThatIsNoNumberOrTooLargeEndsTheEvaluation) {
    const std::pair<const char*, const char*> invalid[] = {
        {"five\\x", "invalid stoul argument"},
        {"five\\", "invalid stoul argument"},
        {"five\\ -", "invalid stoul argument"},
        {"big\\x", "invalid stoull argument"},
    };
    const std::pair<const char*, const char*> outOfRange[] = {
        {"five\\4294967296", "stoul argument out of range"},
        {"big\\18446744073709551616", "stoull argument out of range"},
    };
    std::vector<std::pair<std::shared_ptr<Package>, std::string>> expected;
    for (const auto& [valueAndData, message] : invalid) {
        SCOPED_TRACE(valueAndData);
        const auto offer = Offer({{"rvd", {product + valueAndData}}});
        ExpectEscapes<std::invalid_argument>(offer, message);
        expected.emplace_back(offer, "");
    }
    for (const auto& [valueAndData, message] : outOfRange) {
        SCOPED_TRACE(valueAndData);
        const auto offer = Offer({{"rvd", {product + valueAndData}}});
        ExpectEscapes<std::out_of_range>(offer, message);
        expected.emplace_back(offer, "");
    }
    // The earlier entry matches first, so the malformed one is never read.
    const auto matchedFirst = Offer({{"rvd", {product + "five\\5", product + "five\\x"}}});
    EXPECT_FALSE(EvaluateAlone(matchedFirst));
    expected.emplace_back(matchedFirst, kDataMatches);
    ExpectReasons(expected);
}

TEST_F(EligibilityRegistryValueData, AnEmptyEntryIsSkipped) {
    ExpectOutcomes({
        {{{"rvd", {"", product + "five\\5"}}}, kDataMatches},
        {{{"rvd", {product + "five\\6", "", product + "text\\abc"}}}, kDataMatches},
        {{{"rvd", {""}}}, ""},
    });
}

TEST_F(EligibilityRegistryValueData, ViewsAndHivesAsForKeys) {
    const ScratchKey in32(machine32);
    in32.SetDword(L"Product", L"Version", 7);
    const std::string n32 = Narrow(in32.name());
    ExpectOutcomes({
        {{{"rvd", {n32 + "\\product\\version\\7"}}}, kDataMatches},
        {{{"rvd", {"hklm\\software\\wow6432node\\" + n32 + "\\product\\version\\7"}}}, kDataMatches},
        {{{"rvd", {"HKLM\\SOFTWARE\\" + n32 + "\\product\\version\\7"}}}, ""},
        {{{"rvd", {"hkcu\\software\\" + n32 + "\\product\\version\\7"}}}, ""},
        {{{"rvd", {"hkcu\\software\\" + product + "five\\5"}}}, kDataMatches},
    });
}

}  // namespace
