// The names of the event protocol against the bytes the analytics server
// reads: a renumbered field or type would silently break every report.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <utility>

#include "api/EventProtocol.h"
#include "api/EventTemplate.h"

namespace {

// Every key of the format: "0" to "22", "31" and "38".
std::set<std::string> KeysOfTheFormat() {
    std::set<std::string> keys;
    for (int key = 0; key <= 22; ++key) keys.insert(std::to_string(key));
    keys.insert("31");
    keys.insert("38");
    return keys;
}

TEST(EventProtocol, NamedFieldsAreTheNumberedKeysOfTheFormat) {
    const std::pair<const char*, const char*> fields[] = {
        {event_field::kMachineId, "1"},
        {event_field::kSessionTimestamp, "2"},
        {event_field::kBrandName, "3"},
        {event_field::kWizardId, "4"},
        {event_field::kOfferCode, "5"},
        {event_field::kEventType, "6"},
        {event_field::kFileVersion, "7"},
        {event_field::kPackageKind, "10"},
        {event_field::kFailureText, "12"},
        {event_field::kRejectionReason, "13"},
        {event_field::kReservedNumber, "15"},
        {event_field::kOfferChannel, "16"},
        {event_field::kOfferPosition, "17"},
        {event_field::kPackageOfferTag, "18"},
        {event_field::kRunOfferTag, "19"},
        {event_field::kRunChannel, "21"},
        {event_field::kProductTitle, "22"},
        {event_field::kOsVersion, "31"},
        {event_field::kSixtyFourBitWindows, "38"},
    };
    const std::set<std::string> format = KeysOfTheFormat();
    std::set<std::string> seen;
    for (const auto& [name, wire] : fields) {
        EXPECT_STREQ(name, wire);
        EXPECT_EQ(format.count(name), 1u) << name;
        EXPECT_TRUE(seen.insert(name).second) << name << " names two fields";
    }
}

TEST(EventProtocol, TypesAndPackageKindsKeepTheirWireNumbers) {
    const std::pair<EventType, int> types[] = {
        {EventType::Failed, -1}, {EventType::Started, 1},  {EventType::Rejected, 2},
        {EventType::Done, 3},    {EventType::Declined, 4}, {EventType::Closed, 5},
    };
    for (const auto& [type, wire] : types) EXPECT_EQ(WireValue(type), wire);
    EXPECT_EQ(WireValue(PackageKind::MainProduct), 1);
    EXPECT_EQ(WireValue(PackageKind::Offer), 2);
    EXPECT_STREQ(event_envelope::kEventTable, "zb_analytics");
    EXPECT_STREQ(event_envelope::kDataKey, "data");
    EXPECT_STREQ(event_envelope::kTableKey, "table");
}

TEST(EventProtocol, TemplateBodyHoldsExactlyTheKeysOfTheFormat) {
    const EventTemplate eventTemplate = BuildEventTemplate();
    std::set<std::string> keys;
    for (const auto& [key, value] : eventTemplate.body.items()) keys.insert(key);
    EXPECT_EQ(keys, KeysOfTheFormat());
    // "15" is the only number the template writes; "38" is a yes-or-no text.
    EXPECT_TRUE(eventTemplate.body.at("15").is_number_integer());
    EXPECT_EQ(eventTemplate.body.at("15"), 0);
    const std::string wow = eventTemplate.body.at("38").get<std::string>();
    EXPECT_TRUE(wow == "1" || wow == "0") << wow;
}

}  // namespace
