// The primitives under CkCrypt2, visible to its tests: RC2 (which OpenSSL 3
// keeps only in its legacy provider, so it is ours), the PKCS #5 key
// derivations, digests and the text encodings.
#ifndef VKT_ENGINE_DETAIL_CIPHER_H_
#define VKT_ENGINE_DETAIL_CIPHER_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vkt::engine::detail {

// RC2 (RFC 2268) on one 8-byte block. The key is 1 to 128 bytes; the
// effective key length in bits is 1 to 1024 and limits the key's strength
// independently of its size.
class Rc2 {
 public:
  // False (and an unusable cipher) for an out-of-range key or length.
  bool SetKey(std::string_view key, int effective_bits);
  void EncryptBlock(const uint8_t in[8], uint8_t out[8]) const;
  void DecryptBlock(const uint8_t in[8], uint8_t out[8]) const;

 private:
  std::array<uint16_t, 64> k_{};
};

// CBC over a block cipher of 8 bytes with PKCS #7 padding (1 to 8 bytes,
// each holding the count). Decrypt fails on a length that is not a whole
// number of blocks and on padding that does not check.
std::string Rc2CbcEncrypt(const Rc2& cipher, const uint8_t iv[8],
                          std::string_view clear);
bool Rc2CbcDecrypt(const Rc2& cipher, const uint8_t iv[8],
                   std::string_view encrypted, std::string* clear);

// AES-CBC with PKCS #7 padding through OpenSSL; key of 16, 24 or 32 bytes,
// IV of 16. False on any failure (bad padding included).
bool AesCbc(bool encrypt, std::string_view key, std::string_view iv,
            std::string_view in, std::string* out);

// Digest of `data` by a lower-case name: "md5", "sha1", "sha256", "sha384",
// "sha512". False for an unknown name.
bool Digest(std::string_view name, std::string_view data, std::string* out);

// PBKDF1 (PKCS #5 v1.5): T1 = H(P || S), Ti = H(Ti-1), the first `length`
// bytes of Tc. Hash "md5" or "sha1"; `length` at most the digest size.
bool Pbkdf1(std::string_view hash, std::string_view password,
            std::string_view salt, int iterations, size_t length,
            std::string* out);
// PBKDF2 (PKCS #5 v2.0) with HMAC over the named hash.
bool Pbkdf2(std::string_view hash, std::string_view password,
            std::string_view salt, int iterations, size_t length,
            std::string* out);

// Hexadecimal text in upper case; decoding takes either case and fails on
// an odd length or a character that is not a hex digit.
std::string HexEncode(std::string_view bytes);
bool HexDecode(std::string_view text, std::string* out);
// Base64 (RFC 4648, with padding); decoding ignores CR, LF and blanks.
std::string Base64Encode(std::string_view bytes);
bool Base64Decode(std::string_view text, std::string* out);

}  // namespace vkt::engine::detail

#endif  // VKT_ENGINE_DETAIL_CIPHER_H_
