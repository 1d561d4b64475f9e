// Blowfish (16 rounds, 64-bit blocks) with the standard tables, in code-book,
// cipher-block-chaining and cipher-feedback modes.
//
//   unsigned char key[] = "AB 123 CD";
//   CBlowFish bf(key, 9, SBlock(0, 0));
//   unsigned char buf[16] = "Mario           ";
//   bf.Encrypt(buf, 16, CBlowFish::ECB);   // in place
//   bf.Decrypt(buf, 16, CBlowFish::ECB);
//
// The block cipher itself, key schedule included, is OpenSSL's Blowfish from
// its legacy provider, through the engine; the chaining modes are done here.
//
// Bad arguments throw std::invalid_argument ("Incorrect key length",
// "Incorrect buffer length"). Where OpenSSL's legacy provider cannot be
// loaded, construction throws std::runtime_error saying so.
#ifndef VKT_LOGIN_BLOWFISH_H_
#define VKT_LOGIN_BLOWFISH_H_

#include <cstddef>
#include <cstdint>
#include <memory>

#include "vkt_export.h"

namespace vkt::engine::detail {
class BlockCipher;
}

// One block: two 32-bit halves, each read from four bytes most significant
// first (bytes 0-3 the left half, 4-7 the right).
struct VKT_API SBlock {
  SBlock(uint32_t l = 0, uint32_t r = 0) : m_uil(l), m_uir(r) {}
  SBlock& operator^=(const SBlock& b) {
    m_uil ^= b.m_uil;
    m_uir ^= b.m_uir;
    return *this;
  }
  uint32_t m_uil;
  uint32_t m_uir;
};

class VKT_API CBlowFish {
 public:
  // The `mode` argument: CBC and CFB, any other value code book.
  enum { ECB = 0, CBC = 1, CFB = 2 };

  // Keys longer than 56 bytes use their first 56. A null key or a length of
  // 0 throws "Incorrect key length".
  CBlowFish(const unsigned char* key, size_t keyLength, const SBlock& chain = SBlock(0, 0));
  // Copies carry the whole state: both chains and the keyed cipher.
  CBlowFish(const CBlowFish& other);
  CBlowFish& operator=(const CBlowFish& other);
  ~CBlowFish();

  // The current chain returns to the one given at construction.
  void ResetChain() { m_oChain = m_oChain0; }

  // Whole 8-byte blocks only: a null buffer, a length of 0 or one that is not
  // a multiple of 8 throws "Incorrect buffer length". CBC and CFB start from
  // a copy of the current chain, which the call leaves as it was.
  void Encrypt(unsigned char* buffer, size_t length, int mode = ECB);
  void Decrypt(unsigned char* buffer, size_t length, int mode = ECB);
  void Encrypt(const unsigned char* in, unsigned char* out, size_t length, int mode = ECB);
  void Decrypt(const unsigned char* in, unsigned char* out, size_t length, int mode = ECB);

 private:
  // One block through the keyed cipher.
  void Encrypt(SBlock& block) const;
  void Decrypt(SBlock& block) const;

  SBlock m_oChain0;
  SBlock m_oChain;
  // The P-array and S-boxes, expanded from the key by OpenSSL.
  std::unique_ptr<vkt::engine::detail::BlockCipher> m_pCipher;
};

#endif  // VKT_LOGIN_BLOWFISH_H_
