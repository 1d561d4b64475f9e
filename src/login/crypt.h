// Stored forms of user names and passwords: a Blowfish block, a
// password-based encryption, a one-way SHA-256 digest, and a stronger
// password-based encryption for longer texts.
//
//   char stored[17], back[17];
//   CryptUser("Mario", true, 0, stored, sizeof stored);   // 16 cipher bytes
//   CryptUser(stored, false, 0, back, sizeof back);       // "Mario"
//   CString hex = Pbes2Encrypt("Via Roma 1");             // hexadecimal text
//
// The methods of CryptUser:
//   0  Blowfish, code book, with the library's 9-character key: the first 16
//      characters, blank-padded, give 16 cipher bytes (any value, zero
//      included). Decrypting reads exactly 16 bytes and trims blanks. There
//      is no integrity check: a wrong key or damaged bytes decrypt to
//      garbage, never to an error.
//   1  PBES1 (PBKDF1-SHA-1, RC2-CBC, 64-bit key, 1024 rounds) with the
//      library's 9-character password and 8-byte salt; hexadecimal text in
//      upper case, read in either case.
//   other  SHA-256 of the text as 64 upper-case hexadecimal characters; one
//      way, so decrypting gives nothing.
// Pbes2Encrypt/Pbes2Decrypt use PBES2 (PBKDF2-HMAC-SHA-1, 1024 rounds,
// RC2-CBC with 128-bit key and effective length) with the library's
// 32-character password, 32-byte salt and 16-byte IV, of which RC2's 8-byte
// block uses the first 8.
//
// Texts are Windows-1252 bytes, encrypted as they are. The secret values are
// the library's own defaults; a site that holds data made with other values
// installs them with vkt::SetCryptSecrets.
//
// Blowfish, RC2 and PBKDF1 are OpenSSL's, from its legacy provider. Where
// that provider cannot be loaded, methods 0 and 1 and Pbes2Encrypt/Decrypt
// fail (false or an empty string) and CryptBuffer throws std::runtime_error;
// the SHA-256 method still works.
#ifndef VKT_LOGIN_CRYPT_H_
#define VKT_LOGIN_CRYPT_H_

#include <cstddef>
#include <string>

#include "vkt_export.h"
#include "win/cstring.h"

// Writes the encrypted, decrypted or hashed form of `text` into `result`,
// first cleared to `resultSize` zero bytes. True when the form was written.
// Refused (false, `result` left cleared or untouched when it cannot be):
// a null `text` or `result`, a `resultSize` of 0, an output that does not fit
// with its terminator (method 0 encryption needs 17 bytes, since a cut
// cipher could never be read back), a failed decryption, and decrypting a
// digest. Method-0 decryption reads 16 bytes from `text`; a caller that
// does not hold 16 bytes uses the overload below.
VKT_API bool CryptUser(const char* text, bool encrypt, short method, char* result,
                       unsigned int resultSize);
// As above with the length of `text` known: method-0 decryption of fewer
// than 16 bytes is refused; the other methods read up to `textLength` bytes
// or the first zero byte.
VKT_API bool CryptUser(const char* text, size_t textLength, bool encrypt, short method,
                       char* result, unsigned int resultSize);

// Encrypts (`mode` 1) or decrypts (any other) `length` bytes in place with
// the library's Blowfish key in code-book mode. A null buffer or a length
// that is not a positive multiple of 8 throws std::invalid_argument
// ("Incorrect buffer length"); no Blowfish from OpenSSL throws
// std::runtime_error, the buffer untouched.
VKT_API void CryptBuffer(unsigned char* buffer, int length, int mode);

// Hexadecimal text of `text`, and back; empty for a null or empty text and
// for any failure.
VKT_API CString Pbes2Encrypt(const char* text);
VKT_API CString Pbes2Decrypt(const char* text);

namespace vkt {

// The fixed secrets, in their forms:
struct CryptSecrets {
  std::string blowfish_key;    // "AA 000 AA": capitals, blank, digits, blank, capitals
  std::string pbes1_password;  // the same form
  std::string pbes1_salt;      // 16 hexadecimal digits (8 bytes)
  std::string pbes2_password;  // 32 capital letters and digits
  std::string pbes2_iv;        // 32 hexadecimal digits (16 bytes)
  std::string pbes2_salt;      // 64 hexadecimal digits (32 bytes)
};

// The library's defaults.
VKT_API CryptSecrets DefaultCryptSecrets();
// The values in use (the defaults until SetCryptSecrets).
VKT_API CryptSecrets CurrentCryptSecrets();
// Installs site values; false, and nothing changed, when one is not of its
// form. Process-wide, for the user-interface thread.
VKT_API bool SetCryptSecrets(const CryptSecrets& secrets);
// Back to the defaults (tests).
VKT_API void ResetCryptSecrets();

}  // namespace vkt

#endif  // VKT_LOGIN_CRYPT_H_
