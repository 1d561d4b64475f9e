// The engine's symmetric-encryption and digest object: password-based
// encryption by PKCS #5 and one-way digests, with the results as text.
//
//   CkCrypt2 crypt;
//   crypt.put_CryptAlgorithm("pbes2");
//   crypt.put_PbesPassword("secret");
//   crypt.put_PbesAlgorithm("rc2");
//   crypt.put_KeyLength(128);
//   crypt.put_Rc2EffectiveKeyLength(128);
//   crypt.SetEncodedIV("0001020304050607", "hex");
//   crypt.SetEncodedSalt("A0A1A2A3A4A5A6A7", "hex");
//   crypt.put_IterationCount(1024);
//   crypt.put_HashAlgorithm("sha1");
//   crypt.put_EncodingMode("hex");
//   std::string hex, clear;
//   crypt.EncryptStringENC("Mario", &hex);     // "3F0A..." (upper case)
//   crypt.DecryptStringENC(hex, &clear);       // "Mario"
//
// Algorithms:
// - "pbes1" (PKCS #5 v1.5): key and IV come from PBKDF1 over the password
//   and an 8-byte salt with hash "sha1" (or "md5"); the first 8 derived bytes
//   are the key, the next 8 the IV. Inner algorithm "rc2" only, key length
//   64 bits, and RC2's effective key length is the key length (64), as the
//   standard's pbeWithSHA1AndRC2-CBC has it; the effective-length property
//   is not used.
// - "pbes2" (PKCS #5 v2.0): the key comes from PBKDF2 with HMAC over the hash
//   algorithm ("sha1", "sha256", "sha384", "sha512", "md5"), KeyLength/8
//   bytes long; the IV is the one set. Inner "rc2" (key 8 to 1024 bits, a
//   whole number of bytes; effective length as set, or the key length when
//   left at 0) uses the first 8 bytes of the IV, so an IV of 16 bytes works
//   for RC2 and for AES alike; inner "aes" (key 128, 192 or 256 bits) uses
//   the first 16.
// Both use CBC with PKCS #7 padding. Decryption with a wrong password fails
// in the padding check most of the time, but not always: about one wrong key
// in 256 passes it and yields garbage; the formats carry no integrity check.
//
// Text goes in and out as the bytes it is (the library's texts are
// Windows-1252; nothing is converted). The encodings are "hex" (written in
// upper case, read in either) and "base64".
//
// The algorithms are OpenSSL's. RC2 and PBKDF1 live only in its legacy
// provider (legacy.so in OpenSSL's modules folder, shipped with libssl3),
// which the engine loads once into a library context of its own; without
// it "pbes1" and "pbes2" with "rc2" fail with LastErrorText naming the
// provider and the folder looked in, while "aes" and the digests still work.
//
// Every operation reports failure by its result; LastErrorText says why. One
// object is for one thread at a time.
#ifndef VKT_ENGINE_CRYPT_H_
#define VKT_ENGINE_CRYPT_H_

#include <string>
#include <string_view>

#include "vkt_export.h"

class VKT_API CkCrypt2 {
 public:
  CkCrypt2();

  // Names are compared without regard to case.
  void put_CryptAlgorithm(std::string_view name);
  const std::string& get_CryptAlgorithm() const { return algorithm_; }
  void put_PbesPassword(std::string_view password) { password_ = password; }
  void put_PbesAlgorithm(std::string_view name);
  const std::string& get_PbesAlgorithm() const { return inner_; }
  // Bits. Default 128.
  void put_KeyLength(int bits) { key_bits_ = bits; }
  int get_KeyLength() const { return key_bits_; }
  // Bits, 1 to 1024; 0 (the default) means the key length.
  void put_Rc2EffectiveKeyLength(int bits) { rc2_bits_ = bits; }
  int get_Rc2EffectiveKeyLength() const { return rc2_bits_; }
  // Default 1024.
  void put_IterationCount(int count) { iterations_ = count; }
  int get_IterationCount() const { return iterations_; }
  // Default "sha1".
  void put_HashAlgorithm(std::string_view name);
  const std::string& get_HashAlgorithm() const { return hash_; }
  // Default "hex".
  void put_EncodingMode(std::string_view name);
  const std::string& get_EncodingMode() const { return encoding_; }

  // The IV and salt as encoded text; false (and unchanged) when the text does
  // not decode in that encoding.
  bool SetEncodedIV(std::string_view text, std::string_view encoding);
  bool SetEncodedSalt(std::string_view text, std::string_view encoding);

  // Encrypts `text`'s bytes and encodes the result in EncodingMode.
  bool EncryptStringENC(std::string_view text, std::string* out);
  // Decodes `encoded` and decrypts it to the clear bytes.
  bool DecryptStringENC(std::string_view encoded, std::string* out);
  // The digest of `text` by HashAlgorithm, encoded in EncodingMode.
  bool HashStringENC(std::string_view text, std::string* out);
  // The same without the text encoding, for binary data.
  bool EncryptBytes(std::string_view clear, std::string* out);
  bool DecryptBytes(std::string_view encrypted, std::string* out);

  const std::string& LastErrorText() const { return last_error_; }

 private:
  bool Fail(std::string text);
  bool Encode(std::string_view bytes, std::string* out);
  bool Decode(std::string_view text, std::string* out);
  bool Transform(bool encrypt, std::string_view in, std::string* out);

  std::string algorithm_ = "pbes2";
  std::string inner_ = "rc2";
  std::string password_;
  std::string hash_ = "sha1";
  std::string encoding_ = "hex";
  std::string iv_;
  std::string salt_;
  int key_bits_ = 128;
  int rc2_bits_ = 0;
  int iterations_ = 1024;
  std::string last_error_;
};

#endif  // VKT_ENGINE_CRYPT_H_
