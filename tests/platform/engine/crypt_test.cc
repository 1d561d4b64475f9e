// The encryption object against published vectors (RFC 2268 for RC2,
// RFC 6070 for PBKDF2) and against ciphertexts made independently with the
// openssl command line (enc -rc2-64-cbc, -rc2-cbc, -aes-128-cbc with keys
// derived by Python's hashlib).
#include "engine/crypt.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "engine/detail/cipher.h"

namespace {

namespace d = vkt::engine::detail;

std::string Unhex(const std::string& hex) {
  std::string out;
  EXPECT_TRUE(d::HexDecode(hex, &out)) << hex;
  return out;
}

TEST(Rc2Test, MatchesRfc2268VectorsAndInverts) {
  struct Vector {
    const char* key;
    int bits;
    const char* plain;
    const char* cipher;
  };
  const Vector vectors[] = {
      {"0000000000000000", 63, "0000000000000000", "EBB773F993278EFF"},
      {"FFFFFFFFFFFFFFFF", 64, "FFFFFFFFFFFFFFFF", "278B27E42E2F0D49"},
      {"3000000000000000", 64, "1000000000000001", "30649EDF9BE7D2C2"},
      {"88", 64, "0000000000000000", "61A8A244ADACCCF0"},
      {"88BCA90E90875A", 64, "0000000000000000", "6CCF4308974C267F"},
      {"88BCA90E90875A7F0F79C384627BAFB2", 64, "0000000000000000", "1A807D272BBE5DB1"},
      {"88BCA90E90875A7F0F79C384627BAFB2", 128, "0000000000000000", "2269552AB0F85CA6"},
      {"88BCA90E90875A7F0F79C384627BAFB216F80A6F85920584C42FCEB0BE255DAF1E", 129,
       "0000000000000000", "5B78D3A43DFFF1F1"},
  };
  for (const auto& v : vectors) {
    d::Rc2 rc2;
    ASSERT_TRUE(rc2.SetKey(Unhex(v.key), v.bits));
    std::string plain = Unhex(v.plain);
    uint8_t out[8], back[8];
    rc2.EncryptBlock(reinterpret_cast<const uint8_t*>(plain.data()), out);
    EXPECT_EQ(d::HexEncode(std::string(reinterpret_cast<char*>(out), 8)), v.cipher)
        << "key " << v.key << " bits " << v.bits;
    rc2.DecryptBlock(out, back);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(back), 8), plain);
  }
  d::Rc2 rc2;
  EXPECT_FALSE(rc2.SetKey("", 64));
  EXPECT_FALSE(rc2.SetKey("k", 0));
  EXPECT_FALSE(rc2.SetKey("k", 1025));
  EXPECT_FALSE(rc2.SetKey(std::string(129, 'k'), 64));
}

TEST(KeyDerivationTest, Pbkdf2MatchesRfc6070AndPbkdf1IteratesTheDigest) {
  struct Vector {
    std::string password, salt;
    int iterations;
    size_t length;
    const char* key;
  };
  const Vector vectors[] = {
      {"password", "salt", 1, 20, "0C60C80F961F0E71F3A9B524AF6012062FE037A6"},
      {"password", "salt", 2, 20, "EA6C014DC72D6F8CCD1ED92ACE1D41F0D8DE8957"},
      {"password", "salt", 4096, 20, "4B007901B765489ABEAD49D926F721D065A429C1"},
      {"passwordPASSWORDpassword", "saltSALTsaltSALTsaltSALTsaltSALTsalt", 4096, 25,
       "3D2EEC4FE41C849B80C8D83662C0E44A8B291A964CF2F07038"},
      {std::string("pass\0word", 9), std::string("sa\0lt", 5), 4096, 16,
       "56FA6AA75548099DCC37D7F03425E0C3"},
  };
  for (const auto& v : vectors) {
    std::string key;
    ASSERT_TRUE(d::Pbkdf2("sha1", v.password, v.salt, v.iterations, v.length, &key));
    EXPECT_EQ(d::HexEncode(key), v.key) << v.iterations;
  }
  std::string key;
  ASSERT_TRUE(d::Pbkdf1("sha1", "MR 204 LX", Unhex("3A9F1C07E2B5D846"), 1024, 16, &key));
  EXPECT_EQ(d::HexEncode(key), "C58187303CFAFCD93569FBE201D4DF77");
  EXPECT_FALSE(d::Pbkdf1("sha1", "p", "saltsalt", 1, 21, &key));  // longer than SHA-1
  EXPECT_FALSE(d::Pbkdf1("sha256", "p", "saltsalt", 1, 16, &key));
  EXPECT_FALSE(d::Pbkdf2("sha1", "p", "s", 0, 16, &key));
}

CkCrypt2 Pbes1() {
  CkCrypt2 c;
  c.put_CryptAlgorithm("pbes1");
  c.put_PbesPassword("MR 204 LX");
  c.put_PbesAlgorithm("rc2");
  c.put_KeyLength(64);
  EXPECT_TRUE(c.SetEncodedSalt("3A9F1C07E2B5D846", "hex"));
  c.put_IterationCount(1024);
  c.put_HashAlgorithm("sha1");
  c.put_EncodingMode("hex");
  return c;
}

CkCrypt2 Pbes2(const char* inner) {
  CkCrypt2 c;
  c.put_CryptAlgorithm("pbes2");
  c.put_PbesPassword("Q7VKT2M9XR4LD8PZ3HN6WB1CJ5FY0SGE");
  c.put_PbesAlgorithm(inner);
  c.put_KeyLength(128);
  c.put_Rc2EffectiveKeyLength(128);
  EXPECT_TRUE(c.SetEncodedIV("5C1E93A07B24D6F8E1094A3B7C65D2F0", "hex"));
  EXPECT_TRUE(c.SetEncodedSalt(
      "8D3F60A1C47E92B5017F3CE8A4D2961B5E0F7C3A29B8D46E13F5A07C9E2B4D61", "hex"));
  c.put_IterationCount(1024);
  c.put_HashAlgorithm("sha1");
  c.put_EncodingMode("hex");
  return c;
}

TEST(CkCrypt2Test, Pbes1GivesTheStandardCiphertextAndReadsItBack) {
  CkCrypt2 c = Pbes1();
  std::string hex, clear;
  ASSERT_TRUE(c.EncryptStringENC("Mario Rossi", &hex)) << c.LastErrorText();
  EXPECT_EQ(hex, "339108C83091B8B76595D9D40CE6EE3A");
  ASSERT_TRUE(c.EncryptStringENC("perch\xE9 \x80", &hex));
  EXPECT_EQ(hex, "98783A57C5DC349A855753D5B9A9A37C");  // Windows-1252 bytes as they are
  ASSERT_TRUE(c.DecryptStringENC("98783a57c5dc349a855753d5b9a9a37c", &clear));
  EXPECT_EQ(clear, "perch\xE9 \x80");
  ASSERT_TRUE(c.EncryptStringENC("", &hex));
  EXPECT_EQ(hex.size(), 16u);  // one block of padding
  ASSERT_TRUE(c.DecryptStringENC(hex, &clear));
  EXPECT_EQ(clear, "");
}

TEST(CkCrypt2Test, Pbes2WithRc2AndAesGivesTheStandardCiphertexts) {
  CkCrypt2 rc2 = Pbes2("rc2");
  std::string hex, clear;
  ASSERT_TRUE(rc2.EncryptStringENC("Via Roma 1, 00100 Roma", &hex)) << rc2.LastErrorText();
  EXPECT_EQ(hex, "5BAB5CA502CC03675F1A769FFD8492DAC920FFDCEB41A675");
  ASSERT_TRUE(rc2.DecryptStringENC(hex, &clear));
  EXPECT_EQ(clear, "Via Roma 1, 00100 Roma");
  ASSERT_TRUE(rc2.EncryptStringENC("", &hex));
  EXPECT_EQ(hex, "C39215A48BD7A326");

  CkCrypt2 aes = Pbes2("aes");
  ASSERT_TRUE(aes.EncryptStringENC("Via Roma 1, 00100 Roma", &hex)) << aes.LastErrorText();
  EXPECT_EQ(hex, "9DCD32B5E014C251CB84507DC855E81A240AD6B5FEA2FDFC5361209957029865");
  ASSERT_TRUE(aes.DecryptStringENC(hex, &clear));
  EXPECT_EQ(clear, "Via Roma 1, 00100 Roma");

  aes.put_EncodingMode("base64");
  ASSERT_TRUE(aes.EncryptStringENC("x", &hex));
  ASSERT_TRUE(aes.DecryptStringENC(hex, &clear));
  EXPECT_EQ(clear, "x");
}

TEST(CkCrypt2Test, RefusesWrongKeysDamagedTextAndBadSettings) {
  CkCrypt2 c = Pbes2("rc2");
  std::string hex, clear = "stale";
  ASSERT_TRUE(c.EncryptStringENC("Via Roma 1, 00100 Roma", &hex));
  c.put_PbesPassword("another password of the same kind");
  EXPECT_FALSE(c.DecryptStringENC(hex, &clear));
  EXPECT_EQ(clear, "");
  EXPECT_FALSE(c.LastErrorText().empty());

  CkCrypt2 p = Pbes1();
  EXPECT_FALSE(p.DecryptStringENC("339108C83091B8B76595D9D40CE6EE3", &clear));  // odd length
  EXPECT_FALSE(p.DecryptStringENC("339108C83091B8B7ZZ", &clear));               // not hex
  EXPECT_FALSE(p.DecryptStringENC("339108C83091B8", &clear));                   // not a block
  EXPECT_FALSE(p.DecryptStringENC("", &clear));
  EXPECT_FALSE(p.SetEncodedSalt("XYZ", "hex"));
  ASSERT_TRUE(p.SetEncodedSalt("3A9F1C07", "hex"));
  EXPECT_FALSE(p.EncryptStringENC("a", &hex));  // PBES1 salts are 8 bytes
  p = Pbes1();
  p.put_KeyLength(128);
  EXPECT_FALSE(p.EncryptStringENC("a", &hex));
  p = Pbes1();
  p.put_IterationCount(0);
  EXPECT_FALSE(p.EncryptStringENC("a", &hex));

  CkCrypt2 noiv;
  noiv.put_CryptAlgorithm("pbes2");
  noiv.put_PbesPassword("x");
  ASSERT_TRUE(noiv.SetEncodedSalt("0102", "hex"));
  EXPECT_FALSE(noiv.EncryptStringENC("a", &hex));
  EXPECT_NE(noiv.LastErrorText().find("IV"), std::string::npos);
  noiv.put_CryptAlgorithm("des");
  EXPECT_FALSE(noiv.EncryptStringENC("a", &hex));
}

TEST(CkCrypt2Test, HashStringEncGivesUpperCaseHexDigests) {
  CkCrypt2 c;
  c.put_HashAlgorithm("sha256");
  c.put_EncodingMode("hex");
  std::string out;
  ASSERT_TRUE(c.HashStringENC("abc", &out));
  EXPECT_EQ(out, "BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD");
  ASSERT_TRUE(c.HashStringENC("", &out));
  EXPECT_EQ(out, "E3B0C44298FC1C149AFBF4C8996FB92427AE41E4649B934CA495991B7852B855");
  c.put_HashAlgorithm("sha1");
  ASSERT_TRUE(c.HashStringENC("abc", &out));
  EXPECT_EQ(out, "A9993E364706816ABA3E25717850C26C9CD0D89D");
  c.put_HashAlgorithm("whirlpool");
  EXPECT_FALSE(c.HashStringENC("abc", &out));
}

TEST(EncodingTest, Base64RoundTripsEveryLengthAndRejectsJunk) {
  std::string bytes;
  for (int n = 0; n < 10; ++n) {
    std::string back;
    ASSERT_TRUE(d::Base64Decode(d::Base64Encode(bytes), &back));
    EXPECT_EQ(back, bytes);
    bytes += static_cast<char>(0xF0 + n);
  }
  std::string out;
  EXPECT_EQ(d::Base64Encode("Ma"), "TWE=");
  EXPECT_FALSE(d::Base64Decode("TWE", &out));
  EXPECT_FALSE(d::Base64Decode("T!E=", &out));
}

}  // namespace
