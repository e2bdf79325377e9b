// The embedded keystore image: the "BKS" version-1 layout with one X.509
// certificate entry, field by field. (The JVM test opens it with Bouncy
// Castle and checks its MAC and certificate.)
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "jni/cert_bytes.h"

namespace quibex {
namespace {

// Reads big-endian fields from the image, failing the test past its end.
class ImageReader {
 public:
  uint64_t number(size_t bytes) {
    uint64_t value = 0;
    for (size_t i = 0; i < bytes; ++i) value = (value << 8) | byte();
    return value;
  }
  std::string text(size_t bytes) {
    std::string value;
    for (size_t i = 0; i < bytes; ++i) value += static_cast<char>(byte());
    return value;
  }
  // A string written as a two-byte length and its bytes.
  std::string lengthPrefixed() { return text(number(2)); }
  void skip(size_t bytes) { pos_ += bytes; }
  size_t pos() const { return pos_; }

 private:
  unsigned char byte() {
    EXPECT_LT(pos_, certBytesSize);
    return pos_ < certBytesSize ? certBytes[pos_++] : 0;
  }
  size_t pos_ = 0;
};

TEST(KeystoreImageTest, HasTheVersionOneLayoutWithOneCertificate) {
  ASSERT_EQ(certBytesSize, 1529u);
  ImageReader image;
  EXPECT_EQ(image.number(4), 1u) << "version";
  EXPECT_EQ(image.number(4), 20u) << "salt length";
  image.skip(20);
  const uint64_t iterations = image.number(4);
  EXPECT_GE(iterations, 1u);
  EXPECT_LT(iterations, 1u << 16);
  EXPECT_EQ(image.number(1), 1u) << "certificate entry";
  EXPECT_EQ(image.lengthPrefixed(), "quibex");
  const uint64_t created = image.number(8);
  EXPECT_GT(created, 1600000000000u) << "creation date in ms";
  EXPECT_EQ(image.number(4), 0u) << "chain length";
  EXPECT_EQ(image.lengthPrefixed(), "X.509");
  EXPECT_EQ(image.number(4), 1444u) << "certificate length";
  // A DER SEQUENCE with a two-byte length covering the rest.
  EXPECT_EQ(image.number(2), 0x3082u);
  EXPECT_EQ(image.number(2), 1444u - 4);
  image.skip(1444 - 4);
  EXPECT_EQ(image.number(1), 0u) << "end marker";
  EXPECT_EQ(certBytesSize - image.pos(), 20u) << "MAC";
}

}  // namespace
}  // namespace quibex
