// A consistency check of an open table through the client's own calls:
// every index holds one entry per record, in strictly ascending key order,
// and leads back to records that exist.
#ifndef VKT_TESTS_DB_DB_VERIFY_H_
#define VKT_TESTS_DB_DB_VERIFY_H_

#include <cstring>
#include <string>
#include <vector>

#include "isam/ctree.h"

namespace vkt::db::test {

inline bool VerifyTable(const ifil4& ifil, std::string* why) {
  const int32_t datno = ifil.tfilno;
  const int32_t n = NbrOfRecords(datno);
  if (n == 0 && uerr_cod != 0) {
    *why = "NbrOfRecords failed: " + std::to_string(uerr_cod);
    return false;
  }
  std::vector<char> rec(ifil.dreclen);
  int32_t physical = 0;
  for (int16_t s = FirstRecord(datno, rec.data()); s == 0; s = NextRecord(datno, rec.data()))
    ++physical;
  if (physical != n) {
    *why = "physical walk saw " + std::to_string(physical) + " of " + std::to_string(n);
    return false;
  }
  for (int16_t k = 1; k <= ifil.dnumidx; ++k) {
    const int32_t keyno = datno + k;
    const int32_t entries = NbrOfKeyEntries(keyno);
    if (entries != n) {
      *why = "index " + std::to_string(k) + " has " + std::to_string(entries) + " entries for " +
             std::to_string(n) + " records";
      return false;
    }
    std::string previous;
    int32_t walked = 0;
    for (int16_t s = FirstRecord(keyno, rec.data()); s == 0; s = NextRecord(keyno, rec.data())) {
      char key[1024];
      int32_t len = sizeof key;
      if (CurrentISAMKey(keyno, key, &len) != 0) {
        *why = "no current key on index " + std::to_string(k);
        return false;
      }
      std::string cur(key, static_cast<size_t>(len));
      if (walked > 0 && !(previous < cur)) {
        *why = "index " + std::to_string(k) + " out of order at entry " + std::to_string(walked);
        return false;
      }
      // The entry leads to a record whose stored image is the one read.
      std::vector<char> again(ifil.dreclen);
      if (ReReadRecord(datno, again.data()) != 0 ||
          std::memcmp(again.data(), rec.data(), rec.size()) != 0) {
        *why = "index " + std::to_string(k) + " entry " + std::to_string(walked) +
               " does not lead to its record";
        return false;
      }
      previous = cur;
      ++walked;
    }
    if (walked != n) {
      *why = "index " + std::to_string(k) + " walk saw " + std::to_string(walked);
      return false;
    }
  }
  return true;
}

}  // namespace vkt::db::test

#endif  // VKT_TESTS_DB_DB_VERIFY_H_
