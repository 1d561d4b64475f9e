// Where a report's records come from: ISAM file sets or an SQL database.
#ifndef VKT_REPORT_DETAIL_SOURCE_H_
#define VKT_REPORT_DETAIL_SOURCE_H_

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "report/report.h"

namespace vkt::report::detail {

struct Rows {
  std::vector<std::string> fields;  // names as the source gives them
  std::vector<std::vector<Value>> rows;
};

class Source {
 public:
  virtual ~Source() = default;
  // Every record of a table.
  virtual bool ReadTable(const std::string& location, Rows* out, Error* error) = 0;
  // The field names of a table only.
  virtual bool Describe(const std::string& location, std::vector<std::string>* fields,
                        Error* error) = 0;
  // The rows of a statement (SQL only).
  virtual bool Query(const std::string& sql, Rows* out, Error* error) = 0;
  virtual const char* kind() const = 0;
};

std::unique_ptr<Source> MakeIsamSource(const std::string& folder, int day_base);
// Connects at once; null with the error.
std::unique_ptr<Source> MakeSqlSource(eSAClient client, const std::string& database,
                                      const std::string& user, const std::string& password,
                                      Error* error);

}  // namespace vkt::report::detail

#endif  // VKT_REPORT_DETAIL_SOURCE_H_
