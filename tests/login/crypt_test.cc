// The stored forms of users and passwords. Expected ciphertexts were made
// independently with the library's default secrets: Blowfish by OpenSSL's
// own implementation, PBES1/PBES2 by Python's hashlib key derivation and the
// openssl command line (enc -rc2-64-cbc, enc -rc2-cbc); the newer ones carry
// the exact commands that made them.
#include "login/crypt.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>

#include "login/blowfish.h"

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

// The stored texts a site gets with the default secrets, made independently
// with the openssl command line (OpenSSL 3.0):
//   key and IV of method 1, the 16 bytes split 8 + 8:
//     openssl kdf -provider legacy -provider default -keylen 16 -kdfopt digest:SHA1
//       -kdfopt "pass:MR 204 LX" -kdfopt hexsalt:3A9F1C07E2B5D846 -kdfopt iter:1024 PBKDF1
//     -> C5:81:87:30:3C:FA:FC:D9:35:69:FB:E2:01:D4:DF:77
//   key of Pbes2Encrypt:
//     openssl kdf -provider legacy -provider default -keylen 16 -kdfopt digest:SHA1
//       -kdfopt pass:Q7VKT2M9XR4LD8PZ3HN6WB1CJ5FY0SGE
//       -kdfopt hexsalt:8D3F60A1C47E92B5017F3CE8A4D2961B5E0F7C3A29B8D46E13F5A07C9E2B4D61
//       -kdfopt iter:1024 PBKDF2
//     -> E1:DF:4A:CA:41:FD:E1:AA:D8:95:0B:BE:52:C1:6F:18
// Method 0's 9-byte Blowfish key cannot be checked this way (openssl enc -K
// zero-pads a short key to 16 bytes, another key): blowfish_test holds the
// published variable-key-length vectors for it.
TEST_F(CryptTest, DefaultSecretsGiveTheTextsOpensslMakes) {
  char hex[65], back[40];
  // printf 'Giuseppe Verdi' | openssl enc -provider legacy -provider default -rc2-64-cbc
  //   -K C58187303CFAFCD9 -iv 3569FBE201D4DF77 -nosalt | xxd -p -u -c 64
  ASSERT_TRUE(CryptUser("Giuseppe Verdi", true, 1, hex, sizeof hex));
  EXPECT_STREQ(hex, "C296F7660C2B9E7CC0CF8B61C0CF6AE5");
  ASSERT_TRUE(CryptUser(hex, false, 1, back, sizeof back));
  EXPECT_STREQ(back, "Giuseppe Verdi");
  // printf 'Citt\xe0 d\x92Ar\xe8na \x80' | openssl enc -provider legacy -provider default
  //   -rc2-64-cbc -K C58187303CFAFCD9 -iv 3569FBE201D4DF77 -nosalt | xxd -p -u -c 64
  ASSERT_TRUE(CryptUser("Citt\xE0 d\x92" "Ar\xE8na \x80", true, 1, hex, sizeof hex));
  EXPECT_STREQ(hex, "B47523A9AF95AB26C1E25FEEE46C909B");
  // printf '' | openssl enc -provider legacy -provider default -rc2-64-cbc
  //   -K C58187303CFAFCD9 -iv 3569FBE201D4DF77 -nosalt | xxd -p -u -c 64
  ASSERT_TRUE(CryptUser("", true, 1, hex, sizeof hex));
  EXPECT_STREQ(hex, "CD5C96C064D1712B");

  // printf 'Giuseppe Verdi' | openssl dgst -sha256
  ASSERT_TRUE(CryptUser("Giuseppe Verdi", true, 2, hex, sizeof hex));
  EXPECT_STREQ(hex, "407248099F94385D43E93CEA87DB75E0E2E76BCF946D400680D526B2D87591AA");
  // printf 'Citt\xe0 d\x92Ar\xe8na \x80' | openssl dgst -sha256
  ASSERT_TRUE(CryptUser("Citt\xE0 d\x92" "Ar\xE8na \x80", true, 2, hex, sizeof hex));
  EXPECT_STREQ(hex, "2D40D84A86CB7C318FC11E51C4E56CB6DB9761FC3B3918BA2780847060FF3D0B");

  // printf 'Piazza Duomo 12, 20121 Milano' | openssl enc -provider legacy
  //   -provider default -rc2-cbc -K E1DF4ACA41FDE1AAD8950BBE52C16F18
  //   -iv 5C1E93A07B24D6F8 -nosalt | xxd -p -u -c 64
  // (the first 8 of the 16 IV bytes: RC2's block is 8)
  EXPECT_STREQ(Pbes2Encrypt("Piazza Duomo 12, 20121 Milano"),
               "E7B67B76F9E1D88AD073B6CC46EFE4D0FDA5021592710635ACB7629444C0F380");
  EXPECT_STREQ(Pbes2Decrypt("e7b67b76f9e1d88ad073b6cc46efe4d0fda5021592710635acb7629444c0f380"),
               "Piazza Duomo 12, 20121 Milano");
}

TEST_F(CryptTest, EmptyAndAccentedTextsRoundTripAndNullTextsAreRefused) {
  // Method 0: the empty name is 16 blanks encrypted, and comes back empty.
  char stored[17], back[17];
  std::memset(back, 'x', sizeof back);
  ASSERT_TRUE(CryptUser("", true, 0, stored, sizeof stored));
  unsigned char blanks[16];
  std::memset(blanks, ' ', sizeof blanks);
  CryptBuffer(blanks, 16, 1);
  EXPECT_EQ(Hex(stored, 16), Hex(reinterpret_cast<char*>(blanks), 16));
  ASSERT_TRUE(CryptUser(stored, false, 0, back, sizeof back));
  EXPECT_EQ(std::string(back, sizeof back), std::string(sizeof back, '\0'));

  // Method 0 with every accented letter of a Windows-1252 name.
  const char* accented = "\xC0\xE8\xE9\xEC\xF2\xF9 \x80\x92\xA3";
  ASSERT_TRUE(CryptUser(accented, true, 0, stored, sizeof stored));
  ASSERT_TRUE(CryptUser(stored, false, 0, back, sizeof back));
  EXPECT_STREQ(back, accented);

  // Method 1: empty and accented both ways.
  char hex[65], clear[40];
  ASSERT_TRUE(CryptUser(accented, true, 1, hex, sizeof hex));
  ASSERT_TRUE(CryptUser(hex, false, 1, clear, sizeof clear));
  EXPECT_STREQ(clear, accented);
  ASSERT_TRUE(CryptUser("", true, 1, hex, sizeof hex));
  std::memset(clear, 'x', sizeof clear);
  ASSERT_TRUE(CryptUser(hex, false, 1, clear, sizeof clear));
  EXPECT_STREQ(clear, "");

  // The digest of nothing is SHA-256's published one.
  ASSERT_TRUE(CryptUser("", true, 2, hex, sizeof hex));
  EXPECT_STREQ(hex, "E3B0C44298FC1C149AFBF4C8996FB92427AE41E4649B934CA495991B7852B855");

  // A null text is refused by every method, either way, with the result
  // cleared rather than left holding an earlier value.
  for (short method : {short{0}, short{1}, short{2}}) {
    for (bool encrypt : {true, false}) {
      std::memset(hex, 'x', sizeof hex);
      EXPECT_FALSE(CryptUser(nullptr, encrypt, method, hex, sizeof hex))
          << "method " << method << (encrypt ? " encrypt" : " decrypt");
      EXPECT_EQ(std::string(hex, sizeof hex), std::string(sizeof hex, '\0')) << method;
      EXPECT_FALSE(CryptUser(nullptr, size_t{16}, encrypt, method, hex, sizeof hex));
    }
  }
}

// In a fresh process (the death-test child) whose OpenSSL finds no modules:
// the Blowfish and RC2 methods refuse, CryptBuffer and CBlowFish throw
// saying why, and the digest still works.
void CheckTheLibraryWithoutTheLegacyProvider() {
  int faults = 0;
  auto check = [&faults](bool ok, const char* what) {
    if (!ok) {
      std::fprintf(stderr, "FAULT: %s\n", what);
      ++faults;
    }
  };
  char result[65];
  std::memset(result, 'x', sizeof result);
  check(!CryptUser("Mario", true, 0, result, sizeof result), "method 0 encrypted");
  check(std::string(result, sizeof result) == std::string(sizeof result, '\0'),
        "method 0 left bytes in the result");
  check(!CryptUser("0123456789ABCDEF", false, 0, result, sizeof result), "method 0 decrypted");
  check(!CryptUser("Mario", true, 1, result, sizeof result), "method 1 encrypted");
  check(result[0] == '\0', "method 1 left bytes");
  check(Pbes2Encrypt("Via Roma 1").IsEmpty(), "Pbes2Encrypt gave text");
  check(Pbes2Decrypt("5BAB5CA502CC03675F1A769FFD8492DAC920FFDCEB41A675").IsEmpty(),
        "Pbes2Decrypt gave text");

  unsigned char buf[16];
  std::memcpy(buf, "Mario           ", 16);
  try {
    CryptBuffer(buf, 16, 1);
    check(false, "CryptBuffer did not throw");
  } catch (const std::runtime_error& e) {
    std::fprintf(stderr, "CryptBuffer: %s\n", e.what());
  }
  check(std::memcmp(buf, "Mario           ", 16) == 0, "CryptBuffer touched the buffer");
  try {
    CBlowFish bf(reinterpret_cast<const unsigned char*>("VK 731 TD"), 9);
    check(false, "CBlowFish was keyed");
  } catch (const std::runtime_error& e) {
    check(std::string(e.what()).find("legacy provider") != std::string::npos,
          "CBlowFish's message does not name the provider");
  }

  check(CryptUser("Mario", true, 2, result, sizeof result) &&
            std::string(result) ==
                "61C8E16AD90D4E6DA317180FA445E262E9313BBF21FD4D30B3B9B4425886B2F5",
        "the digest failed");
  std::exit(faults == 0 ? 0 : 1);
}

TEST_F(CryptTest, WithoutOpensslsLegacyProviderTheCallsFailCleanly) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");  // a fresh process, not a fork
  const char* saved = std::getenv("OPENSSL_MODULES");
  std::string keep = saved != nullptr ? saved : "";
  setenv("OPENSSL_MODULES", "/nonexistent/vkt-no-modules", 1);
  EXPECT_EXIT(CheckTheLibraryWithoutTheLegacyProvider(), ::testing::ExitedWithCode(0),
              "CryptBuffer: Blowfish unavailable: the OpenSSL legacy provider");
  if (saved != nullptr) {
    setenv("OPENSSL_MODULES", keep.c_str(), 1);
  } else {
    unsetenv("OPENSSL_MODULES");
  }
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
