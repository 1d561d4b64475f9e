// The stored forms of users and passwords. Expected ciphertexts were made
// independently with the library's default secrets: Blowfish by OpenSSL's
// own implementation, PBES1/PBES2 by Python's hashlib key derivation and the
// openssl command line (enc -rc2-64-cbc, enc -rc2-cbc).
#include "login/crypt.h"

#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <string>

namespace {

std::string Hex(const char* p, size_t n) {
  static const char* digits = "0123456789ABCDEF";
  std::string out;
  for (size_t i = 0; i < n; ++i) {
    auto c = static_cast<unsigned char>(p[i]);
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

class CryptTest : public ::testing::Test {
 protected:
  void TearDown() override { vkt::ResetCryptSecrets(); }
};

TEST_F(CryptTest, BlowfishMethodGivesSixteenCipherBytesAndReadsThemBack) {
  char stored[17], back[17];
  ASSERT_TRUE(CryptUser("Mario", true, 0, stored, sizeof stored));
  EXPECT_EQ(Hex(stored, 16), "C045EA537C2D022A3C66AC5A081848D7");
  EXPECT_EQ(stored[16], '\0');
  ASSERT_TRUE(CryptUser(stored, false, 0, back, sizeof back));
  EXPECT_STREQ(back, "Mario");
  for (size_t i = 5; i < sizeof back; ++i) EXPECT_EQ(back[i], '\0') << i;

  // Only the first 16 characters count; Windows-1252 bytes go as they are.
  char a[17], b[17];
  ASSERT_TRUE(CryptUser("perch\xE9 \x80 abcdefgh", true, 0, a, sizeof a));
  ASSERT_TRUE(CryptUser("perch\xE9 \x80 abcdefghXYZ", true, 0, b, sizeof b));
  EXPECT_EQ(Hex(a, 16), "B2DDD0401FF1A339E8785BA6B718532B");
  EXPECT_EQ(Hex(b, 16), Hex(a, 16));
  ASSERT_TRUE(CryptUser(b, false, 0, back, sizeof back));
  EXPECT_STREQ(back, "perch\xE9 \x80 abcdefg");  // 16 of the 17

  // Leading blanks are trimmed too; a small result takes what fits.
  ASSERT_TRUE(CryptUser("  Anna", true, 0, stored, sizeof stored));
  char small[4];
  ASSERT_TRUE(CryptUser(stored, false, 0, small, sizeof small));
  EXPECT_STREQ(small, "Ann");
}

TEST_F(CryptTest, RefusesNullTextsEmptyResultsAndCutCiphers) {
  char result[40];
  std::memset(result, 'x', sizeof result);
  EXPECT_FALSE(CryptUser(nullptr, true, 0, result, sizeof result));
  EXPECT_EQ(result[0], '\0');
  EXPECT_EQ(result[39], '\0');
  std::memset(result, 'x', sizeof result);
  EXPECT_FALSE(CryptUser("Mario", true, 0, result, 0));
  EXPECT_EQ(result[0], 'x');  // a size of 0 writes nothing
  EXPECT_FALSE(CryptUser("Mario", true, 2, nullptr, 65));
  EXPECT_FALSE(CryptUser(nullptr, false, 1, result, sizeof result));

  // Sixteen bytes of room would cut the cipher (no room for the terminator
  // the host keeps); refused instead of a block that cannot be read back.
  EXPECT_FALSE(CryptUser("Mario", true, 0, result, 16));
  EXPECT_EQ(Hex(result, 16), std::string(32, '0'));

  // A caller that knows its length cannot make a short text read past it.
  char stored[17];
  ASSERT_TRUE(CryptUser("Mario", true, 0, stored, sizeof stored));
  EXPECT_FALSE(CryptUser(stored, 15, false, 0, result, sizeof result));
  EXPECT_FALSE(CryptUser("", size_t{0}, false, 0, result, sizeof result));
  ASSERT_TRUE(CryptUser(stored, 16, false, 0, result, sizeof result));
  EXPECT_STREQ(result, "Mario");
}

TEST_F(CryptTest, PasswordMethodGivesTheStandardPbes1TextOnlyWhenItFits) {
  char hex[33], back[20];
  ASSERT_TRUE(CryptUser("Mario Rossi", true, 1, hex, sizeof hex));
  EXPECT_STREQ(hex, "339108C83091B8B76595D9D40CE6EE3A");
  ASSERT_TRUE(CryptUser(hex, false, 1, back, sizeof back));
  EXPECT_STREQ(back, "Mario Rossi");
  ASSERT_TRUE(CryptUser("339108c83091b8b76595d9d40ce6ee3a", false, 1, back, sizeof back));
  EXPECT_STREQ(back, "Mario Rossi");

  char tight[32];
  EXPECT_FALSE(CryptUser("Mario Rossi", true, 1, tight, sizeof tight));
  EXPECT_EQ(tight[0], '\0');
  EXPECT_FALSE(CryptUser(hex, false, 1, back, 11));  // 11 characters need 12
  EXPECT_EQ(back[0], '\0');
  EXPECT_FALSE(CryptUser("not hex at all", false, 1, back, sizeof back));
  EXPECT_FALSE(CryptUser("339108C8", false, 1, back, sizeof back));  // short of a block
  EXPECT_EQ(back[0], '\0');

  ASSERT_TRUE(CryptUser("", true, 1, hex, sizeof hex));
  ASSERT_TRUE(CryptUser(hex, false, 1, back, sizeof back));
  EXPECT_STREQ(back, "");
}

TEST_F(CryptTest, DigestMethodNeedsRoomForSixtyFourDigitsAndATerminator) {
  char digest[65];
  EXPECT_FALSE(CryptUser("Mario", true, 2, digest, 64));
  EXPECT_EQ(digest[0], '\0');
  ASSERT_TRUE(CryptUser("Mario", true, 2, digest, 65));
  EXPECT_STREQ(digest, "61C8E16AD90D4E6DA317180FA445E262E9313BBF21FD4D30B3B9B4425886B2F5");
  ASSERT_TRUE(CryptUser("Mario", true, -3, digest, 65));  // any other method
  EXPECT_STREQ(digest, "61C8E16AD90D4E6DA317180FA445E262E9313BBF21FD4D30B3B9B4425886B2F5");
  EXPECT_FALSE(CryptUser(digest, false, 2, digest, 65));  // one way
  EXPECT_EQ(std::string(digest, 65), std::string(65, '\0'));
}

TEST_F(CryptTest, CryptBufferIsTheBlowfishMethodOnWholeBlocks) {
  unsigned char buf[16];
  std::memcpy(buf, "Mario           ", 16);
  CryptBuffer(buf, 16, 1);
  EXPECT_EQ(Hex(reinterpret_cast<char*>(buf), 16), "C045EA537C2D022A3C66AC5A081848D7");
  CryptBuffer(buf, 16, 0);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 16), "Mario           ");
  for (int bad : {12, 0, -8}) {
    try {
      CryptBuffer(buf, bad, 1);
      FAIL() << bad << " accepted";
    } catch (const std::exception& e) {
      EXPECT_STREQ(e.what(), "Incorrect buffer length");
    }
  }
  EXPECT_THROW(CryptBuffer(nullptr, 8, 1), std::invalid_argument);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 16), "Mario           ");
}

TEST_F(CryptTest, Pbes2GivesTheStandardTextAndEmptyStringsForNothingOrFailure) {
  CString hex = Pbes2Encrypt("Via Roma 1, 00100 Roma");
  EXPECT_STREQ(hex, "5BAB5CA502CC03675F1A769FFD8492DAC920FFDCEB41A675");
  EXPECT_STREQ(Pbes2Decrypt(hex), "Via Roma 1, 00100 Roma");
  EXPECT_STREQ(Pbes2Decrypt(Pbes2Encrypt("perch\xE9 costa 5 \x80")), "perch\xE9 costa 5 \x80");
  EXPECT_TRUE(Pbes2Encrypt("").IsEmpty());
  EXPECT_TRUE(Pbes2Encrypt(nullptr).IsEmpty());
  EXPECT_TRUE(Pbes2Decrypt(nullptr).IsEmpty());
  EXPECT_TRUE(Pbes2Decrypt("").IsEmpty());
  EXPECT_TRUE(Pbes2Decrypt("XYZ").IsEmpty());
  EXPECT_TRUE(Pbes2Decrypt("5BAB5CA502CC0367").IsEmpty());  // a block cut from the text
}

TEST_F(CryptTest, SiteSecretsOfTheRightFormReplaceTheDefaults) {
  vkt::CryptSecrets site = vkt::DefaultCryptSecrets();
  EXPECT_EQ(site.blowfish_key.size(), 9u);
  EXPECT_EQ(site.pbes2_password.size(), 32u);
  vkt::CryptSecrets bad = site;
  bad.blowfish_key = "ab 123 CD";
  EXPECT_FALSE(vkt::SetCryptSecrets(bad));
  bad = site;
  bad.pbes1_salt = "3A9F1C07E2B5D84";
  EXPECT_FALSE(vkt::SetCryptSecrets(bad));
  bad = site;
  bad.pbes2_password[5] = 'q';
  EXPECT_FALSE(vkt::SetCryptSecrets(bad));
  bad = site;
  bad.pbes2_iv = std::string(32, 'G');
  EXPECT_FALSE(vkt::SetCryptSecrets(bad));
  EXPECT_EQ(vkt::CurrentCryptSecrets().blowfish_key, site.blowfish_key);

  char before[17], after[17];
  ASSERT_TRUE(CryptUser("Mario", true, 0, before, sizeof before));
  site.blowfish_key = "ZZ 999 QQ";
  site.pbes2_salt = std::string(64, 'A');
  ASSERT_TRUE(vkt::SetCryptSecrets(site));
  ASSERT_TRUE(CryptUser("Mario", true, 0, after, sizeof after));
  EXPECT_NE(Hex(before, 16), Hex(after, 16));
  EXPECT_STRNE(Pbes2Encrypt("Via Roma 1, 00100 Roma"),
               "5BAB5CA502CC03675F1A769FFD8492DAC920FFDCEB41A675");
  vkt::ResetCryptSecrets();
  ASSERT_TRUE(CryptUser("Mario", true, 0, after, sizeof after));
  EXPECT_EQ(Hex(before, 16), Hex(after, 16));
}

}  // namespace
