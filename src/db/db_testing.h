// Test hooks of the record database layer.
#ifndef VKT_DB_DB_TESTING_H_
#define VKT_DB_DB_TESTING_H_

#include <cstdint>

#include "vkt_export.h"

namespace vkt::db {

// Forgets the session count (the ISAM client is reset on its own).
VKT_API void ResetDbForTesting();
VKT_API int16_t DbSessionCountForTesting();

}  // namespace vkt::db

#endif  // VKT_DB_DB_TESTING_H_
