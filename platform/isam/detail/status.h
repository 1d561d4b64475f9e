// Internal status value: a c-tree status number and the system code behind
// it (errno or the storage engine's code). OK costs nothing.
#ifndef VKT_ISAM_DETAIL_STATUS_H_
#define VKT_ISAM_DETAIL_STATUS_H_

#include <cstdint>

namespace vkt::isam::detail {

struct [[nodiscard]] Status {
  int16_t code = 0;
  int32_t sys = 0;

  Status() = default;
  Status(int16_t c, int32_t s = 0) : code(c), sys(s) {}  // NOLINT: implicit from a status number
  bool ok() const { return code == 0; }
};

#define VKT_ISAM_RETURN_IF_ERROR(expr)       \
  do {                                       \
    ::vkt::isam::detail::Status s_ = (expr); \
    if (!s_.ok()) return s_;                 \
  } while (0)

}  // namespace vkt::isam::detail

#endif  // VKT_ISAM_DETAIL_STATUS_H_
