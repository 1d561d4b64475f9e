// Record filters and index conditions: small expressions over the fields of
// a table's stored schema, evaluated on record images.
//
//   qty > 10 && (code == "A1" || !flag)
//
// Fields are named as in the schema; numbers compare as numbers, text
// fields (type 144, up to the first zero, trailing blanks ignored) as text.
#ifndef VKT_ISAM_DETAIL_EXPR_H_
#define VKT_ISAM_DETAIL_EXPR_H_

#include <memory>
#include <string>
#include <string_view>

namespace vkt::isam::detail {

class Expr {
 public:
  virtual ~Expr() = default;
  // Null (and a reason) when `text` cannot be read against `doda` (the
  // stored schema, SerializeDoda form).
  static std::unique_ptr<Expr> Parse(const std::string& text, std::string_view doda,
                                     std::string* why);
  virtual bool Match(std::string_view image) const = 0;
  const std::string& text() const { return text_; }

 protected:
  std::string text_;
};

}  // namespace vkt::isam::detail

#endif  // VKT_ISAM_DETAIL_EXPR_H_
