#include "platform/odbc.h"

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <algorithm>
#include <utility>

#include "util/text.h"

namespace dexweb::platform {

static_assert(sizeof(SQLWCHAR) == sizeof(char16_t), "the wide calls must use 16-bit units");

std::u16string to_utf16(std::string_view utf8) {
  std::u16string out;
  for (char32_t cp : text::to_u32(utf8)) {
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
  }
  return out;
}

std::string from_utf16(std::u16string_view units) {
  std::string out;
  for (std::size_t i = 0; i < units.size(); ++i) {
    char32_t cp = units[i];
    if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
        units[i + 1] < 0xE000) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (units[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp < 0xE000) {
      cp = 0xFFFD;
    }
    text::append_utf8(out, cp);
  }
  return out;
}

namespace {

SQLWCHAR* wide(std::u16string& s) { return reinterpret_cast<SQLWCHAR*>(s.data()); }

bool succeeded(SQLRETURN rc) { return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO; }

std::vector<OdbcDiagnostic> diagnostics(SQLSMALLINT type, SQLHANDLE handle) {
  std::vector<OdbcDiagnostic> out;
  for (SQLSMALLINT i = 1; handle; ++i) {
    SQLWCHAR state[6] = {};
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    std::u16string message(1024, u'\0');
    SQLRETURN rc = SQLGetDiagRecW(type, handle, i, state, &native, wide(message),
                                  static_cast<SQLSMALLINT>(message.size()), &length);
    if (!succeeded(rc)) break;
    if (length >= static_cast<SQLSMALLINT>(message.size())) {
      message.assign(static_cast<std::size_t>(length) + 1, u'\0');
      SQLGetDiagRecW(type, handle, i, state, &native, wide(message),
                     static_cast<SQLSMALLINT>(message.size()), &length);
    }
    message.resize(static_cast<std::size_t>(length));
    out.push_back({from_utf16(std::u16string_view(reinterpret_cast<char16_t*>(state), 5)), native,
                   from_utf16(message)});
  }
  return out;
}

OdbcKind kind_of(SQLSMALLINT type, std::string_view type_name) {
  std::string name = text::to_lower(type_name);
  if (type == SQL_BIT || name == "bool" || name == "boolean" || name == "bit") return OdbcKind::Boolean;
  switch (type) {
    case SQL_SMALLINT:
    case SQL_TINYINT: return OdbcKind::SmallInt;
    case SQL_INTEGER:
    case SQL_BIGINT: return OdbcKind::Integer;
    case SQL_REAL:
    case SQL_FLOAT:
    case SQL_DOUBLE:
    case SQL_NUMERIC:
    case SQL_DECIMAL: return OdbcKind::Float;
    case SQL_TYPE_DATE:
    case SQL_TYPE_TIMESTAMP:
    case SQL_DATETIME:
    case SQL_TIMESTAMP: return OdbcKind::DateTime;
    default: return OdbcKind::Text;
  }
}

}  // namespace

OdbcError::OdbcError(std::string what, std::vector<OdbcDiagnostic> records)
    : std::runtime_error(std::move(what)), records_(std::move(records)) {
  if (records_.empty()) records_.push_back({"HY000", 0, runtime_error::what()});
}

// ---- handles ----

OdbcHandle::OdbcHandle(OdbcHandle&& o) noexcept
    : type_(o.type_), handle_(std::exchange(o.handle_, nullptr)) {}

OdbcHandle& OdbcHandle::operator=(OdbcHandle&& o) noexcept {
  if (this != &o) {
    reset();
    type_ = o.type_;
    handle_ = std::exchange(o.handle_, nullptr);
  }
  return *this;
}

OdbcHandle::~OdbcHandle() { reset(); }

void OdbcHandle::reset() {
  if (handle_) SQLFreeHandle(type_, handle_);
  handle_ = nullptr;
}

void OdbcHandle::check(short rc, std::string_view what) const {
  if (succeeded(rc) || rc == SQL_NO_DATA) return;
  throw OdbcError(std::string(what), diagnostics(type_, handle_));
}

OdbcEnvironment::OdbcEnvironment() {
  SQLHANDLE env = SQL_NULL_HANDLE;
  if (!succeeded(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env)))
    throw OdbcError("cannot allocate the ODBC environment", {{"HY001", 0, "ODBC environment"}});
  env_ = OdbcHandle(SQL_HANDLE_ENV, env);
  env_.check(SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0),
             "SQLSetEnvAttr");
}

// ---- connection ----

OdbcConnection::OdbcConnection(const OdbcEnvironment& env) {
  SQLHANDLE dbc = SQL_NULL_HANDLE;
  SQLRETURN rc = SQLAllocHandle(SQL_HANDLE_DBC, env.get(), &dbc);
  if (!succeeded(rc)) throw OdbcError("SQLAllocHandle", diagnostics(SQL_HANDLE_ENV, env.get()));
  dbc_ = OdbcHandle(SQL_HANDLE_DBC, dbc);
}

OdbcConnection::~OdbcConnection() { disconnect(); }

void OdbcConnection::connect(std::string_view connection_string, int login_timeout_seconds) {
  if (login_timeout_seconds > 0) {
    SQLSetConnectAttrW(dbc_.get(), SQL_ATTR_LOGIN_TIMEOUT,
                       reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(login_timeout_seconds)), 0);
  }
  std::u16string in = to_utf16(connection_string);
  SQLWCHAR out[1024];
  SQLSMALLINT out_length = 0;
  dbc_.check(SQLDriverConnectW(dbc_.get(), nullptr, wide(in), static_cast<SQLSMALLINT>(in.size()), out,
                               1024, &out_length, SQL_DRIVER_NOPROMPT),
             "SQLDriverConnect");
  connected_ = true;
}

void OdbcConnection::disconnect() {
  if (connected_ && dbc_.get()) SQLDisconnect(dbc_.get());
  connected_ = false;
}

std::string OdbcConnection::dbms_name() const {
  SQLWCHAR name[256] = {};
  SQLSMALLINT length = 0;
  dbc_.check(SQLGetInfoW(dbc_.get(), SQL_DBMS_NAME, name, sizeof name, &length), "SQLGetInfo");
  return from_utf16(std::u16string_view(reinterpret_cast<char16_t*>(name),
                                        static_cast<std::size_t>(length) / sizeof(SQLWCHAR)));
}

OdbcStatement OdbcConnection::statement() const {
  SQLHANDLE stmt = SQL_NULL_HANDLE;
  dbc_.check(SQLAllocHandle(SQL_HANDLE_STMT, dbc_.get(), &stmt), "SQLAllocHandle");
  return OdbcStatement(OdbcHandle(SQL_HANDLE_STMT, stmt), utf8_text_);
}

// ---- statement ----

void OdbcStatement::set_timeout(int seconds) {
  stmt_.check(SQLSetStmtAttrW(stmt_.get(), SQL_ATTR_QUERY_TIMEOUT,
                              reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(seconds < 0 ? 0 : seconds)), 0),
              "SQLSetStmtAttr");
}

// A searched UPDATE or DELETE that matched no row ends the statement with SQL_NO_DATA:
// there is no result to describe or move past.
bool OdbcStatement::finished_after(short rc, std::string_view what) {
  finished_ = rc == SQL_NO_DATA;
  stmt_.check(rc, what);
  return !finished_ && !columns().empty();
}

bool OdbcStatement::execute(std::string_view sql) {
  if (utf8_text_) {
    auto* text = reinterpret_cast<SQLCHAR*>(const_cast<char*>(sql.data()));
    return finished_after(SQLExecDirect(stmt_.get(), text, static_cast<SQLINTEGER>(sql.size())), "SQLExecDirect");
  }
  std::u16string text = to_utf16(sql);
  return finished_after(SQLExecDirectW(stmt_.get(), wide(text), static_cast<SQLINTEGER>(text.size())),
                        "SQLExecDirect");
}

void OdbcStatement::prepare(std::string_view sql) {
  if (utf8_text_) {
    auto* text = reinterpret_cast<SQLCHAR*>(const_cast<char*>(sql.data()));
    stmt_.check(SQLPrepare(stmt_.get(), text, static_cast<SQLINTEGER>(sql.size())), "SQLPrepare");
    return;
  }
  std::u16string text = to_utf16(sql);
  stmt_.check(SQLPrepareW(stmt_.get(), wide(text), static_cast<SQLINTEGER>(text.size())), "SQLPrepare");
}

bool OdbcStatement::execute_prepared() { return finished_after(SQLExecute(stmt_.get()), "SQLExecute"); }

void OdbcStatement::bind_text(int index, std::string_view utf8) {
  static_assert(sizeof(SQLLEN) == sizeof(long), "bound lengths are kept as long");
  const auto marker = static_cast<SQLUSMALLINT>(index);
  if (utf8_text_) {
    SQLLEN& length = lengths_.emplace_back(static_cast<SQLLEN>(utf8.size()));
    stmt_.check(SQLBindParameter(stmt_.get(), marker, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR,
                                 std::max<SQLULEN>(utf8.size(), 1), 0, const_cast<char*>(utf8.data()), length,
                                 &length),
                "SQLBindParameter");
    return;
  }
  std::u16string& units = wide_values_.emplace_back(to_utf16(utf8));
  const SQLULEN size = std::max<SQLULEN>(units.size(), 1);
  SQLLEN& length = lengths_.emplace_back(static_cast<SQLLEN>(units.size() * sizeof(SQLWCHAR)));
  // Longer than the widest sized text type holds: the unbounded one.
  const SQLSMALLINT type = size > 4000 ? SQL_WLONGVARCHAR : SQL_WVARCHAR;
  stmt_.check(SQLBindParameter(stmt_.get(), marker, SQL_PARAM_INPUT, SQL_C_WCHAR, type, size, 0, wide(units), length,
                               &length),
              "SQLBindParameter");
}

void OdbcStatement::bind_integer(int index, const std::int64_t& value) {
  SQLLEN& length = lengths_.emplace_back(0);
  stmt_.check(SQLBindParameter(stmt_.get(), static_cast<SQLUSMALLINT>(index), SQL_PARAM_INPUT, SQL_C_SBIGINT,
                               SQL_BIGINT, 0, 0, const_cast<std::int64_t*>(&value), 0, &length),
              "SQLBindParameter");
}

// The markers stay bound: the next run binds the same markers again, and the driver
// reuses their places instead of building them anew.
void OdbcStatement::reset() {
  SQLFreeStmt(stmt_.get(), SQL_CLOSE);
  lengths_.clear();
  wide_values_.clear();
  finished_ = false;
}

bool OdbcStatement::next_result() {
  if (finished_) return false;
  SQLRETURN rc = SQLMoreResults(stmt_.get());
  finished_ = rc == SQL_NO_DATA;
  stmt_.check(rc, "SQLMoreResults");
  return !finished_;
}

long long OdbcStatement::row_count() const {
  if (finished_) return 0;
  SQLLEN n = -1;
  if (!succeeded(SQLRowCount(stmt_.get(), &n))) return -1;
  return n;
}

std::vector<OdbcColumn> OdbcStatement::columns() const {
  if (finished_) return {};
  SQLSMALLINT count = 0;
  stmt_.check(SQLNumResultCols(stmt_.get(), &count), "SQLNumResultCols");
  std::vector<OdbcColumn> out;
  for (SQLUSMALLINT i = 1; i <= static_cast<SQLUSMALLINT>(count); ++i) {
    SQLWCHAR name[256] = {};
    SQLSMALLINT name_length = 0, type = 0, decimals = 0, nullable = 0;
    SQLULEN size = 0;
    stmt_.check(SQLDescribeColW(stmt_.get(), i, name, 256, &name_length, &type, &size, &decimals, &nullable),
                "SQLDescribeCol");
    SQLWCHAR type_name[128] = {};
    SQLSMALLINT type_length = 0;
    SQLColAttributeW(stmt_.get(), i, SQL_DESC_TYPE_NAME, type_name, sizeof type_name, &type_length, nullptr);
    std::string type_text = from_utf16(std::u16string_view(
        reinterpret_cast<char16_t*>(type_name), static_cast<std::size_t>(type_length) / sizeof(SQLWCHAR)));
    out.push_back({from_utf16(std::u16string_view(reinterpret_cast<char16_t*>(name),
                                                  static_cast<std::size_t>(name_length))),
                   kind_of(type, type_text), type_text});
  }
  return out;
}

bool OdbcStatement::fetch() {
  if (finished_) return false;
  SQLRETURN rc = SQLFetch(stmt_.get());
  if (rc == SQL_NO_DATA) return false;
  stmt_.check(rc, "SQLFetch");
  return true;
}

std::optional<std::string> OdbcStatement::get_text(int column) {
  // Long values arrive in pieces: each call fills the buffer (less its terminator) until
  // the driver says SQL_SUCCESS or SQL_NO_DATA.
  std::u16string value;
  std::u16string buffer(4096, u'\0');
  const SQLLEN capacity = static_cast<SQLLEN>(buffer.size() * sizeof(SQLWCHAR));
  for (;;) {
    SQLLEN indicator = 0;
    SQLRETURN rc = SQLGetData(stmt_.get(), static_cast<SQLUSMALLINT>(column + 1), SQL_C_WCHAR,
                              wide(buffer), capacity, &indicator);
    if (rc == SQL_NO_DATA) break;
    stmt_.check(rc, "SQLGetData");
    if (indicator == SQL_NULL_DATA) return std::nullopt;
    SQLLEN bytes = (indicator == SQL_NO_TOTAL || indicator >= capacity)
                       ? capacity - static_cast<SQLLEN>(sizeof(SQLWCHAR))
                       : indicator;
    value.append(buffer.data(), static_cast<std::size_t>(bytes) / sizeof(SQLWCHAR));
    if (rc == SQL_SUCCESS) break;
  }
  return from_utf16(value);
}

}  // namespace dexweb::platform
