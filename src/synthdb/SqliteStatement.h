#pragma once

#include <cstdint>
#include <string>
#include <string_view>

struct sqlite3;
struct sqlite3_stmt;

namespace cantivo {

// A statement prepared once on an open connection and reused: each use binds, steps and resets it.
// Internal to the synth database.
class SqliteStatement {
  public:
    SqliteStatement() = default;
    SqliteStatement(sqlite3* db, const char* sql);
    ~SqliteStatement();
    SqliteStatement(SqliteStatement&& other) noexcept;
    SqliteStatement& operator=(SqliteStatement&& other) noexcept;
    SqliteStatement(const SqliteStatement&) = delete;
    SqliteStatement& operator=(const SqliteStatement&) = delete;

    bool Valid() const { return statement_ != nullptr; }
    // Clears the last use and binds from parameter 1 on.
    SqliteStatement& Start();
    SqliteStatement& Bind(int64_t value);
    SqliteStatement& Bind(std::string_view text);
    // SQLITE_ROW, SQLITE_DONE or an error code.
    int Step();
    // True when the statement ran to its end without error.
    bool Run() { return Step() == 101; /* SQLITE_DONE */ }
    // Ends a use early (after the one row wanted), so no read lock is held between look-ups.
    void Reset();
    int64_t Int(int column) const;
    std::string Text(int column) const;

  private:
    sqlite3_stmt* statement_ = nullptr;
    int next_ = 1;
};

} // namespace cantivo
