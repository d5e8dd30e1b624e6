// Offers built from their JSON form, without sending anything.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <memory>
#include <sstream>
#include <string>

#include "api/EventTemplate.h"
#include "packages/Base62.h"
#include "packages/JsonNumbers.h"
#include "packages/Package.h"
#include "core/ConfigurationManager.h"

namespace {

using nlohmann::json;

EventTemplate TestTemplate() {
    EventTemplate eventTemplate;
    eventTemplate.body = json::object();
    for (int key = 0; key <= 22; ++key) eventTemplate.body[std::to_string(key)] = "";
    eventTemplate.body["22"] = "Main Title";
    return eventTemplate;
}

json Offer(const json& ps = json::object(), const json& ad = {{"f", "tag"}, {"o", "code"}}) {
    json offer = {{"ad", ad}, {"ps", {{"i", "i.png"}, {"dn", "Name"}, {"u", "u.exe"}}}};
    offer["ps"].update(ps);
    return offer;
}

std::unique_ptr<Package> Make(const json& offer, int position = 0) {
    return std::make_unique<Package>(TestTemplate(), offer, false, "", position);
}

std::string TypeErrorOf(const json& offer) {
    try {
        Make(offer);
    } catch (const json::type_error& error) {
        return error.what();
    }
    return "no type error";
}

class PackageJson : public ::testing::Test {
protected:
    void SetUp() override {
        settings = ConfigurationManager::GetInstance();
        settings->pubId.clear();
        settings->ccValue.clear();
    }
    std::shared_ptr<ConfigurationManager> settings;
};

TEST_F(PackageJson, OnlyRequiredKeysGiveNoRequirements) {
    auto package = Make(Offer());
    EXPECT_EQ(package->DisplayName(), "Name");
    EXPECT_EQ(package->OfferCode(), "code");
    EXPECT_EQ(package->OfferTag(), "tag");
    EXPECT_EQ(package->PrivacyUrl(), "");
    EXPECT_EQ(package->GetInstallerArgs(), L"");
    EXPECT_EQ(package->Channel(), "");
    EXPECT_EQ(package->Vertical(), 0);
    EXPECT_EQ(package->MinFreeDiskMb(), 0u);
    EXPECT_FALSE(package->Requires64BitOs());
    EXPECT_TRUE(package->BlockingFiles().empty());
    EXPECT_TRUE(package->RequiredApps().empty());
    EXPECT_EQ(package->ExpectedSha256(), "");
    const json& state = package->EventStateBody();
    EXPECT_EQ(state.at("16"), "");
    EXPECT_EQ(state.at("10"), 2);
    EXPECT_EQ(state.at("5"), "code");
}

TEST_F(PackageJson, ADigestIsKeptInLowerCaseWhateverCaseItCameIn) {
    const std::string mixed = "E3B0C44298FC1C149AFBF4C8996FB92427AE41E4649B934CA495991b7852b855";
    EXPECT_EQ(Make(Offer({{"sha256", mixed}}))->ExpectedSha256(),
              "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
}

TEST_F(PackageJson, PlaceholdersAreReplacedAtTheirFirstOccurrenceOnly) {
    settings->pubId = "77";
    auto package = Make(Offer({{"dn", "Get {pubid} now"}, {"u", "{of}/{of}.exe"}, {"p", "/S {pubid}{nope}"}},
                              {{"f", "x"}, {"o", "code"}}));
    EXPECT_EQ(package->DisplayName(), "Get 77 now");
    EXPECT_EQ(package->GetDownloadPath(), L"x/{of}.exe");
    EXPECT_EQ(package->GetInstallerArgs(), L"/S 77{nope}");
    settings->pubId.clear();
    EXPECT_EQ(Make(Offer({{"dn", "Get {pubid} now"}}))->DisplayName(), "Get {pubid} now");
}

TEST_F(PackageJson, PixelPlaceholderEncodesUserOfferAndSession) {
    auto package = Make(Offer({{"cp", "https://x/p?px={pxl}"}}));
    const std::string expected = EncodeBase62(settings->GetMachineId() + "|code|" + settings->GetSessionTimestamp());
    EXPECT_EQ(package->PrivacyUrl(), "https://x/p?px=" + expected);
    EXPECT_FALSE(expected.empty());
}

TEST_F(PackageJson, NumbersAndBooleansConvertAsTheFieldAllows) {
    EXPECT_EQ(Make(Offer({{"v", true}}))->Vertical(), 1);
    EXPECT_EQ(Make(Offer({{"v", 2.9}}))->Vertical(), 2);
    EXPECT_EQ(Make(Offer({{"v", -1}}))->Vertical(), -1);
    EXPECT_EQ(Make(Offer({{"ov", 100}}))->MinOsVersion(), 100);
    EXPECT_EQ(Make(Offer({{"disk", 4096.7}}))->MinFreeDiskMb(), 4096u);
    EXPECT_EQ(Make(Offer({{"ram", 5000000000ull}}))->MinRamMb(), 5000000000ull);
    EXPECT_TRUE(Make(Offer({{"win64", true}}))->Requires64BitOs());
}

// Numbers the server may send beyond a field's range, at both ends of it and
// just inside, as integers, unsigned integers and floating values.
constexpr std::int32_t kInt32Min = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t kInt32Max = std::numeric_limits<std::int32_t>::max();
constexpr std::uint64_t kUInt64Max = std::numeric_limits<std::uint64_t>::max();
constexpr double kInfinity = std::numeric_limits<double>::infinity();
constexpr double kNotANumber = std::numeric_limits<double>::quiet_NaN();

struct Int32Case {
    json number;
    std::int32_t field;
};

const Int32Case kInt32Cases[] = {
    {2147483647, kInt32Max},
    {2147483648u, kInt32Max},
    {-2147483648LL, kInt32Min},
    {-2147483649LL, kInt32Min},
    {std::numeric_limits<std::uint64_t>::max(), kInt32Max},
    {std::numeric_limits<std::int64_t>::min(), kInt32Min},
    {1e300, kInt32Max},
    {-1e300, kInt32Min},
    {2147483647.9, kInt32Max},
    {2147483648.0, kInt32Max},
    {-2147483648.9, kInt32Min},
    {-2147483649.0, kInt32Min},
    {2147483646.9, 2147483646},
    {-2.9, -2},
    {-0.5, 0},
    {json::parse("99999999999999999999999"), kInt32Max},
    {kInfinity, kInt32Max},
    {-kInfinity, kInt32Min},
    {kNotANumber, 0},
};

struct UInt64Case {
    json number;
    std::uint64_t field;
};

const UInt64Case kUInt64Cases[] = {
    {-1, 0},
    {std::numeric_limits<std::int64_t>::min(), 0},
    {std::numeric_limits<std::int64_t>::max(), 9223372036854775807ull},
    {kUInt64Max, kUInt64Max},
    {-0.5, 0},
    {-1e300, 0},
    {1e300, kUInt64Max},
    // 2^64, one past the range, and the largest double below it.
    {18446744073709551616.0, kUInt64Max},
    {18446744073709549568.0, 18446744073709549568ull},
    {json::parse("99999999999999999999999"), kUInt64Max},
    {kInfinity, kUInt64Max},
    {-kInfinity, 0},
    {kNotANumber, 0},
};

// Floating values as themselves: a JSON dump shows infinity and NaN as null.
std::string Shown(const json& number) {
    if (!number.is_number_float()) return number.dump();
    std::ostringstream text;
    text << number.get<double>() << " (floating)";
    return text.str();
}

TEST_F(PackageJson, ThirtyTwoBitFieldsClampToTheirRange) {
    for (const auto& [number, field] : kInt32Cases) {
        SCOPED_TRACE(Shown(number));
        EXPECT_EQ(Make(Offer({{"v", number}}))->Vertical(), field);
        EXPECT_EQ(Make(Offer({{"ov", number}}))->MinOsVersion(), field);
        // The offer limit "f"."m" is read the same way.
        EXPECT_EQ(ReadInt32Field(number), field);
    }
}

TEST_F(PackageJson, SizeRequirementsClampAndANegativeOneMeansNone) {
    for (const auto& [number, field] : kUInt64Cases) {
        SCOPED_TRACE(Shown(number));
        EXPECT_EQ(Make(Offer({{"disk", number}}))->MinFreeDiskMb(), field);
        EXPECT_EQ(Make(Offer({{"ram", number}}))->MinRamMb(), field);
    }
}

TEST_F(PackageJson, ClampedReadersStillRefuseWhatIsNoNumber) {
    EXPECT_THROW(ReadInt32Field(json("7")), json::type_error);
    EXPECT_THROW(ReadInt32Field(json()), json::type_error);
    EXPECT_THROW(ReadUInt64Field(json(true)), json::type_error);
    EXPECT_THROW(ReadUInt64Field(json::array({1})), json::type_error);
    EXPECT_EQ(ReadInt32Field(json(false)), 0);
}

TEST_F(PackageJson, WrongTypesThrowTheLibrarysTypeErrors) {
    EXPECT_NE(TypeErrorOf(Offer({{"disk", true}})).find("type must be number, but is boolean"), std::string::npos);
    EXPECT_NE(TypeErrorOf(Offer({{"win64", 1}})).find("type must be boolean, but is number"), std::string::npos);
    EXPECT_NE(TypeErrorOf(Offer({{"dn", 5}})).find("type must be string, but is number"), std::string::npos);
    EXPECT_NE(TypeErrorOf(Offer({{"r", {"a", 2}}})).find("type must be string, but is number"), std::string::npos);
    EXPECT_NE(TypeErrorOf(Offer({{"v", "3"}})).find("type must be number, but is string"), std::string::npos);
}

TEST_F(PackageJson, MissingRequiredKeysThrowOutOfRange) {
    EXPECT_THROW(Make(json{{"ps", Offer()["ps"]}}), json::out_of_range);
    json noName = Offer();
    noName["ps"].erase("dn");
    EXPECT_THROW(Make(noName), json::out_of_range);
    EXPECT_THROW(Make(Offer(json::object(), {{"f", "tag"}})), json::out_of_range);
    EXPECT_THROW(Make(json{{"ad", "text"}, {"ps", Offer()["ps"]}}), json::type_error);
}

TEST_F(PackageJson, ListsAcceptOneStringOrNullAndConvertFromUtf8) {
    auto package = Make(
        Offer({{"fe", "C:\\one.exe"}, {"a", nullptr}, {"r", {"hkcu\\software\\caf\u00e9", "b"}}, {"iapp", "app.exe"}}));
    EXPECT_EQ(package->BlockingFiles(), std::vector<CStringW>{L"C:\\one.exe"});
    EXPECT_TRUE(package->BlockingProcesses().empty());
    EXPECT_EQ(package->BlockingKeys(), (std::vector<std::wstring>{L"hkcu\\software\\caf\u00e9", L"b"}));
    EXPECT_EQ(package->RequiredApps(), std::vector<std::wstring>{L"app.exe"});
}

TEST_F(PackageJson, DownloadPathArgumentsAndFilesConvertFromUtf8) {
    auto package = Make(Offer({{"u", "dl/caf\u00e9 \u00d1and\u00fa.exe"},
                               {"p", "/D=C:\\Programas\\\u00c1rbol /S"},
                               {"fe", "C:\\Datos\\se\u00f1al.dat"}}));
    EXPECT_EQ(package->GetDownloadPath(), L"dl/caf\u00e9 \u00d1and\u00fa.exe");
    EXPECT_EQ(package->GetInstallerArgs(), L"/D=C:\\Programas\\\u00c1rbol /S");
    EXPECT_EQ(package->BlockingFiles(), std::vector<CStringW>{L"C:\\Datos\\se\u00f1al.dat"});
}

TEST_F(PackageJson, FolderMacrosInBlockingFilesExpandEveryOccurrence) {
    const PathMacroMap macros = settings->GetPathMacros();
    const CStringW programData = macros.at(L"programdata");
    auto package = Make(Offer({{"fe", {"{programdata}\\A\\{programdata}", "{unknown}\\x", "{ProgramData}\\y"}}}));
    EXPECT_EQ(package->BlockingFiles(),
              (std::vector<CStringW>{programData + L"\\A\\" + programData, L"{unknown}\\x", L"{ProgramData}\\y"}));
}

TEST_F(PackageJson, PositionAndChannelReachTheEventState) {
    auto third = Make(Offer({{"c", "chan-{of}"}}), 2);
    EXPECT_EQ(third->EventStateBody().at("17"), "3");
    EXPECT_EQ(third->EventStateBody().at("16"), "chan-tag");
}

TEST_F(PackageJson, MainProductCopiesTheTitleAndCanBeReinitialised) {
    Package main(TestTemplate(), true, L"", L"", L"", L"", 0);
    EXPECT_EQ(main.EventStateBody().at("5"), "Main Title");
    EXPECT_EQ(main.EventStateBody().at("10"), 1);
    EventTemplate later = TestTemplate();
    later.body["22"] = "Loaded \u00c9";
    main.Reinitialize(later, L"Loaded \u00c9", L"tag", L"Loaded \u00c9", L"web");
    EXPECT_EQ(main.EventStateBody().at("5"), "Loaded \u00c9");
    EXPECT_EQ(main.DisplayName(), "Loaded \u00c9");
    EXPECT_EQ(main.Channel(), "web");
    EXPECT_TRUE(main.IsMain());
}

TEST(Base62, KnownVectors) {
    EXPECT_EQ(EncodeBase62(std::string("\x00\x01", 2)), "1");
    EXPECT_EQ(EncodeBase62("\xFF"), "47");
    EXPECT_EQ(EncodeBase62(std::string("\x00", 1)), "");
    EXPECT_EQ(EncodeBase62(""), "");
    EXPECT_EQ(EncodeBase62("\x3D"), "Z");
    EXPECT_EQ(EncodeBase62("\x3E"), "10");
    // 0x0100 = 256 = 4 * 62 + 8
    EXPECT_EQ(EncodeBase62(std::string("\x01\x00", 2)), "48");
}

}  // namespace
