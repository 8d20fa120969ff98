// MD5 digests as the reader computes them to verify envelope records.
#include "md5.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "test_support.h"

using namespace format;

namespace {

std::string HexDigest(std::string_view data) { return test::Hex(Md5Hasher(data).Digest()); }

// Byte i is (37 * i + 11) mod 256: varied bytes, with a zero byte at i = 97.
std::string Pattern(size_t size) {
  std::string bytes;
  for (size_t i = 0; i < size; ++i) bytes += static_cast<char>((37 * i + 11) % 256);
  return bytes;
}

std::string Repeat(std::string_view piece, int times) {
  std::string text;
  for (int i = 0; i < times; ++i) text += piece;
  return text;
}

// Inputs whose digests were computed independently (python3 hashlib).
std::vector<std::pair<std::string, std::string>> KnownDigests() {
  return {
      // RFC 1321 test suite.
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
       "d174ab98d277d9f5a5611c2c9f419d9f"},
      {Repeat("1234567890", 8), "57edf4a22be3c955ac49da2e2107b67a"},
      // Values the reader meets in envelopes.
      {"chunked-installer-tail", "a8a8ce0123fb197e706d7ce0c78674c5"},
      {"value", "2063c1608d6e0baf80249c42e2be5804"},
      // N bytes of 'a' around the point where the length no longer fits in the
      // last block (55/56) and around block boundaries.
      {std::string(55, 'a'), "ef1772b6dff9a122358552954ad0df65"},
      {std::string(56, 'a'), "3b0c8ac703f828b04c6c197006d17218"},
      {std::string(63, 'a'), "b06521f39153d618550606be297466d5"},
      {std::string(64, 'a'), "014842d480b571495a4a0363793f7367"},
      {std::string(65, 'a'), "c743a45e0d2e6a95cb859adae0248435"},
      {std::string(119, 'a'), "8a7bd0732ed6a28ce75f6dabc90e1613"},
      {std::string(120, 'a'), "5f61c0ccad4cac44c75ff505e1f1e537"},
      {std::string(128, 'a'), "e510683b3f5ffe4093d021808bc6ff70"},
      // Zero bytes are message bytes like any other.
      {std::string(1, '\0'), "93b885adfe0da089cdf634904fd59f71"},
      {std::string("a\0b", 3), "70350f6027bce3713f6b76473084309b"},
      {std::string(64, '\0'), "3b5d3c7d207e37dceeedd301e35e2e58"},
      {Pattern(300), "1cacd39d2680cccfccf8c3265c8d037e"},
  };
}

TEST(Md5, KnownDigests) {
  for (const auto& [input, expected] : KnownDigests()) {
    SCOPED_TRACE("input of " + std::to_string(input.size()) + " bytes: " + input.substr(0, 40));
    EXPECT_EQ(HexDigest(input), expected);
  }
}

TEST(Md5, DefaultConstructedHasherDigestsTheEmptyMessage) {
  Md5Hasher hasher;
  EXPECT_EQ(test::Hex(hasher.Digest()), "d41d8cd98f00b204e9800998ecf8427e");
}

TEST(Md5, TwoPiecesSplitAtEveryOffsetGiveTheOneShotDigest) {
  for (const size_t size : {1u, 55u, 56u, 64u, 65u, 130u, 200u}) {
    const std::string data = Pattern(size);
    const std::string whole = Md5Hasher(data).Digest();
    for (size_t split = 0; split <= size; ++split) {
      Md5Hasher hasher(std::string_view(data).substr(0, split));
      hasher.Update(std::string_view(data).substr(split));
      ASSERT_EQ(hasher.Digest(), whole) << "size " << size << ", split at " << split;
    }
  }
}

TEST(Md5, OddChunkSizesAcrossBlockBoundariesGiveTheOneShotDigest) {
  const std::string data = Pattern(1000);
  const std::string whole = Md5Hasher(data).Digest();
  for (const size_t chunk : {1u, 3u, 7u, 13u, 63u, 65u, 127u, 129u, 999u}) {
    Md5Hasher hasher;
    for (size_t at = 0; at < data.size(); at += chunk) {
      hasher.Update(std::string_view(data).substr(at, chunk));
    }
    EXPECT_EQ(hasher.Digest(), whole) << "chunk size " << chunk;
  }
  // Empty updates in between change nothing.
  Md5Hasher hasher;
  hasher.Update("");
  hasher.Update(std::string_view(data).substr(0, 500));
  hasher.Update("");
  hasher.Update(std::string_view(data).substr(500));
  EXPECT_EQ(hasher.Digest(), whole);
}

TEST(Md5, DigestWithZeroBytesKeepsAllSixteenBytes) {
  // "zero-148" digests to a first byte of zero, "zero-3093" to a last one.
  const std::pair<const char*, const char*> cases[] = {
      {"zero-148", "00415aaee56bd74da8fd1058ff557acb"},
      {"zero-3093", "ff2abfe5d53d9577b13b25682f72ca00"},
  };
  for (const auto& [input, expected] : cases) {
    const std::string digest = Md5Hasher(input).Digest();
    ASSERT_EQ(digest.size(), Md5Hasher::kDigestSize) << input;
    EXPECT_EQ(test::Hex(digest), expected);
    EXPECT_NE(digest, Md5Hasher("zero-2").Digest());
  }
}

TEST(Md5, DigestTwiceGivesTheSameBytes) {
  Md5Hasher hasher("chunked-installer-tail");
  const std::string first = hasher.Digest();
  EXPECT_EQ(hasher.Digest(), first);
  hasher.Finalise();
  EXPECT_EQ(test::Hex(hasher.Digest()), "a8a8ce0123fb197e706d7ce0c78674c5");
}

}  // namespace
