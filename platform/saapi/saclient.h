// Client library kinds of the SQL client layer, by their established numbers.
//
// Hosts hand these numbers back through their connection-parameter callbacks,
// so the values are part of the host contract.
#ifndef VKT_SAAPI_SACLIENT_H_
#define VKT_SAAPI_SACLIENT_H_

enum eSAClient : int {
  SA_Client_NotSpecified = 0,
  SA_ODBC_Client = 1,
  SA_Oracle_Client = 2,
  SA_SQLServer_Client = 3,
  SA_InterBase_Client = 4,
  SA_SQLBase_Client = 5,
  SA_DB2_Client = 6,
  SA_Informix_Client = 7,
  SA_Sybase_Client = 8,
  SA_MySQL_Client = 9,
  SA_PostgreSQL_Client = 10,
  SA_SQLite_Client = 11,
};

class SAString;

#endif  // VKT_SAAPI_SACLIENT_H_
