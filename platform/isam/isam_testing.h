// Test hooks of the ISAM client: reset between tests and fault injection.
//
//   vkt::isam::FailNthStorageOp(3, CT_WRITE_ERROR, ENOSPC);  // third statement fails
//   EXPECT_NE(Commit(0), 0);                                 // and nothing is kept
#ifndef VKT_ISAM_ISAM_TESTING_H_
#define VKT_ISAM_ISAM_TESTING_H_

#include <cstdint>

#include "vkt_export.h"

namespace vkt::isam {

// Closes every file and instance without committing, forgets the settings
// directory and disarms the faults.
VKT_API void ResetIsamForTesting();
#if VKT_TEST_HOOKS  // builds with the tests only
// The nth exported call from now (1 = the next) fails with `status` and
// sysio_cod `sys` before doing anything; n <= 0 disarms.
VKT_API void FailNthIsamCall(int64_t n, int16_t status, int32_t sys);
// The nth storage statement from now fails (an I/O error, a full disk...).
VKT_API void FailNthStorageOp(int64_t n, int16_t status, int32_t sys);
#endif

}  // namespace vkt::isam

#endif  // VKT_ISAM_ISAM_TESTING_H_
