#include "login/crypt.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "common/vktstring.h"
#include "engine/crypt.h"
#include "login/blowfish.h"

namespace {

vkt::CryptSecrets Defaults() {
  vkt::CryptSecrets s;
  s.blowfish_key = "VK 731 TD";
  s.pbes1_password = "MR 204 LX";
  s.pbes1_salt = "3A9F1C07E2B5D846";
  s.pbes2_password = "Q7VKT2M9XR4LD8PZ3HN6WB1CJ5FY0SGE";
  s.pbes2_iv = "5C1E93A07B24D6F8E1094A3B7C65D2F0";
  s.pbes2_salt = "8D3F60A1C47E92B5017F3CE8A4D2961B5E0F7C3A29B8D46E13F5A07C9E2B4D61";
  return s;
}

vkt::CryptSecrets& Current() {
  static vkt::CryptSecrets secrets = Defaults();
  return secrets;
}

bool IsUpper(char c) { return c >= 'A' && c <= 'Z'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsHex(char c) { return IsDigit(c) || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'); }

// "AA 000 AA".
bool IsNineForm(const std::string& s) {
  return s.size() == 9 && IsUpper(s[0]) && IsUpper(s[1]) && s[2] == ' ' && IsDigit(s[3]) &&
         IsDigit(s[4]) && IsDigit(s[5]) && s[6] == ' ' && IsUpper(s[7]) && IsUpper(s[8]);
}

bool IsHexOf(const std::string& s, size_t digits) {
  if (s.size() != digits) return false;
  for (char c : s) {
    if (!IsHex(c)) return false;
  }
  return true;
}

bool IsCapitalsAndDigits(const std::string& s, size_t n) {
  if (s.size() != n) return false;
  for (char c : s) {
    if (!IsUpper(c) && !IsDigit(c)) return false;
  }
  return true;
}

CBlowFish LibraryBlowfish() {
  const std::string& key = Current().blowfish_key;
  return CBlowFish(reinterpret_cast<const unsigned char*>(key.data()), key.size(), SBlock(0, 0));
}

// The method-0 blocks through the library's key. Without OpenSSL's legacy
// provider there is no Blowfish: refused like any other failure, and the
// block wiped so no clear text is taken for a cipher.
bool BlowfishBlocks(bool encrypt, unsigned char (&block)[16]) {
  try {
    CBlowFish bf = LibraryBlowfish();
    if (encrypt) {
      bf.Encrypt(block, sizeof block, CBlowFish::ECB);
    } else {
      bf.Decrypt(block, sizeof block, CBlowFish::ECB);
    }
    return true;
  } catch (const std::runtime_error&) {
    std::memset(block, 0, sizeof block);
    return false;
  }
}

// Copies `bytes` when they fit with a terminator.
bool CopyIfFits(const std::string& bytes, char* result, unsigned int size) {
  if (bytes.size() >= size) return false;
  std::memcpy(result, bytes.data(), bytes.size());
  return true;
}

bool CryptUserImpl(const char* text, size_t length, bool encrypt, short method, char* result,
                   unsigned int size) {
  if (result == nullptr || size == 0) return false;
  std::memset(result, 0, size);
  if (text == nullptr) return false;
  if (method == 0) {
    unsigned char block[16];
    if (encrypt) {
      if (size < 17) return false;
      size_t n = strnlen(text, std::min<size_t>(length, 16));
      std::memset(block, ' ', sizeof block);
      std::memcpy(block, text, n);
      if (!BlowfishBlocks(true, block)) return false;
      std::memcpy(result, block, sizeof block);
      return true;
    }
    if (length < 16) return false;
    std::memcpy(block, text, sizeof block);
    if (!BlowfishBlocks(false, block)) return false;
    char clear[17];
    std::memcpy(clear, block, 16);
    clear[16] = '\0';
    strtrim(clear);
    size_t n = std::min<size_t>(std::strlen(clear), size - 1);
    std::memcpy(result, clear, n);
    return true;
  }
  const std::string input(text, strnlen(text, length));
  CkCrypt2 crypt;
  std::string out;
  if (method == 1) {
    const vkt::CryptSecrets& s = Current();
    crypt.put_CryptAlgorithm("pbes1");
    crypt.put_PbesPassword(s.pbes1_password);
    crypt.put_PbesAlgorithm("rc2");
    crypt.put_KeyLength(64);
    if (!crypt.SetEncodedSalt(s.pbes1_salt, "hex")) return false;
    crypt.put_IterationCount(1024);
    crypt.put_HashAlgorithm("sha1");
    crypt.put_EncodingMode("hex");
    bool ok = encrypt ? crypt.EncryptStringENC(input, &out) : crypt.DecryptStringENC(input, &out);
    return ok && CopyIfFits(out, result, size);
  }
  if (!encrypt) return false;  // a digest cannot be undone
  crypt.put_HashAlgorithm("sha256");
  crypt.put_EncodingMode("hex");
  return crypt.HashStringENC(input, &out) && CopyIfFits(out, result, size);
}

CkCrypt2 Pbes2() {
  const vkt::CryptSecrets& s = Current();
  CkCrypt2 crypt;
  crypt.put_CryptAlgorithm("pbes2");
  crypt.put_PbesPassword(s.pbes2_password);
  crypt.put_PbesAlgorithm("rc2");
  crypt.put_KeyLength(128);
  crypt.put_Rc2EffectiveKeyLength(128);
  crypt.SetEncodedIV(s.pbes2_iv, "hex");
  crypt.SetEncodedSalt(s.pbes2_salt, "hex");
  crypt.put_IterationCount(1024);
  crypt.put_HashAlgorithm("sha1");
  crypt.put_EncodingMode("hex");
  return crypt;
}

}  // namespace

bool CryptUser(const char* text, bool encrypt, short method, char* result,
               unsigned int resultSize) {
  // Method 0 reads its 16 bytes whatever they hold; the others stop at the
  // first zero byte.
  return CryptUserImpl(text, method == 0 && !encrypt ? 16 : static_cast<size_t>(-1), encrypt,
                       method, result, resultSize);
}

bool CryptUser(const char* text, size_t textLength, bool encrypt, short method, char* result,
               unsigned int resultSize) {
  return CryptUserImpl(text, textLength, encrypt, method, result, resultSize);
}

void CryptBuffer(unsigned char* buffer, int length, int mode) {
  // A negative length must not turn into a huge unsigned one.
  if (buffer == nullptr || length <= 0) throw std::invalid_argument("Incorrect buffer length");
  CBlowFish bf = LibraryBlowfish();
  if (mode == 1) {
    bf.Encrypt(buffer, static_cast<size_t>(length), CBlowFish::ECB);
  } else {
    bf.Decrypt(buffer, static_cast<size_t>(length), CBlowFish::ECB);
  }
}

CString Pbes2Encrypt(const char* text) {
  if (text == nullptr || *text == '\0') return CString();
  std::string out;
  if (!Pbes2().EncryptStringENC(text, &out)) return CString();
  return CString(out);
}

CString Pbes2Decrypt(const char* text) {
  if (text == nullptr || *text == '\0') return CString();
  std::string out;
  if (!Pbes2().DecryptStringENC(text, &out)) return CString();
  return CString(out);
}

namespace vkt {

CryptSecrets DefaultCryptSecrets() { return Defaults(); }

CryptSecrets CurrentCryptSecrets() { return Current(); }

bool SetCryptSecrets(const CryptSecrets& s) {
  if (!IsNineForm(s.blowfish_key) || !IsNineForm(s.pbes1_password) ||
      !IsHexOf(s.pbes1_salt, 16) || !IsCapitalsAndDigits(s.pbes2_password, 32) ||
      !IsHexOf(s.pbes2_iv, 32) || !IsHexOf(s.pbes2_salt, 64)) {
    return false;
  }
  Current() = s;
  return true;
}

void ResetCryptSecrets() { Current() = Defaults(); }

}  // namespace vkt
