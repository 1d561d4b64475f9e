#include "engine/crypt.h"

#include <cctype>
#include <utility>

#include "engine/detail/cipher.h"

namespace {

namespace d = vkt::engine::detail;

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// A key derived by PBKDF may be used by one operation only, but it is held in
// an ordinary string: wipe it on the way out so it does not linger.
struct Wiped {
  std::string value;
  ~Wiped() {
    volatile char* p = value.data();
    for (size_t i = 0; i < value.size(); ++i) p[i] = 0;
  }
};

}  // namespace

CkCrypt2::CkCrypt2() = default;

void CkCrypt2::put_CryptAlgorithm(std::string_view name) { algorithm_ = Lower(name); }
void CkCrypt2::put_PbesAlgorithm(std::string_view name) { inner_ = Lower(name); }
void CkCrypt2::put_HashAlgorithm(std::string_view name) {
  hash_ = Lower(name);
  // Common spellings of the same names.
  if (hash_ == "sha-1") hash_ = "sha1";
  if (hash_ == "sha-256" || hash_ == "sha2") hash_ = "sha256";
  if (hash_ == "sha-384") hash_ = "sha384";
  if (hash_ == "sha-512") hash_ = "sha512";
}
void CkCrypt2::put_EncodingMode(std::string_view name) {
  encoding_ = Lower(name);
  if (encoding_ == "base16") encoding_ = "hex";
}

bool CkCrypt2::Fail(std::string text) {
  last_error_ = std::move(text);
  return false;
}

bool CkCrypt2::Encode(std::string_view bytes, std::string* out) {
  if (encoding_ == "hex") {
    *out = d::HexEncode(bytes);
  } else if (encoding_ == "base64") {
    *out = d::Base64Encode(bytes);
  } else {
    return Fail("unsupported encoding: " + encoding_);
  }
  return true;
}

bool CkCrypt2::Decode(std::string_view text, std::string* out) {
  if (encoding_ == "hex") {
    if (!d::HexDecode(text, out)) return Fail("not hexadecimal text");
  } else if (encoding_ == "base64") {
    if (!d::Base64Decode(text, out)) return Fail("not base64 text");
  } else {
    return Fail("unsupported encoding: " + encoding_);
  }
  return true;
}

bool CkCrypt2::SetEncodedIV(std::string_view text, std::string_view encoding) {
  std::string bytes;
  std::string enc = Lower(encoding);
  bool ok = enc == "base64" ? d::Base64Decode(text, &bytes)
                            : (enc == "hex" || enc == "base16") && d::HexDecode(text, &bytes);
  if (!ok) return Fail("IV does not decode as " + enc);
  iv_ = std::move(bytes);
  return true;
}

bool CkCrypt2::SetEncodedSalt(std::string_view text, std::string_view encoding) {
  std::string bytes;
  std::string enc = Lower(encoding);
  bool ok = enc == "base64" ? d::Base64Decode(text, &bytes)
                            : (enc == "hex" || enc == "base16") && d::HexDecode(text, &bytes);
  if (!ok) return Fail("salt does not decode as " + enc);
  salt_ = std::move(bytes);
  return true;
}

bool CkCrypt2::Transform(bool encrypt, std::string_view in, std::string* out) {
  out->clear();
  if (iterations_ < 1) return Fail("iteration count must be at least 1");
  if (algorithm_ == "pbes1") {
    if (inner_ != "rc2") return Fail("pbes1 supports the rc2 algorithm only");
    if (key_bits_ != 64) return Fail("pbes1 with rc2 takes a 64-bit key");
    if (hash_ != "sha1" && hash_ != "md5") return Fail("pbes1 takes the sha1 or md5 hash");
    if (salt_.size() != 8) return Fail("pbes1 takes a salt of 8 bytes");
    Wiped dk;
    std::string why;
    if (!d::Pbkdf1(hash_, password_, salt_, iterations_, 16, &dk.value, &why)) {
      return Fail("key derivation failed: " + why);
    }
    const std::string_view derived(dk.value);
    if (!d::Rc2Cbc(encrypt, derived.substr(0, 8), 64, derived.substr(8, 8), in, out, &why)) {
      return Fail(why);
    }
    return true;
  }
  if (algorithm_ != "pbes2") return Fail("unsupported crypt algorithm: " + algorithm_);
  if (salt_.empty()) return Fail("pbes2 needs a salt");
  if (key_bits_ <= 0 || key_bits_ % 8 != 0) return Fail("key length must be whole bytes");
  const size_t key_bytes = static_cast<size_t>(key_bits_ / 8);
  if (inner_ == "rc2") {
    if (key_bytes > 128) return Fail("RC2 keys are at most 1024 bits");
    const int effective = rc2_bits_ == 0 ? key_bits_ : rc2_bits_;
    if (effective < 1 || effective > 1024) return Fail("RC2 effective key length out of range");
    if (iv_.size() < 8) return Fail("RC2 needs an IV of 8 bytes");
  } else if (inner_ == "aes") {
    if (key_bytes != 16 && key_bytes != 24 && key_bytes != 32) {
      return Fail("AES keys are 128, 192 or 256 bits");
    }
    if (iv_.size() < 16) return Fail("AES needs an IV of 16 bytes");
  } else {
    return Fail("unsupported pbes2 algorithm: " + inner_);
  }
  Wiped key;
  if (!d::Pbkdf2(hash_, password_, salt_, iterations_, key_bytes, &key.value)) {
    return Fail("key derivation failed (hash " + hash_ + ")");
  }
  if (inner_ == "aes") {
    if (!d::AesCbc(encrypt, key.value, std::string_view(iv_).substr(0, 16), in, out)) {
      return Fail(encrypt ? "encryption failed"
                          : "decryption failed: wrong password or damaged data");
    }
    return true;
  }
  std::string why;
  if (!d::Rc2Cbc(encrypt, key.value, rc2_bits_ == 0 ? key_bits_ : rc2_bits_,
                 std::string_view(iv_).substr(0, 8), in, out, &why)) {
    return Fail(why);
  }
  return true;
}

bool CkCrypt2::EncryptBytes(std::string_view clear, std::string* out) {
  return Transform(true, clear, out);
}

bool CkCrypt2::DecryptBytes(std::string_view encrypted, std::string* out) {
  return Transform(false, encrypted, out);
}

bool CkCrypt2::EncryptStringENC(std::string_view text, std::string* out) {
  out->clear();
  std::string bytes;
  if (!Transform(true, text, &bytes)) return false;
  return Encode(bytes, out);
}

bool CkCrypt2::DecryptStringENC(std::string_view encoded, std::string* out) {
  out->clear();
  std::string bytes;
  if (!Decode(encoded, &bytes)) return false;
  return Transform(false, bytes, out);
}

bool CkCrypt2::HashStringENC(std::string_view text, std::string* out) {
  out->clear();
  std::string digest;
  if (!d::Digest(hash_, text, &digest)) return Fail("unsupported hash algorithm: " + hash_);
  return Encode(digest, out);
}
