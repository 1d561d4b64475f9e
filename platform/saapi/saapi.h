// The SQL client layer: connections, commands, fields, parameters and the
// one exception type every database error arrives as.
//
//   SAConnection con;
//   con.Connect("127.0.0.1:5432@mirto", "vkt", "secret", SA_PostgreSQL_Client);
//   con.setAutoCommit(SA_AutoCommitOff);          // transactions begin lazily
//   SACommand cmd(&con, "SELECT nome FROM clienti1 WHERE codice = :1");
//   cmd << 42L;                                    // bound, never pasted in
//   cmd.Execute();
//   while (cmd.FetchNext()) puts(cmd.Field("NOME").asString());
//   con.Commit();
//
// Semantics every caller relies on:
// - With auto-commit off no statement is sent to open a transaction until
//   the first statement runs; that first statement is preceded by a begin at
//   the isolation level then in force. Commit and Rollback end it; the next
//   statement begins the next one. Turning auto-commit back on commits the
//   open transaction.
// - Server errors are SAException of class SA_DBMS_API_Error whose text
//   starts with the five-character SQLSTATE (also in ErrSQLState()); errors
//   of this layer are class SA_Library_Error; the caller's own are
//   SA_UserGenerated_Error (throwUserException).
// - NULL reads as 0, empty text or the empty date; field names match without
//   regard to ASCII case; date-times convert to OLE dates (SADateTime).
// - Parameters are written ":1", ":2" or ":name" in the text (never inside
//   quotes or comments; "::" is a cast, not a parameter) and are sent to the
//   server apart from the text. SA_CmdSQLStmtRaw takes the text as it is.
//
// Which client library serves a connection is chosen by the eSAClient given
// to Connect: ODBC (1), MySQL family (9), PostgreSQL (10), SQLite (11). The
// drivers and their database-string forms are described in saapi/sadriver.h.
// Everything here runs on the caller's thread; a connection and its commands
// belong to one thread.
#ifndef VKT_SAAPI_SAAPI_H_
#define VKT_SAAPI_SAAPI_H_

#include <cstdint>
#include <exception>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "saapi/saclient.h"
#include "saapi/sadatetime.h"
#include "saapi/sastring.h"
#include "vkt_export.h"

enum SAErrorClass_t {
  SA_No_Error = 0,
  SA_UserGenerated_Error = 1,
  SA_Library_Error = 2,
  SA_DBMS_API_Error = 3,
};

enum SAIsolationLevel_t {
  SA_LevelUnknown = -1,
  SA_ANSILevel0 = 0,
  SA_ANSILevel1 = 1,
  SA_ANSILevel2 = 2,
  SA_ANSILevel3 = 3,
  SA_ReadUncommitted = SA_ANSILevel0,
  SA_ReadCommitted = SA_ANSILevel1,
  SA_RepeatableRead = SA_ANSILevel2,
  SA_Serializable = SA_ANSILevel3,
};

enum SAAutoCommit_t {
  SA_AutoCommitUnknown = -1,
  SA_AutoCommitOff = 0,
  SA_AutoCommitOn = 1,
};

enum SACommandType_t {
  SA_CmdUnknown = 0,
  SA_CmdSQLStmt = 1,
  SA_CmdSQLStmtRaw = 2,
  SA_CmdStoredProc = 3,
};

enum SADataType_t {
  SA_dtUnknown = 0,
  SA_dtBool,
  SA_dtShort,
  SA_dtUShort,
  SA_dtLong,
  SA_dtULong,
  SA_dtDouble,
  SA_dtNumeric,
  SA_dtDateTime,
  SA_dtInterval,
  SA_dtString,
  SA_dtBytes,
  SA_dtLongBinary,
  SA_dtLongChar,
  SA_dtBLob,
  SA_dtCLob,
  SA_dtCursor,
  SA_dtSpecificToDBMS,
  SA_dtInt64,
  SA_dtUInt64,
};

class SAConnection;
class SACommand;
namespace vkt::sa {
class Connection;
class Cursor;
}  // namespace vkt::sa

// Every error of the layer, of the servers and of the library's own callers.
class VKT_API SAException : public std::exception {
 public:
  SAException(SAErrorClass_t err_class, int native_code, int err_pos,
              const SAString& text, const SAString& sqlstate = SAString(),
              const SAString& command_text = SAString());
  SAException(const SAException&);
  SAException& operator=(const SAException&);
  ~SAException() override;

  // Throws a class SA_UserGenerated_Error exception with `code` as its
  // native code and the printf-formatted text.
  [[noreturn]] static void throwUserException(int code, const char* format, ...)
      __attribute__((format(printf, 2, 3)));

  SAErrorClass_t ErrClass() const { return class_; }
  int ErrNativeCode() const { return native_; }
  // 1-based character position the server blamed, or -1.
  int ErrPos() const { return pos_; }
  SAString ErrText() const { return text_; }
  // The text with the statement it came from, for logs.
  SAString ErrMessage() const;
  // The five-character SQLSTATE of server errors, else empty.
  SAString ErrSQLState() const { return sqlstate_; }
  SAString CommandText() const { return command_; }
  const char* what() const noexcept override { return text_.GetMultiByteChars(); }

 private:
  SAErrorClass_t class_;
  int native_;
  int pos_;
  SAString text_;
  SAString sqlstate_;
  SAString command_;
};

namespace vkt::sa {
// One value of a row or of a bound parameter, as the drivers exchange it.
struct Value {
  SADataType_t type = SA_dtUnknown;
  bool null = true;
  int64_t i = 0;   // booleans and integers
  double d = 0;    // doubles, and numerics beside their digits
  SADateTime dt;   // date-times
  std::string s;   // text, bytes, the digits of a numeric
};
}  // namespace vkt::sa

// Reading a field or a parameter.
class VKT_API SAValueRead {
 public:
  virtual ~SAValueRead();

  bool isNull() const { return v_.null; }
  SADataType_t DataType() const { return v_.type; }

  // Conversions. NULL gives 0, empty text or the empty date; a value that
  // cannot be converted (text that is no number, a number out of the
  // target's range, a date from a number) throws SA_Library_Error.
  bool asBool() const;
  int16_t asShort() const;
  uint16_t asUShort() const;
  int32_t asLong() const;
  uint32_t asULong() const;
  int64_t asInt64() const;
  double asDouble() const;
  SADateTime asDateTime() const;
  SAString asString() const;
  // Raw bytes of binary values; any other value gives its text form.
  SAString asBytes() const;
  operator SAString() const { return asString(); }  // NOLINT

  const vkt::sa::Value& value() const { return v_; }
  vkt::sa::Value& mutable_value() { return v_; }

 protected:
  vkt::sa::Value v_;
  SAString name_;
};

// A column of the current row.
class VKT_API SAField : public SAValueRead {
 public:
  const SAString& Name() const { return name_; }
  SADataType_t FieldType() const { return v_.type; }
  // Declared size and scale, when the server tells them; else 0.
  int FieldSize() const { return size_; }
  int FieldScale() const { return scale_; }
  bool isFieldRequired() const { return required_; }

 private:
  int size_ = 0;
  int scale_ = 0;
  bool required_ = false;
  friend class SACommand;
};

// A parameter of a command: set it before Execute.
class VKT_API SAParam : public SAValueRead {
 public:
  const SAString& Name() const { return name_; }
  SADataType_t ParamType() const { return v_.type; }

  void setAsNull();
  void setAsBool(bool v);
  void setAsShort(int16_t v);
  void setAsUShort(uint16_t v);
  void setAsLong(int32_t v);
  void setAsULong(uint32_t v);
  void setAsInt64(int64_t v);
  void setAsDouble(double v);
  // A decimal number kept as text ("-123.45") so no digit is lost.
  void setAsNumeric(const SAString& digits);
  void setAsDateTime(const SADateTime& v);
  void setAsString(const SAString& v);
  void setAsBytes(const SAString& v);

 private:
  friend class SACommand;
};

// `cmd << SANull()` binds NULL to the next parameter.
struct SANull {};

class VKT_API SAConnection {
 public:
  SAConnection();
  ~SAConnection();
  SAConnection(const SAConnection&) = delete;
  SAConnection& operator=(const SAConnection&) = delete;

  // Connects through the client library `client` (SA_Client_NotSpecified
  // keeps the last one set by setClient). The handler is accepted for the
  // established signature and not called. Throws SAException; an already
  // connected connection throws SA_Library_Error.
  void Connect(const SAString& database, const SAString& user,
               const SAString& password,
               eSAClient client = SA_Client_NotSpecified,
               void (*handler)(SAConnection&, int) = nullptr);
  bool isConnected() const;
  // Asks the server (one round trip); false when the link is gone.
  bool isAlive();
  // Rolls back an open transaction and closes the link. Throws when the
  // client library reports a failure; the connection is closed all the same
  // only after Destroy.
  void Disconnect();
  // Frees the link's handles without talking to the server. Never throws.
  void Destroy() noexcept;
  // Destroy, then forget the client and the options.
  void Reset() noexcept;

  void setClient(eSAClient client);
  eSAClient Client() const { return client_; }
  SAString ServerVersionString() const;

  // Takes effect at the next transaction begin.
  void setIsolationLevel(SAIsolationLevel_t level);
  SAIsolationLevel_t IsolationLevel() const { return isolation_; }
  // On: commits an open transaction.
  void setAutoCommit(SAAutoCommit_t mode);
  SAAutoCommit_t AutoCommit() const { return autocommit_; }
  // Without an open transaction both do nothing.
  void Commit();
  void Rollback();
  // True between the lazy begin and the commit or roll-back.
  bool isTransactionOpen() const { return in_transaction_; }

  // conn.setOption("PreFetchRows") = "250"; read with Option().
  SAString& setOption(const SAString& name);
  SAString Option(const SAString& name) const;

  // For the commands: the driver link, with the lazy begin done.
  vkt::sa::Connection* ForStatement();
  vkt::sa::Connection* link() const { return link_.get(); }

 private:
  friend class SACommand;
  void Attach(SACommand* cmd);
  void Detach(SACommand* cmd);
  void CloseCommands(bool drop_cursors) noexcept;

  std::unique_ptr<vkt::sa::Connection> link_;
  eSAClient client_ = SA_Client_NotSpecified;
  SAIsolationLevel_t isolation_ = SA_LevelUnknown;
  SAAutoCommit_t autocommit_ = SA_AutoCommitOn;
  bool in_transaction_ = false;
  std::map<std::string, SAString> options_;  // by lower-case name
  std::vector<SACommand*> commands_;
};

class VKT_API SACommand {
 public:
  SACommand();
  explicit SACommand(SAConnection* connection, const SAString& text = SAString(),
                     SACommandType_t type = SA_CmdUnknown);
  ~SACommand();
  SACommand(const SACommand&) = delete;
  SACommand& operator=(const SACommand&) = delete;

  void setConnection(SAConnection* connection);
  SAConnection* Connection() const { return connection_; }

  // Closes the command and parses the parameters of the new text.
  void setCommandText(const SAString& text, SACommandType_t type = SA_CmdUnknown);
  SAString CommandText() const { return text_; }
  SACommandType_t CommandType() const { return type_; }

  // Runs the statement. Throws SAException (SA_Library_Error without a
  // connection, or a connection that is not connected).
  void Execute();
  bool isExecuted() const { return executed_; }
  bool isResultSet() const;
  // Advances to the next row; false after the last (the fields then keep
  // the last row's values).
  bool FetchNext();
  // Rows changed by the last statement, -1 when unknown.
  long RowsAffected() const;
  // Ends the result set and frees the statement; parameters stay bound.
  void Close() noexcept;

  int FieldCount() const { return static_cast<int>(fields_.size()); }
  // 1-based; throws SA_Library_Error out of range.
  SAField& Field(int index);
  // Case-insensitive; throws SA_Library_Error for a name not in the row.
  SAField& Field(const SAString& name);
  SAField& operator[](int index) { return Field(index); }
  SAField& operator[](const SAString& name) { return Field(name); }

  int ParamCount() const { return static_cast<int>(params_.size()); }
  // 1-based, in order of first appearance.
  SAParam& ParamByIndex(int index);
  // By name ("1" for ":1"); throws SA_Library_Error for an unknown name.
  SAParam& Param(const SAString& name);
  SAParam& Param(int number);

  // Binds the next parameter (after setCommandText, the first).
  SACommand& operator<<(const SANull&);
  SACommand& operator<<(bool v);
  SACommand& operator<<(int16_t v);
  SACommand& operator<<(int32_t v);
  SACommand& operator<<(long v);
  SACommand& operator<<(double v);
  SACommand& operator<<(const SADateTime& v);
  SACommand& operator<<(const SAString& v);
  SACommand& operator<<(const char* v);

  SAString& setOption(const SAString& name);
  SAString Option(const SAString& name) const;

 private:
  friend class SAConnection;
  void ParseParams();
  void Detached() noexcept;
  void DropCursor() noexcept;
  SAParam& NextParam();

  SAConnection* connection_ = nullptr;
  SAString text_;
  SACommandType_t type_ = SA_CmdUnknown;
  std::string native_sql_;            // text with the driver's placeholders
  std::vector<std::string> pieces_;   // text between parameter occurrences
  std::vector<int> occurrences_;      // param index of each occurrence
  std::vector<std::unique_ptr<SAParam>> params_;
  std::vector<std::unique_ptr<SAField>> fields_;
  std::unique_ptr<vkt::sa::Cursor> cursor_;
  vkt::sa::Connection* prepared_for_ = nullptr;
  bool executed_ = false;
  size_t next_param_ = 0;
  std::map<std::string, SAString> options_;
};

#endif  // VKT_SAAPI_SAAPI_H_
