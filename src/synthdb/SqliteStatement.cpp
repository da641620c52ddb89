#include "synthdb/SqliteStatement.h"

#include <sqlite3.h>

#include <stdexcept>
#include <utility>

namespace cantivo {

SqliteStatement::SqliteStatement(sqlite3* db, const char* sql)
{
    // The statements are the program's own: one that does not prepare is a programmer error, unless the
    // connection itself is unusable (then every use reports its failure).
    if (sqlite3_prepare_v3(db, sql, -1, SQLITE_PREPARE_PERSISTENT, &statement_, nullptr) != SQLITE_OK) {
        const std::string message = sqlite3_errmsg(db);
        sqlite3_finalize(statement_);
        statement_ = nullptr;
        throw std::logic_error("synth database statement does not prepare: " + message + ": " + sql);
    }
}

SqliteStatement::~SqliteStatement()
{
    sqlite3_finalize(statement_);
}

SqliteStatement::SqliteStatement(SqliteStatement&& other) noexcept
    : statement_(std::exchange(other.statement_, nullptr)), next_(other.next_)
{
}

SqliteStatement& SqliteStatement::operator=(SqliteStatement&& other) noexcept
{
    if (this != &other) {
        sqlite3_finalize(statement_);
        statement_ = std::exchange(other.statement_, nullptr);
        next_ = other.next_;
    }
    return *this;
}

SqliteStatement& SqliteStatement::Start()
{
    sqlite3_reset(statement_);
    sqlite3_clear_bindings(statement_);
    next_ = 1;
    return *this;
}

SqliteStatement& SqliteStatement::Bind(int64_t value)
{
    sqlite3_bind_int64(statement_, next_++, value);
    return *this;
}

SqliteStatement& SqliteStatement::Bind(std::string_view text)
{
    sqlite3_bind_text(statement_, next_++, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    return *this;
}

int SqliteStatement::Step()
{
    const int code = sqlite3_step(statement_);
    if (code != SQLITE_ROW)
        sqlite3_reset(statement_); // releases the read lock at once
    return code;
}

void SqliteStatement::Reset()
{
    sqlite3_reset(statement_);
}

int64_t SqliteStatement::Int(int column) const
{
    return sqlite3_column_int64(statement_, column);
}

std::string SqliteStatement::Text(int column) const
{
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement_, column));
    return text ? std::string(text, static_cast<size_t>(sqlite3_column_bytes(statement_, column))) : std::string();
}

} // namespace cantivo
