// Blowfish against the published test vectors (Eric Young's set: code book,
// variable key length, CBC and 64-bit CFB).
#include "login/blowfish.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

std::vector<unsigned char> Unhex(const std::string& hex) {
  std::vector<unsigned char> out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    out.push_back(static_cast<unsigned char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  }
  return out;
}

std::string Hex(const unsigned char* p, size_t n) {
  std::string out;
  char b[3];
  for (size_t i = 0; i < n; ++i) {
    std::snprintf(b, sizeof b, "%02X", p[i]);
    out += b;
  }
  return out;
}

TEST(CBlowFishTest, CodeBookReproducesThePublishedVectorsAndInverts) {
  const char* vectors[][3] = {
      {"0000000000000000", "0000000000000000", "4EF997456198DD78"},
      {"FFFFFFFFFFFFFFFF", "FFFFFFFFFFFFFFFF", "51866FD5B85ECB8A"},
      {"3000000000000000", "1000000000000001", "7D856F9A613063F2"},
      {"1111111111111111", "1111111111111111", "2466DD878B963C9D"},
      {"0123456789ABCDEF", "1111111111111111", "61F9C3802281B096"},
      {"FEDCBA9876543210", "0123456789ABCDEF", "0ACEAB0FC6A0A28D"},
  };
  for (const auto& v : vectors) {
    auto key = Unhex(v[0]);
    auto buf = Unhex(v[1]);
    CBlowFish bf(key.data(), key.size());
    bf.Encrypt(buf.data(), buf.size(), CBlowFish::ECB);
    EXPECT_EQ(Hex(buf.data(), 8), v[2]) << v[0];
    bf.Decrypt(buf.data(), buf.size(), 7);  // any other mode is code book
    EXPECT_EQ(Hex(buf.data(), 8), v[1]);
  }
}

// The library's key is 9 bytes long. The openssl command line cannot check
// such a key (enc -K zero-pads a short Blowfish key to 16 bytes, which is
// another key), so these are the published variable-key-length vectors.
TEST(CBlowFishTest, VariableKeyLengthsIncludingNineBytesAndTheFiftySixByteCap) {
  const auto full = Unhex("F0E1D2C3B4A5968778695A4B3C2D1E0F0011223344556677");
  const char* expected[] = {"F9AD597C49DB005E", "E91D21C1D961A6D6", "E9C2B70A1BC65CF3",
                            "BE1E639408640F05", "B39E44481BDB1E6E", "9457AA83B1928C0D",
                            "8BB77032F960629D", "E87A244E2CC85E82", "15750E7A4F4EC577"};
  for (size_t len = 1; len <= 9; ++len) {
    auto buf = Unhex("FEDCBA9876543210");
    CBlowFish bf(full.data(), len);
    bf.Encrypt(buf.data(), 8, CBlowFish::ECB);
    EXPECT_EQ(Hex(buf.data(), 8), expected[len - 1]) << len << " key bytes";
  }
  std::vector<unsigned char> long_key(70, 0x5A), cut(56, 0x5A);
  long_key[60] = 1;  // beyond the 56 bytes used
  unsigned char a[8] = {1, 2, 3, 4, 5, 6, 7, 8}, b[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  CBlowFish(long_key.data(), long_key.size()).Encrypt(a, 8);
  CBlowFish(cut.data(), cut.size()).Encrypt(b, 8);
  EXPECT_EQ(Hex(a, 8), Hex(b, 8));
}

TEST(CBlowFishTest, ChainedModesMatchThePublishedVectorsAndKeepTheChain) {
  auto key = Unhex("0123456789ABCDEFF0E1D2C3B4A59687");
  auto iv = Unhex("FEDCBA9876543210");
  const SBlock chain((uint32_t{iv[0]} << 24) | (iv[1] << 16) | (iv[2] << 8) | iv[3],
                     (uint32_t{iv[4]} << 24) | (iv[5] << 16) | (iv[6] << 8) | iv[7]);
  CBlowFish bf(key.data(), key.size(), chain);
  unsigned char clear[32] = "7654321 Now is the time for ";
  unsigned char out[32], back[32];
  bf.Encrypt(clear, out, 32, CBlowFish::CBC);
  EXPECT_EQ(Hex(out, 32), "6B77B4D63006DEE605B156E27403979358DEB9E7154616D959F1652BD5FF92CC");
  // The call did not move the chain: decrypting starts from the same block.
  bf.Decrypt(out, back, 32, CBlowFish::CBC);
  EXPECT_EQ(Hex(back, 32), Hex(clear, 32));
  bf.Encrypt(clear, out, 24, CBlowFish::CFB);
  EXPECT_EQ(Hex(out, 24), "E73214A2822139CAF26ECF6D2EB9E76E3DA3DE04D1517200");
  bf.Decrypt(out, back, 24, CBlowFish::CFB);
  EXPECT_EQ(Hex(back, 24), Hex(clear, 24));
  bf.ResetChain();
  bf.Encrypt(clear, out, 8, CBlowFish::CBC);
  EXPECT_EQ(Hex(out, 8), "6B77B4D63006DEE6");

  // Copies carry the whole state.
  CBlowFish copy = bf;
  unsigned char c1[8] = {9, 9, 9, 9, 9, 9, 9, 9}, c2[8] = {9, 9, 9, 9, 9, 9, 9, 9};
  bf.Encrypt(c1, 8, CBlowFish::CBC);
  copy.Encrypt(c2, 8, CBlowFish::CBC);
  EXPECT_EQ(Hex(c1, 8), Hex(c2, 8));

  // Assignment takes the other key and chain; the source stays usable.
  auto other_key = Unhex("F0E1D2C3B4A5968778");
  CBlowFish assigned(other_key.data(), other_key.size());
  assigned = bf;
  unsigned char c3[8] = {9, 9, 9, 9, 9, 9, 9, 9};
  assigned.Encrypt(c3, 8, CBlowFish::CBC);
  EXPECT_EQ(Hex(c3, 8), Hex(c1, 8));
}

TEST(CBlowFishTest, CodeBookOnOverlappingBuffersGoesBlockByBlock) {
  auto key = Unhex("0123456789ABCDEF");
  CBlowFish bf(key.data(), key.size());
  // Output one block after the input: each block is read before it is
  // written, so the second block read is the first one's cipher.
  unsigned char buf[24] = {1, 2, 3, 4, 5, 6, 7, 8, 11, 12, 13, 14, 15, 16, 17, 18};
  unsigned char once[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  bf.Encrypt(once, 8, CBlowFish::ECB);
  unsigned char twice[8];
  bf.Encrypt(once, twice, 8, CBlowFish::ECB);
  bf.Encrypt(buf, buf + 8, 16, CBlowFish::ECB);
  EXPECT_EQ(Hex(buf + 8, 8), Hex(once, 8));
  EXPECT_EQ(Hex(buf + 16, 8), Hex(twice, 8));
  // Output one block before the input: back to the clear block and the
  // first cipher.
  bf.Decrypt(buf + 8, buf, 16, CBlowFish::ECB);
  EXPECT_EQ(Hex(buf, 8), "0102030405060708");
  EXPECT_EQ(Hex(buf + 8, 8), Hex(once, 8));
}

TEST(CBlowFishTest, RefusesEmptyKeysAndPartialBlocks) {
  unsigned char key[1] = {0};
  try {
    CBlowFish bad(key, 0);
    FAIL() << "a zero-length key was accepted";
  } catch (const std::exception& e) {
    EXPECT_STREQ(e.what(), "Incorrect key length");
  }
  EXPECT_THROW(CBlowFish(nullptr, 8), std::invalid_argument);
  CBlowFish bf(reinterpret_cast<const unsigned char*>("AB 123 CD"), 9);
  unsigned char buf[16] = {};
  for (size_t len : {size_t{0}, size_t{7}, size_t{12}, size_t{15}}) {
    try {
      bf.Encrypt(buf, len, CBlowFish::ECB);
      FAIL() << len << " bytes accepted";
    } catch (const std::exception& e) {
      EXPECT_STREQ(e.what(), "Incorrect buffer length");
    }
    EXPECT_THROW(bf.Decrypt(buf, buf, len, CBlowFish::CBC), std::invalid_argument);
  }
  EXPECT_THROW(bf.Encrypt(nullptr, 8, CBlowFish::ECB), std::invalid_argument);
}

}  // namespace
