// What an analytics event says on the wire: its type and the numbered fields
// of its body. The analytics server reads these exact values, so a value here
// never changes; code that builds or sends an event uses these names only.
#pragma once

// Sent as the signed decimal text of the value.
enum class EventType : int {
    // The package failed: a download, or the start of its installer.
    Failed = -1,
    // The user left the first page; sent for the main product only.
    Started = 1,
    // The eligibility rules turned the offer down.
    Rejected = 2,
    // Downloaded, or its installer started or finished.
    Done = 3,
    Declined = 4,
    // The user closed the wizard before its end.
    Closed = 5,
};

constexpr int WireValue(EventType type) {
    return static_cast<int>(type);
}

// Which kind of package an event speaks of (field kPackageKind).
enum class PackageKind : int {
    MainProduct = 1,
    Offer = 2,
};

constexpr int WireValue(PackageKind kind) {
    return static_cast<int>(kind);
}

namespace event_field {

// Every key from the first to the last of this range is present in a body,
// the empty string unless something below sets it.
inline constexpr int kFirstNumberedKey = 0;
inline constexpr int kLastNumberedKey = 22;

inline constexpr char kMachineId[] = "1";
inline constexpr char kSessionTimestamp[] = "2";
inline constexpr char kBrandName[] = "3";
inline constexpr char kWizardId[] = "4";
// An offer's code; for the main product a copy of kProductTitle.
inline constexpr char kOfferCode[] = "5";
inline constexpr char kEventType[] = "6";
inline constexpr char kFileVersion[] = "7";
inline constexpr char kPackageKind[] = "10";
// The caller's failure text of a Failed event.
inline constexpr char kFailureText[] = "12";
// The caller's reason of a Rejected event.
inline constexpr char kRejectionReason[] = "13";
// Always kReservedNumberValue, as a number.
inline constexpr char kReservedNumber[] = "15";
inline constexpr int kReservedNumberValue = 0;
inline constexpr char kOfferChannel[] = "16";
// An offer's position in the configuration, counted from 1.
inline constexpr char kOfferPosition[] = "17";
inline constexpr char kPackageOfferTag[] = "18";
// The run's offer tag from the configuration, the same for every package.
inline constexpr char kRunOfferTag[] = "19";
inline constexpr char kRunChannel[] = "21";
inline constexpr char kProductTitle[] = "22";
inline constexpr char kOsVersion[] = "31";
// Whether the program runs under 64-bit Windows: kYes or kNo.
inline constexpr char kSixtyFourBitWindows[] = "38";

// The two texts of a yes-or-no field.
inline constexpr char kYes[] = "1";
inline constexpr char kNo[] = "0";

}  // namespace event_field

// The envelope every body travels in: {"data": body as text, "table": kEventTable}.
namespace event_envelope {

inline constexpr char kDataKey[] = "data";
inline constexpr char kTableKey[] = "table";
inline constexpr char kEventTable[] = "zb_analytics";

}  // namespace event_envelope
