// The host library's SHA-256, which checks the page hashes of a macOS
// module's code signature: the standard's test vectors, and lengths on
// each side of the point where the padding takes a second block.
#include "sha256.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

std::string hexOf(const ofxhost::Sha256Digest &digest) {
  static const char digits[] = "0123456789abcdef";
  std::string text;
  for (std::uint8_t b : digest) {
    text += digits[b >> 4];
    text += digits[b & 15];
  }
  return text;
}

std::string hashOf(const std::vector<std::uint8_t> &bytes) {
  return hexOf(ofxhost::sha256(bytes.data(), bytes.size()));
}

std::vector<std::uint8_t> bytesOf(const std::string &text) {
  return std::vector<std::uint8_t>(text.begin(), text.end());
}

TEST(Sha256, StandardVectors) {
  const struct {
    std::string message;
    const char *digest;
  } cases[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc",
       "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmno"
       "ijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopqrstu",
       "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
      {std::string(1000000, 'a'),
       "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const auto &c : cases)
    EXPECT_EQ(hashOf(bytesOf(c.message)), c.digest)
        << c.message.size() << " bytes";
}

// Bytes (7i + 3) mod 256: 55 bytes leave room for the length in one block,
// 56 do not; 64 fill a block exactly.
TEST(Sha256, LengthsAroundTheBlockEdges) {
  const struct {
    int length;
    const char *digest;
  } cases[] = {
      {55, "e7313d333c272e639f790978283f9eb392e843d0f29b7016828bb1daa4aac70b"},
      {56, "4324d65f3c103567f5589c710bc08f8523f929a9272e3af36fc968e52abc6c27"},
      {63, "81c80242132f230c3bd41b3e63bbcff16107339549214a99614ff26664625055"},
      {64, "39e3d7b6b5d075d37d053ad89b24b41bef4f3c29760c84447cab3f3be1882241"},
      {65, "aacca6ff74fdbb296d165a45cecfa04e5127bc008770fbbdd48006f2d2fae95e"},
      {119, "9ce7368e4daf32341631b492e80359dc9f594b48453cd0dd5bf0b19279cc177e"},
      {120, "7836b787757e95e58b3ca5aec90b1b004e8deba1e50e9675af9cabf1a13a04b5"},
  };
  for (const auto &c : cases) {
    std::vector<std::uint8_t> bytes(c.length);
    for (int i = 0; i < c.length; ++i)
      bytes[i] = static_cast<std::uint8_t>(7 * i + 3);
    EXPECT_EQ(hashOf(bytes), c.digest) << c.length << " bytes";
  }
}

} // namespace
