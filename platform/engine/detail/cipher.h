// The primitives under CkCrypt2, visible to its tests and to the login
// area's Blowfish: RC2 and Blowfish, the PKCS #5 key derivations, digests
// and the text encodings, all carried out by OpenSSL.
//
// OpenSSL 3 keeps RC2, Blowfish and PBKDF1 only in its legacy provider. They
// are fetched from a library context of our own that loads the "legacy" and
// "default" providers once, on first use, from any thread: the process's
// default context, and whatever a host configured in it, stay untouched.
// Where the legacy provider cannot be loaded (its module missing from
// OpenSSL's modules folder, or OPENSSL_MODULES pointing elsewhere) these
// calls fail and say so; AES and the digests, from the default context, go
// on working.
#ifndef VKT_ENGINE_DETAIL_CIPHER_H_
#define VKT_ENGINE_DETAIL_CIPHER_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace vkt::engine::detail {

// Empty when the legacy provider is loaded, else why it is not.
const std::string& LegacyProviderError();

// A cipher of 8-byte blocks in code-book mode, for callers that chain the
// blocks themselves. One object is for one thread at a time; copies are
// independent.
class BlockCipher {
 public:
  enum class Algorithm { kRc2, kBlowfish };

  BlockCipher();
  ~BlockCipher();
  BlockCipher(const BlockCipher& other);  // throws std::bad_alloc when OpenSSL cannot copy
  BlockCipher& operator=(const BlockCipher& other);
  BlockCipher(BlockCipher&& other) noexcept;
  BlockCipher& operator=(BlockCipher&& other) noexcept;

  // RC2: a key of 1 to 128 bytes and an effective length of 1 to 1024 bits.
  // Blowfish: a key of 1 to 56 bytes (`effective_bits` is not used). False,
  // an unusable cipher and the reason in error(), for a key or length out
  // of range and when OpenSSL cannot give the cipher.
  bool SetKey(Algorithm algorithm, std::string_view key, int effective_bits = 0);
  bool ok() const { return state_ != nullptr; }
  const std::string& error() const { return error_; }

  // `length` a multiple of 8; `in` and `out` may be the same buffer. False
  // (and `out` zeroed) on an unusable cipher or a partial block.
  bool EncryptBlocks(const uint8_t* in, uint8_t* out, size_t length) const;
  bool DecryptBlocks(const uint8_t* in, uint8_t* out, size_t length) const;

 private:
  struct State;
  bool Run(bool encrypt, const uint8_t* in, uint8_t* out, size_t length) const;

  std::unique_ptr<State> state_;
  std::string error_;
};

// RC2 (RFC 2268) on one 8-byte block. The key is 1 to 128 bytes; the
// effective key length in bits is 1 to 1024 and limits the key's strength
// independently of its size.
class Rc2 {
 public:
  // False (and an unusable cipher, whose blocks come out as zeros) for an
  // out-of-range key or length, or when RC2 cannot be had; error() says why.
  bool SetKey(std::string_view key, int effective_bits);
  void EncryptBlock(const uint8_t in[8], uint8_t out[8]) const;
  void DecryptBlock(const uint8_t in[8], uint8_t out[8]) const;
  const std::string& error() const { return cipher_.error(); }

 private:
  BlockCipher cipher_;
};

// RC2-CBC with PKCS #7 padding: a key of 1 to 128 bytes, the effective
// length in bits, an IV of exactly 8 bytes. False with the reason in
// `error` (when given) on any failure, bad padding included.
bool Rc2Cbc(bool encrypt, std::string_view key, int effective_bits, std::string_view iv,
            std::string_view in, std::string* out, std::string* error = nullptr);

// AES-CBC with PKCS #7 padding through OpenSSL; key of 16, 24 or 32 bytes,
// IV of 16. False on any failure (bad padding included).
bool AesCbc(bool encrypt, std::string_view key, std::string_view iv,
            std::string_view in, std::string* out);

// Digest of `data` by a lower-case name: "md5", "sha1", "sha256", "sha384",
// "sha512". False for an unknown name.
bool Digest(std::string_view name, std::string_view data, std::string* out);

// PBKDF1 (PKCS #5 v1.5, OpenSSL's legacy provider): T1 = H(P || S),
// Ti = H(Ti-1), the first `length` bytes of Tc. Hash "md5" or "sha1";
// `length` at most the digest size.
bool Pbkdf1(std::string_view hash, std::string_view password,
            std::string_view salt, int iterations, size_t length,
            std::string* out, std::string* error = nullptr);
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
