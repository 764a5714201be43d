#pragma once
// Thin RAII wrappers over the ODBC 3 interface (unixODBC). Text in and out is UTF-8. It goes
// to the driver through the wide-character calls, as Unicode whatever the driver's code page,
// unless the connection is told that its driver takes UTF-8 as it is (set_utf8_text).
// Every failing call throws OdbcError with the handle's diagnostic records; nothing here
// retries or logs.

#include <cstdint>
#include <deque>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace dexweb::platform {

struct OdbcDiagnostic {
  std::string state;  // the five-character SQLSTATE
  long native = 0;    // the driver's own error number
  std::string message;
};

class OdbcError : public std::runtime_error {
 public:
  OdbcError(std::string what, std::vector<OdbcDiagnostic> records);
  // In the order the driver reported them; never empty (a call that failed without
  // records gets one with state "HY000").
  const std::vector<OdbcDiagnostic>& records() const noexcept { return records_; }

 private:
  std::vector<OdbcDiagnostic> records_;
};

// A generic handle (SQLHANDLE) with its type, freed on destruction.
class OdbcHandle {
 public:
  OdbcHandle() = default;
  OdbcHandle(short type, void* handle) : type_(type), handle_(handle) {}
  OdbcHandle(OdbcHandle&& o) noexcept;
  OdbcHandle& operator=(OdbcHandle&& o) noexcept;
  OdbcHandle(const OdbcHandle&) = delete;
  OdbcHandle& operator=(const OdbcHandle&) = delete;
  ~OdbcHandle();

  void* get() const { return handle_; }
  short type() const { return type_; }
  // Throws OdbcError built from this handle's diagnostics when rc is not a success code.
  void check(short rc, std::string_view what) const;

 private:
  void reset();
  short type_ = 0;
  void* handle_ = nullptr;
};

// The ODBC 3 environment. Every connection needs one that outlives it.
class OdbcEnvironment {
 public:
  OdbcEnvironment();  // throws OdbcError
  void* get() const { return env_.get(); }

 private:
  OdbcHandle env_;
};

// How a column's text is to be read, from the SQL type the driver reports (and, for
// drivers that report Booleans as characters, from the DBMS's type name).
enum class OdbcKind { Text, SmallInt, Integer, Float, DateTime, Boolean };

struct OdbcColumn {
  std::string name;
  OdbcKind kind = OdbcKind::Text;
  std::string type_name;  // the DBMS's own name for the type ("bool", "int4", "bit"...)
};

class OdbcConnection;

// One statement handle on a connection. Move-only; it must not outlive its connection.
class OdbcStatement {
 public:
  OdbcStatement(OdbcHandle stmt, bool utf8_text) : stmt_(std::move(stmt)), utf8_text_(utf8_text) {}

  // Seconds before the driver cancels a statement; 0 means no limit.
  void set_timeout(int seconds);
  // Runs sql (one or several statements), with the values bound to its "?" markers. True
  // when the first result has columns.
  bool execute(std::string_view sql);
  // Prepares sql (one or several statements) to be run by execute_prepared, again and again
  // with other values bound.
  void prepare(std::string_view sql);
  bool execute_prepared();
  // Binds the value of marker number index (from 1). A text is read where it is when the
  // statement runs: it must stay there, unchanged, until then.
  void bind_text(int index, std::string_view utf8);
  void bind_integer(int index, const std::int64_t& value);
  // Ends the current results and forgets the values; the markers stay bound to the old
  // places, so every marker must be bound again before the next run.
  void reset();
  // Moves to the next result of a batch; true when there is one. Errors of later
  // statements of a batch surface here.
  bool next_result();
  // Rows affected by the statement whose result is current; -1 when unknown.
  long long row_count() const;
  // Columns of the current result (none after a statement without rows).
  std::vector<OdbcColumn> columns() const;
  // Moves to the next row of the current result; false after the last.
  bool fetch();
  // The column's value (0-based) as text; nullopt for NULL.
  std::optional<std::string> get_text(int column);

 private:
  bool finished_after(short rc, std::string_view what);

  OdbcHandle stmt_;
  bool utf8_text_;
  bool finished_ = false;  // no result left to read
  // The bound values' lengths and wide copies, where the driver reads them when the
  // statement runs (a deque keeps their places as it grows).
  std::deque<long> lengths_;
  std::deque<std::u16string> wide_values_;
};

// One connection. Move-only; disconnected and freed on destruction.
class OdbcConnection {
 public:
  explicit OdbcConnection(const OdbcEnvironment& env);  // throws OdbcError
  OdbcConnection(OdbcConnection&&) noexcept = default;
  OdbcConnection& operator=(OdbcConnection&&) noexcept = default;
  ~OdbcConnection();

  // Connects with a connection string of "name=value;" clauses, never prompting.
  void connect(std::string_view connection_string, int login_timeout_seconds = 0);
  // Ignores errors; harmless when not connected.
  void disconnect();
  bool connected() const { return connected_; }
  // The DBMS's product name, e.g. "PostgreSQL" or "Microsoft SQL Server".
  std::string dbms_name() const;
  // Statements made after this pass statement texts and bound texts to the driver as UTF-8
  // through the narrow calls (a driver that takes UTF-8, such as PostgreSQL's Unicode one).
  void set_utf8_text(bool on) { utf8_text_ = on; }
  OdbcStatement statement() const;

 private:
  OdbcHandle dbc_;
  bool connected_ = false;
  bool utf8_text_ = false;
};

// Text conversions between UTF-8 and the 16-bit SQLWCHAR units of the wide calls.
std::u16string to_utf16(std::string_view utf8);
std::string from_utf16(std::u16string_view units);

}  // namespace dexweb::platform
