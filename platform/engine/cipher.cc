#include "engine/detail/cipher.h"

#include <cstring>
#include <memory>

#include <openssl/evp.h>

namespace vkt::engine::detail {
namespace {

// RFC 2268's permutation of 0..255, from the digits of pi.
constexpr uint8_t kPiTable[256] = {
    0xd9, 0x78, 0xf9, 0xc4, 0x19, 0xdd, 0xb5, 0xed, 0x28, 0xe9, 0xfd, 0x79, 0x4a, 0xa0, 0xd8, 0x9d,
    0xc6, 0x7e, 0x37, 0x83, 0x2b, 0x76, 0x53, 0x8e, 0x62, 0x4c, 0x64, 0x88, 0x44, 0x8b, 0xfb, 0xa2,
    0x17, 0x9a, 0x59, 0xf5, 0x87, 0xb3, 0x4f, 0x13, 0x61, 0x45, 0x6d, 0x8d, 0x09, 0x81, 0x7d, 0x32,
    0xbd, 0x8f, 0x40, 0xeb, 0x86, 0xb7, 0x7b, 0x0b, 0xf0, 0x95, 0x21, 0x22, 0x5c, 0x6b, 0x4e, 0x82,
    0x54, 0xd6, 0x65, 0x93, 0xce, 0x60, 0xb2, 0x1c, 0x73, 0x56, 0xc0, 0x14, 0xa7, 0x8c, 0xf1, 0xdc,
    0x12, 0x75, 0xca, 0x1f, 0x3b, 0xbe, 0xe4, 0xd1, 0x42, 0x3d, 0xd4, 0x30, 0xa3, 0x3c, 0xb6, 0x26,
    0x6f, 0xbf, 0x0e, 0xda, 0x46, 0x69, 0x07, 0x57, 0x27, 0xf2, 0x1d, 0x9b, 0xbc, 0x94, 0x43, 0x03,
    0xf8, 0x11, 0xc7, 0xf6, 0x90, 0xef, 0x3e, 0xe7, 0x06, 0xc3, 0xd5, 0x2f, 0xc8, 0x66, 0x1e, 0xd7,
    0x08, 0xe8, 0xea, 0xde, 0x80, 0x52, 0xee, 0xf7, 0x84, 0xaa, 0x72, 0xac, 0x35, 0x4d, 0x6a, 0x2a,
    0x96, 0x1a, 0xd2, 0x71, 0x5a, 0x15, 0x49, 0x74, 0x4b, 0x9f, 0xd0, 0x5e, 0x04, 0x18, 0xa4, 0xec,
    0xc2, 0xe0, 0x41, 0x6e, 0x0f, 0x51, 0xcb, 0xcc, 0x24, 0x91, 0xaf, 0x50, 0xa1, 0xf4, 0x70, 0x39,
    0x99, 0x7c, 0x3a, 0x85, 0x23, 0xb8, 0xb4, 0x7a, 0xfc, 0x02, 0x36, 0x5b, 0x25, 0x55, 0x97, 0x31,
    0x2d, 0x5d, 0xfa, 0x98, 0xe3, 0x8a, 0x92, 0xae, 0x05, 0xdf, 0x29, 0x10, 0x67, 0x6c, 0xba, 0xc9,
    0xd3, 0x00, 0xe6, 0xcf, 0xe1, 0x9e, 0xa8, 0x2c, 0x63, 0x16, 0x01, 0x3f, 0x58, 0xe2, 0x89, 0xa9,
    0x0d, 0x38, 0x34, 0x1b, 0xab, 0x33, 0xff, 0xb0, 0xbb, 0x48, 0x0c, 0x5f, 0xb9, 0xb1, 0xcd, 0x2e,
    0xc5, 0xf3, 0xdb, 0x47, 0xe5, 0xa5, 0x9c, 0x77, 0x0a, 0xa6, 0x20, 0x68, 0xfe, 0x7f, 0xc1, 0xad,
};

constexpr int kRotations[4] = {1, 2, 3, 5};

inline uint16_t Rol(uint16_t v, int s) {
  return static_cast<uint16_t>((v << s) | (v >> (16 - s)));
}
inline uint16_t Ror(uint16_t v, int s) {
  return static_cast<uint16_t>((v >> s) | (v << (16 - s)));
}

const EVP_MD* DigestByName(std::string_view name) {
  if (name == "md5") return EVP_md5();
  if (name == "sha1") return EVP_sha1();
  if (name == "sha256") return EVP_sha256();
  if (name == "sha384") return EVP_sha384();
  if (name == "sha512") return EVP_sha512();
  return nullptr;
}

struct CipherCtxFree {
  void operator()(EVP_CIPHER_CTX* c) const { EVP_CIPHER_CTX_free(c); }
};

}  // namespace

bool Rc2::SetKey(std::string_view key, int effective_bits) {
  k_.fill(0);
  if (key.empty() || key.size() > 128 || effective_bits < 1 || effective_bits > 1024) {
    return false;
  }
  uint8_t l[128];
  const size_t t = key.size();
  std::memcpy(l, key.data(), t);
  for (size_t i = t; i < 128; ++i) {
    l[i] = kPiTable[static_cast<uint8_t>(l[i - 1] + l[i - t])];
  }
  // Reduce the key to its effective strength.
  const int t8 = (effective_bits + 7) / 8;
  const uint8_t tm = static_cast<uint8_t>(0xFFu >> (8 * t8 - effective_bits));
  l[128 - t8] = kPiTable[l[128 - t8] & tm];
  for (int i = 127 - t8; i >= 0; --i) l[i] = kPiTable[l[i + 1] ^ l[i + t8]];
  for (int i = 0; i < 64; ++i) {
    k_[i] = static_cast<uint16_t>(l[2 * i] | (l[2 * i + 1] << 8));
  }
  return true;
}

void Rc2::EncryptBlock(const uint8_t in[8], uint8_t out[8]) const {
  uint16_t r[4];
  for (int i = 0; i < 4; ++i) r[i] = static_cast<uint16_t>(in[2 * i] | (in[2 * i + 1] << 8));
  int j = 0;
  auto mix = [&] {
    for (int i = 0; i < 4; ++i) {
      uint16_t a = r[(i + 3) & 3], b = r[(i + 2) & 3], c = r[(i + 1) & 3];
      r[i] = static_cast<uint16_t>(r[i] + k_[j++] + (a & b) + (static_cast<uint16_t>(~a) & c));
      r[i] = Rol(r[i], kRotations[i]);
    }
  };
  auto mash = [&] {
    for (int i = 0; i < 4; ++i) r[i] = static_cast<uint16_t>(r[i] + k_[r[(i + 3) & 3] & 63]);
  };
  for (int n = 0; n < 5; ++n) mix();
  mash();
  for (int n = 0; n < 6; ++n) mix();
  mash();
  for (int n = 0; n < 5; ++n) mix();
  for (int i = 0; i < 4; ++i) {
    out[2 * i] = static_cast<uint8_t>(r[i]);
    out[2 * i + 1] = static_cast<uint8_t>(r[i] >> 8);
  }
}

void Rc2::DecryptBlock(const uint8_t in[8], uint8_t out[8]) const {
  uint16_t r[4];
  for (int i = 0; i < 4; ++i) r[i] = static_cast<uint16_t>(in[2 * i] | (in[2 * i + 1] << 8));
  int j = 63;
  auto rmix = [&] {
    for (int i = 3; i >= 0; --i) {
      r[i] = Ror(r[i], kRotations[i]);
      uint16_t a = r[(i + 3) & 3], b = r[(i + 2) & 3], c = r[(i + 1) & 3];
      r[i] = static_cast<uint16_t>(r[i] - k_[j--] - (a & b) - (static_cast<uint16_t>(~a) & c));
    }
  };
  auto rmash = [&] {
    for (int i = 3; i >= 0; --i) r[i] = static_cast<uint16_t>(r[i] - k_[r[(i + 3) & 3] & 63]);
  };
  for (int n = 0; n < 5; ++n) rmix();
  rmash();
  for (int n = 0; n < 6; ++n) rmix();
  rmash();
  for (int n = 0; n < 5; ++n) rmix();
  for (int i = 0; i < 4; ++i) {
    out[2 * i] = static_cast<uint8_t>(r[i]);
    out[2 * i + 1] = static_cast<uint8_t>(r[i] >> 8);
  }
}

std::string Rc2CbcEncrypt(const Rc2& cipher, const uint8_t iv[8], std::string_view clear) {
  const size_t pad = 8 - clear.size() % 8;
  std::string out(clear.size() + pad, '\0');
  uint8_t chain[8];
  std::memcpy(chain, iv, 8);
  for (size_t off = 0; off < out.size(); off += 8) {
    uint8_t block[8];
    for (size_t i = 0; i < 8; ++i) {
      uint8_t b = off + i < clear.size() ? static_cast<uint8_t>(clear[off + i])
                                         : static_cast<uint8_t>(pad);
      block[i] = b ^ chain[i];
    }
    cipher.EncryptBlock(block, chain);
    std::memcpy(out.data() + off, chain, 8);
  }
  return out;
}

bool Rc2CbcDecrypt(const Rc2& cipher, const uint8_t iv[8], std::string_view encrypted,
                   std::string* clear) {
  clear->clear();
  if (encrypted.empty() || encrypted.size() % 8 != 0) return false;
  std::string out(encrypted.size(), '\0');
  uint8_t chain[8];
  std::memcpy(chain, iv, 8);
  for (size_t off = 0; off < encrypted.size(); off += 8) {
    const auto* in = reinterpret_cast<const uint8_t*>(encrypted.data() + off);
    uint8_t block[8];
    cipher.DecryptBlock(in, block);
    for (size_t i = 0; i < 8; ++i) out[off + i] = static_cast<char>(block[i] ^ chain[i]);
    std::memcpy(chain, in, 8);
  }
  const auto pad = static_cast<uint8_t>(out.back());
  if (pad < 1 || pad > 8) return false;
  for (size_t i = out.size() - pad; i < out.size(); ++i) {
    if (static_cast<uint8_t>(out[i]) != pad) return false;
  }
  out.resize(out.size() - pad);
  *clear = std::move(out);
  return true;
}

bool AesCbc(bool encrypt, std::string_view key, std::string_view iv, std::string_view in,
            std::string* out) {
  out->clear();
  const EVP_CIPHER* type = key.size() == 16   ? EVP_aes_128_cbc()
                           : key.size() == 24 ? EVP_aes_192_cbc()
                           : key.size() == 32 ? EVP_aes_256_cbc()
                                              : nullptr;
  if (type == nullptr || iv.size() != 16) return false;
  std::unique_ptr<EVP_CIPHER_CTX, CipherCtxFree> ctx(EVP_CIPHER_CTX_new());
  if (!ctx) return false;
  const auto* k = reinterpret_cast<const unsigned char*>(key.data());
  const auto* v = reinterpret_cast<const unsigned char*>(iv.data());
  if (EVP_CipherInit_ex(ctx.get(), type, nullptr, k, v, encrypt ? 1 : 0) != 1) return false;
  std::string buf(in.size() + 32, '\0');
  int n1 = 0, n2 = 0;
  auto* o = reinterpret_cast<unsigned char*>(buf.data());
  if (EVP_CipherUpdate(ctx.get(), o, &n1, reinterpret_cast<const unsigned char*>(in.data()),
                       static_cast<int>(in.size())) != 1) {
    return false;
  }
  if (EVP_CipherFinal_ex(ctx.get(), o + n1, &n2) != 1) return false;
  buf.resize(static_cast<size_t>(n1 + n2));
  *out = std::move(buf);
  return true;
}

bool Digest(std::string_view name, std::string_view data, std::string* out) {
  const EVP_MD* md = DigestByName(name);
  if (md == nullptr) return false;
  unsigned char buf[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  if (EVP_Digest(data.data(), data.size(), buf, &len, md, nullptr) != 1) return false;
  out->assign(reinterpret_cast<const char*>(buf), len);
  return true;
}

bool Pbkdf1(std::string_view hash, std::string_view password, std::string_view salt,
            int iterations, size_t length, std::string* out) {
  out->clear();
  if (hash != "md5" && hash != "sha1") return false;
  if (iterations < 1) return false;
  std::string t;
  if (!Digest(hash, std::string(password) + std::string(salt), &t)) return false;
  for (int i = 1; i < iterations; ++i) {
    if (!Digest(hash, t, &t)) return false;
  }
  if (length > t.size()) return false;
  t.resize(length);
  *out = std::move(t);
  return true;
}

bool Pbkdf2(std::string_view hash, std::string_view password, std::string_view salt,
            int iterations, size_t length, std::string* out) {
  out->clear();
  const EVP_MD* md = DigestByName(hash);
  if (md == nullptr || iterations < 1 || length == 0) return false;
  std::string buf(length, '\0');
  if (PKCS5_PBKDF2_HMAC(password.data(), static_cast<int>(password.size()),
                        reinterpret_cast<const unsigned char*>(salt.data()),
                        static_cast<int>(salt.size()), iterations, md, static_cast<int>(length),
                        reinterpret_cast<unsigned char*>(buf.data())) != 1) {
    return false;
  }
  *out = std::move(buf);
  return true;
}

std::string HexEncode(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (unsigned char c : bytes) {
    out += kDigits[c >> 4];
    out += kDigits[c & 15];
  }
  return out;
}

bool HexDecode(std::string_view text, std::string* out) {
  out->clear();
  if (text.size() % 2 != 0) return false;
  auto nibble = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
  };
  std::string buf;
  buf.reserve(text.size() / 2);
  for (size_t i = 0; i < text.size(); i += 2) {
    int hi = nibble(text[i]), lo = nibble(text[i + 1]);
    if (hi < 0 || lo < 0) return false;
    buf += static_cast<char>(hi * 16 + lo);
  }
  *out = std::move(buf);
  return true;
}

std::string Base64Encode(std::string_view bytes) {
  std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
  int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                          reinterpret_cast<const unsigned char*>(bytes.data()),
                          static_cast<int>(bytes.size()));
  out.resize(static_cast<size_t>(n));
  return out;
}

bool Base64Decode(std::string_view text, std::string* out) {
  out->clear();
  std::string clean;
  for (char c : text) {
    if (c != '\r' && c != '\n' && c != ' ' && c != '\t') clean += c;
  }
  if (clean.size() % 4 != 0) return false;
  if (clean.empty()) return true;
  std::string buf(clean.size() / 4 * 3, '\0');
  int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(buf.data()),
                          reinterpret_cast<const unsigned char*>(clean.data()),
                          static_cast<int>(clean.size()));
  if (n < 0) return false;
  // EVP_DecodeBlock counts the padding as zero bytes.
  size_t len = static_cast<size_t>(n);
  if (clean.back() == '=') --len;
  if (clean.size() >= 2 && clean[clean.size() - 2] == '=') --len;
  buf.resize(len);
  *out = std::move(buf);
  return true;
}

}  // namespace vkt::engine::detail
