// SHA-256 as the downloads and the event signature use it: the standard
// vectors, pieces of any size, the processor's instructions against the
// system's provider, and what a server may write as a digest.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <cstddef>
#include <stdexcept>
#include <string>

#include "api/Sha256.h"
#include "api/Sha256Blocks.h"

namespace {

using nlohmann::json;

TEST(Sha256, MatchesTheStandardVectors) {
    EXPECT_EQ(Sha256Hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(Sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

TEST(Sha256, BytesGivenInPiecesDigestAsTheWhole) {
    // A download arrives in reads of any size, the last one short.
    const std::string piece(999, 'a');
    Sha256 digest;
    for (int i = 0; i <= 1001; ++i) digest.Add(piece.data(), i == 1001 ? 1 : piece.size());
    digest.Add(nullptr, 0);
    EXPECT_EQ(digest.FinishHex(), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

TEST(Sha256, TheProcessorsInstructionsAgreeWithTheSystemProviderAtEveryLengthAndSplit) {
    if (!ProcessorHasShaExtensions()) GTEST_SKIP() << "this processor has no SHA extensions";
    std::string bytes(3 * 64 + 9, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 131 + 7);
    // Every length around the padding's edges (55, 56, 63, 64 ...), and each
    // one fed in two pieces split at every third byte.
    for (std::size_t length = 0; length <= bytes.size(); ++length) {
        Sha256 provider(Sha256::Engine::SystemProvider);
        provider.Add(bytes.data(), length);
        const std::string expected = provider.FinishHex();
        ASSERT_EQ(expected.size(), 64u);
        for (std::size_t split = 0; split <= length; split += 3) {
            Sha256 processor;
            processor.Add(bytes.data(), split);
            processor.Add(bytes.data() + split, length - split);
            ASSERT_EQ(processor.FinishHex(), expected) << "length " << length << ", split at " << split;
        }
    }
    EXPECT_EQ(Sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

TEST(Sha256, OnlySixtyFourHexadecimalDigitsAreADigest) {
    const std::string lower = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
    EXPECT_EQ(ParseSha256Hex(lower), lower);
    EXPECT_EQ(ParseSha256Hex("BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD"), lower);
    for (const std::string& text :
         {std::string(), lower.substr(1), lower + "0", "0x" + lower.substr(2), lower.substr(0, 63) + "g",
          lower.substr(0, 63) + " ", lower.substr(0, 63) + '\0', std::string(64, '-')}) {
        EXPECT_EQ(ParseSha256Hex(text), std::nullopt) << text;
    }
}

TEST(Sha256, AMemberThatIsThereButNotADigestIsAnErrorNotAnAbsence) {
    const std::string upper = "BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD";
    EXPECT_EQ(ReadSha256Member(json::object()), "");
    EXPECT_EQ(ReadSha256Member({{"sha256", upper}, {"u", "x"}}), ParseSha256Hex(upper).value());
    for (const json& value : {json(""), json(nullptr), json(42), json::array({upper}), json(upper.substr(1))}) {
        EXPECT_THROW(ReadSha256Member({{"sha256", value}}), std::invalid_argument) << value.dump();
    }
}

}  // namespace
