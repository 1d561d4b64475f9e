// SQL rows in record buffers: the current row of a command copied field by
// field into a table's fixed-layout record, by the schema stored in the
// table's data file, so that a record read from SQL is byte for byte what
// an ISAM read of the same data gives.
//
//   cmd.setCommandText(pg.QueryAdapt("SELECT * FROM admin.clienti1 WHERE ...", 1, 0, 0));
//   cmd.Execute();
//   if (cmd.FetchNext()) {
//     int16_t s = DBReadSql(clienti, cmd, &cli, nullptr);  // 0: filled
//   }
#ifndef VKT_SQL_SQLRECORD_H_
#define VKT_SQL_SQLRECORD_H_

#include <cstdint>

#include "db/dbctree.h"
#include "saapi/saapi.h"
#include "vkt_export.h"

// Fills `record` (the table's record length, cleared first) from the
// current row of `cmd`: one column per element of the table's stored
// schema, named like it, converted by its type code and written at the
// element's offset; no byte is written past the record length, and a text
// is cut to its field. Returns 0, or the table's read callback's answer
// when it has one and `extra` is not null; 120 when the stored schema is
// unreadable or holds a type without conversion (reported); the ISAM
// status when there is no stored schema (never 0). A column missing from
// the row, or a value that cannot be converted, throws SAException with the
// record partly filled.
VKT_API int16_t DBReadSql(CDBCtree& table, SACommand& cmd, void* record, void* extra);

#endif  // VKT_SQL_SQLRECORD_H_
