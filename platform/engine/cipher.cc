#include "engine/detail/cipher.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <utility>

#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/kdf.h>
#include <openssl/params.h>
#include <openssl/provider.h>

namespace vkt::engine::detail {
namespace {

// The library context that holds the legacy algorithms. Made once and kept
// for the life of the process: the ciphers fetched from it are shared by
// every thread, and freeing it at exit would race OpenSSL's own clean-up.
struct Legacy {
  OSSL_LIB_CTX* ctx = nullptr;
  EVP_CIPHER* rc2_ecb = nullptr;
  EVP_CIPHER* rc2_cbc = nullptr;
  EVP_CIPHER* bf_ecb = nullptr;
  EVP_KDF* pbkdf1 = nullptr;
  std::string error;  // empty when all of the above are there
};

// `what`, with the first reason OpenSSL queued (the root cause; later
// entries only wrap it) and its detail text, such as the module's path. The
// queue is emptied so that no stale error is blamed on a later call.
std::string OpenSslError(std::string_view what) {
  std::string text(what);
  const char* data = nullptr;
  int flags = 0;
  unsigned long code = ERR_peek_error_data(&data, &flags);
  if (code != 0) {
    const char* reason = ERR_reason_error_string(code);
    char fallback[256];
    if (reason == nullptr) {
      ERR_error_string_n(code, fallback, sizeof fallback);
      reason = fallback;
    }
    text += ": ";
    text += reason;
    if (data != nullptr && *data != '\0' && (flags & ERR_TXT_STRING) != 0) {
      text += " (";
      text += data;
      text += ")";
    }
  }
  ERR_clear_error();
  return text;
}

Legacy* MakeLegacy() {
  auto* l = new Legacy;
  l->ctx = OSSL_LIB_CTX_new();
  if (l->ctx == nullptr) {
    l->error = OpenSslError("cannot create an OpenSSL library context");
    return l;
  }
  if (OSSL_PROVIDER_load(l->ctx, "legacy") == nullptr) {
    const char* dir = std::getenv("OPENSSL_MODULES");
    if (dir == nullptr) dir = OPENSSL_info(OPENSSL_INFO_MODULES_DIR);
    l->error = OpenSslError(std::string("the OpenSSL legacy provider (RC2, Blowfish, PBKDF1) "
                                        "cannot be loaded from ") +
                            (dir != nullptr ? dir : "the modules folder"));
    return l;
  }
  if (OSSL_PROVIDER_load(l->ctx, "default") == nullptr) {
    l->error = OpenSslError("the OpenSSL default provider cannot be loaded");
    return l;
  }
  l->rc2_ecb = EVP_CIPHER_fetch(l->ctx, "RC2-ECB", nullptr);
  l->rc2_cbc = EVP_CIPHER_fetch(l->ctx, "RC2-CBC", nullptr);
  l->bf_ecb = EVP_CIPHER_fetch(l->ctx, "BF-ECB", nullptr);
  l->pbkdf1 = EVP_KDF_fetch(l->ctx, "PBKDF1", nullptr);
  if (l->rc2_ecb == nullptr || l->rc2_cbc == nullptr || l->bf_ecb == nullptr ||
      l->pbkdf1 == nullptr) {
    l->error = OpenSslError("the OpenSSL legacy provider lacks RC2, Blowfish or PBKDF1");
  }
  return l;
}

const Legacy& GetLegacy() {
  static const Legacy* legacy = MakeLegacy();  // once, whichever thread comes first
  return *legacy;
}

struct CipherCtxFree {
  void operator()(EVP_CIPHER_CTX* c) const { EVP_CIPHER_CTX_free(c); }
};
using CipherCtx = std::unique_ptr<EVP_CIPHER_CTX, CipherCtxFree>;

// A context of `type` keyed with `key`; RC2 also takes its effective length
// (0 for other ciphers). The key length and the effective length must be in
// place before the key, which is expanded when it is set.
CipherCtx KeyedContext(EVP_CIPHER* type, bool encrypt, std::string_view key, int rc2_bits,
                       std::string_view iv, bool padding, std::string* error) {
  CipherCtx ctx(EVP_CIPHER_CTX_new());
  const int enc = encrypt ? 1 : 0;
  const auto* k = reinterpret_cast<const unsigned char*>(key.data());
  const auto* v = iv.empty() ? nullptr : reinterpret_cast<const unsigned char*>(iv.data());
  if (!ctx || EVP_CipherInit_ex2(ctx.get(), type, nullptr, nullptr, enc, nullptr) != 1 ||
      EVP_CIPHER_CTX_set_key_length(ctx.get(), static_cast<int>(key.size())) != 1 ||
      (rc2_bits != 0 &&
       EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_SET_RC2_KEY_BITS, rc2_bits, nullptr) <= 0) ||
      EVP_CipherInit_ex2(ctx.get(), nullptr, k, v, enc, nullptr) != 1 ||
      EVP_CIPHER_CTX_set_padding(ctx.get(), padding ? 1 : 0) != 1) {
    *error = OpenSslError(std::string("cannot key ") + EVP_CIPHER_get0_name(type));
    return nullptr;
  }
  return ctx;
}

bool InRange(size_t n, size_t lo, size_t hi) { return n >= lo && n <= hi; }

bool Refuse(std::string* error, std::string text) {
  if (error != nullptr) *error = std::move(text);
  return false;
}

const EVP_MD* DigestByName(std::string_view name) {
  if (name == "md5") return EVP_md5();
  if (name == "sha1") return EVP_sha1();
  if (name == "sha256") return EVP_sha256();
  if (name == "sha384") return EVP_sha384();
  if (name == "sha512") return EVP_sha512();
  return nullptr;
}

}  // namespace

const std::string& LegacyProviderError() { return GetLegacy().error; }

struct BlockCipher::State {
  CipherCtx enc;
  CipherCtx dec;
};

BlockCipher::BlockCipher() = default;
BlockCipher::~BlockCipher() = default;
BlockCipher::BlockCipher(BlockCipher&& other) noexcept = default;
BlockCipher& BlockCipher::operator=(BlockCipher&& other) noexcept = default;

BlockCipher::BlockCipher(const BlockCipher& other) : error_(other.error_) {
  if (!other.state_) return;
  auto state = std::make_unique<State>();
  state->enc.reset(EVP_CIPHER_CTX_new());
  state->dec.reset(EVP_CIPHER_CTX_new());
  if (!state->enc || !state->dec ||
      EVP_CIPHER_CTX_copy(state->enc.get(), other.state_->enc.get()) != 1 ||
      EVP_CIPHER_CTX_copy(state->dec.get(), other.state_->dec.get()) != 1) {
    ERR_clear_error();
    throw std::bad_alloc();
  }
  state_ = std::move(state);
}

BlockCipher& BlockCipher::operator=(const BlockCipher& other) {
  if (this != &other) *this = BlockCipher(other);
  return *this;
}

bool BlockCipher::SetKey(Algorithm algorithm, std::string_view key, int effective_bits) {
  state_.reset();
  error_.clear();
  const bool rc2 = algorithm == Algorithm::kRc2;
  if (rc2 && (!InRange(key.size(), 1, 128) || effective_bits < 1 || effective_bits > 1024)) {
    return Refuse(&error_, "RC2 takes a key of 1 to 128 bytes and an effective length of "
                           "1 to 1024 bits");
  }
  if (!rc2 && !InRange(key.size(), 1, 56)) {
    return Refuse(&error_, "Blowfish takes a key of 1 to 56 bytes");
  }
  const Legacy& l = GetLegacy();
  if (!l.error.empty()) return Refuse(&error_, l.error);
  EVP_CIPHER* type = rc2 ? l.rc2_ecb : l.bf_ecb;
  auto state = std::make_unique<State>();
  const int bits = rc2 ? effective_bits : 0;
  state->enc = KeyedContext(type, true, key, bits, {}, false, &error_);
  if (!state->enc) return false;
  state->dec = KeyedContext(type, false, key, bits, {}, false, &error_);
  if (!state->dec) return false;
  state_ = std::move(state);
  return true;
}

bool BlockCipher::Run(bool encrypt, const uint8_t* in, uint8_t* out, size_t length) const {
  if (!state_ || length % 8 != 0) {
    if (out != nullptr && length > 0) std::memset(out, 0, length);
    return false;
  }
  // Code book on whole blocks keeps nothing between calls, so one context
  // serves every call; EVP takes an int length, hence the slices.
  EVP_CIPHER_CTX* ctx = encrypt ? state_->enc.get() : state_->dec.get();
  constexpr size_t kSlice = size_t{1} << 30;
  for (size_t off = 0; off < length; off += kSlice) {
    const int n = static_cast<int>(std::min(kSlice, length - off));
    int done = 0;
    if (EVP_CipherUpdate(ctx, out + off, &done, in + off, n) != 1 || done != n) {
      ERR_clear_error();
      std::memset(out, 0, length);
      return false;
    }
  }
  return true;
}

bool BlockCipher::EncryptBlocks(const uint8_t* in, uint8_t* out, size_t length) const {
  return Run(true, in, out, length);
}

bool BlockCipher::DecryptBlocks(const uint8_t* in, uint8_t* out, size_t length) const {
  return Run(false, in, out, length);
}

bool Rc2::SetKey(std::string_view key, int effective_bits) {
  return cipher_.SetKey(BlockCipher::Algorithm::kRc2, key, effective_bits);
}

void Rc2::EncryptBlock(const uint8_t in[8], uint8_t out[8]) const {
  (void)cipher_.EncryptBlocks(in, out, 8);
}

void Rc2::DecryptBlock(const uint8_t in[8], uint8_t out[8]) const {
  (void)cipher_.DecryptBlocks(in, out, 8);
}

bool Rc2Cbc(bool encrypt, std::string_view key, int effective_bits, std::string_view iv,
            std::string_view in, std::string* out, std::string* error) {
  out->clear();
  if (!InRange(key.size(), 1, 128) || effective_bits < 1 || effective_bits > 1024) {
    return Refuse(error, "RC2 takes a key of 1 to 128 bytes and an effective length of "
                         "1 to 1024 bits");
  }
  if (iv.size() != 8) return Refuse(error, "RC2 takes an IV of 8 bytes");
  if (in.size() > static_cast<size_t>(INT_MAX) - 16) return Refuse(error, "text too long");
  const Legacy& l = GetLegacy();
  if (!l.error.empty()) return Refuse(error, l.error);
  std::string why;
  CipherCtx ctx = KeyedContext(l.rc2_cbc, encrypt, key, effective_bits, iv, true, &why);
  if (!ctx) return Refuse(error, why);
  std::string buf(in.size() + 16, '\0');
  auto* o = reinterpret_cast<unsigned char*>(buf.data());
  int n1 = 0, n2 = 0;
  if (EVP_CipherUpdate(ctx.get(), o, &n1, reinterpret_cast<const unsigned char*>(in.data()),
                       static_cast<int>(in.size())) != 1 ||
      EVP_CipherFinal_ex(ctx.get(), o + n1, &n2) != 1) {
    ERR_clear_error();
    OPENSSL_cleanse(buf.data(), buf.size());
    return Refuse(error, encrypt ? "RC2 encryption failed"
                                 : "decryption failed: wrong password or damaged data");
  }
  buf.resize(static_cast<size_t>(n1 + n2));
  *out = std::move(buf);
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
  CipherCtx ctx(EVP_CIPHER_CTX_new());
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
            int iterations, size_t length, std::string* out, std::string* error) {
  out->clear();
  const size_t size = hash == "md5" ? 16 : hash == "sha1" ? 20 : 0;
  if (size == 0) return Refuse(error, "PBKDF1 takes the md5 or sha1 hash");
  if (iterations < 1) return Refuse(error, "iteration count must be at least 1");
  if (length == 0 || length > size) return Refuse(error, "PBKDF1 gives at most one digest");
  const Legacy& l = GetLegacy();
  if (!l.error.empty()) return Refuse(error, l.error);
  std::unique_ptr<EVP_KDF_CTX, decltype(&EVP_KDF_CTX_free)> kdf(EVP_KDF_CTX_new(l.pbkdf1),
                                                                 &EVP_KDF_CTX_free);
  // An empty password or salt is still a buffer OpenSSL must not see as null.
  static char kNothing[1] = {0};
  auto bytes = [](std::string_view s) {
    return s.empty() ? static_cast<void*>(kNothing) : const_cast<char*>(s.data());
  };
  std::string digest_name = hash == "md5" ? "MD5" : "SHA1";
  uint64_t iter = static_cast<uint64_t>(iterations);
  const OSSL_PARAM params[] = {
      OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_PASSWORD, bytes(password),
                                        password.size()),
      OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_SALT, bytes(salt), salt.size()),
      OSSL_PARAM_construct_uint64(OSSL_KDF_PARAM_ITER, &iter),
      OSSL_PARAM_construct_utf8_string(OSSL_KDF_PARAM_DIGEST, digest_name.data(), 0),
      OSSL_PARAM_construct_end(),
  };
  std::string buf(length, '\0');
  if (!kdf || EVP_KDF_derive(kdf.get(), reinterpret_cast<unsigned char*>(buf.data()), length,
                             params) != 1) {
    return Refuse(error, OpenSslError("PBKDF1 failed"));
  }
  *out = std::move(buf);
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
