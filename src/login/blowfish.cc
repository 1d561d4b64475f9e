#include "login/blowfish.h"

#include <cstring>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "engine/detail/cipher.h"

namespace {

using vkt::engine::detail::BlockCipher;

SBlock ReadBlock(const unsigned char* p) {
  return SBlock((uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3],
                (uint32_t{p[4]} << 24) | (uint32_t{p[5]} << 16) | (uint32_t{p[6]} << 8) | p[7]);
}

void WriteBlock(const SBlock& b, unsigned char* p) {
  for (int i = 0; i < 4; ++i) {
    p[i] = static_cast<unsigned char>(b.m_uil >> (24 - 8 * i));
    p[4 + i] = static_cast<unsigned char>(b.m_uir >> (24 - 8 * i));
  }
}

void CheckLength(const void* in, const void* out, size_t length) {
  if (in == nullptr || out == nullptr || length == 0 || length % 8 != 0) {
    throw std::invalid_argument("Incorrect buffer length");
  }
}

[[noreturn]] void CipherFailed(const BlockCipher& cipher) {
  throw std::runtime_error("Blowfish failed: " +
                           (cipher.error().empty() ? std::string("OpenSSL refused the block")
                                                   : cipher.error()));
}

// Neither the same buffer nor apart: OpenSSL refuses such a pair, so the
// blocks go one at a time, each read before it is written, as they always did.
bool PartlyOverlap(const unsigned char* in, const unsigned char* out, size_t length) {
  if (in == out) return false;
  std::less<const unsigned char*> before;
  return before(in, out + length) && before(out, in + length);
}

}  // namespace

CBlowFish::CBlowFish(const unsigned char* key, size_t keyLength, const SBlock& chain)
    : m_oChain0(chain), m_oChain(chain), m_pCipher(std::make_unique<BlockCipher>()) {
  if (key == nullptr || keyLength == 0) throw std::invalid_argument("Incorrect key length");
  if (keyLength > 56) keyLength = 56;
  const std::string_view k(reinterpret_cast<const char*>(key), keyLength);
  if (!m_pCipher->SetKey(BlockCipher::Algorithm::kBlowfish, k)) {
    throw std::runtime_error("Blowfish unavailable: " + m_pCipher->error());
  }
}

CBlowFish::CBlowFish(const CBlowFish& other)
    : m_oChain0(other.m_oChain0),
      m_oChain(other.m_oChain),
      m_pCipher(std::make_unique<BlockCipher>(*other.m_pCipher)) {}

CBlowFish& CBlowFish::operator=(const CBlowFish& other) {
  if (this != &other) {
    auto cipher = std::make_unique<BlockCipher>(*other.m_pCipher);  // may throw: change nothing
    m_oChain0 = other.m_oChain0;
    m_oChain = other.m_oChain;
    m_pCipher = std::move(cipher);
  }
  return *this;
}

CBlowFish::~CBlowFish() = default;

void CBlowFish::Encrypt(SBlock& block) const {
  unsigned char bytes[8];
  WriteBlock(block, bytes);
  if (!m_pCipher->EncryptBlocks(bytes, bytes, 8)) CipherFailed(*m_pCipher);
  block = ReadBlock(bytes);
}

void CBlowFish::Decrypt(SBlock& block) const {
  unsigned char bytes[8];
  WriteBlock(block, bytes);
  if (!m_pCipher->DecryptBlocks(bytes, bytes, 8)) CipherFailed(*m_pCipher);
  block = ReadBlock(bytes);
}

void CBlowFish::Encrypt(unsigned char* buffer, size_t length, int mode) {
  Encrypt(buffer, buffer, length, mode);
}

void CBlowFish::Decrypt(unsigned char* buffer, size_t length, int mode) {
  Decrypt(buffer, buffer, length, mode);
}

void CBlowFish::Encrypt(const unsigned char* in, unsigned char* out, size_t length, int mode) {
  CheckLength(in, out, length);
  if (mode != CBC && mode != CFB && !PartlyOverlap(in, out, length)) {
    // Code book: every block on its own, so the whole buffer in one call.
    if (!m_pCipher->EncryptBlocks(in, out, length)) CipherFailed(*m_pCipher);
    return;
  }
  SBlock chain = m_oChain;
  for (size_t off = 0; off < length; off += 8) {
    SBlock work = ReadBlock(in + off);
    if (mode == CBC) {
      work ^= chain;
      Encrypt(work);
      chain = work;
    } else if (mode == CFB) {
      Encrypt(chain);
      work ^= chain;
      chain = work;
    } else {
      Encrypt(work);
    }
    WriteBlock(work, out + off);
  }
}

void CBlowFish::Decrypt(const unsigned char* in, unsigned char* out, size_t length, int mode) {
  CheckLength(in, out, length);
  if (mode != CBC && mode != CFB && !PartlyOverlap(in, out, length)) {
    if (!m_pCipher->DecryptBlocks(in, out, length)) CipherFailed(*m_pCipher);
    return;
  }
  SBlock chain = m_oChain;
  for (size_t off = 0; off < length; off += 8) {
    SBlock crypt = ReadBlock(in + off);
    SBlock work = crypt;
    if (mode == CBC) {
      Decrypt(work);
      work ^= chain;
      chain = crypt;
    } else if (mode == CFB) {
      Encrypt(chain);
      work ^= chain;
      chain = crypt;
    } else {
      Decrypt(work);
    }
    WriteBlock(work, out + off);
  }
}
