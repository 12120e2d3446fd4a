#include "Database.h"

#include <sqlite3.h>

namespace {

void check(sqlite3* db, int rc)
{
    if (rc != SQLITE_OK && rc != SQLITE_ROW && rc != SQLITE_DONE)
        throw DatabaseError(sqlite3_errmsg(db));
}

}

Statement::Statement(sqlite3* db, const std::string& sql)
    : m_db(db)
{
    check(m_db, sqlite3_prepare_v2(m_db, sql.c_str(), int(sql.size()), &m_stmt, nullptr));
}

Statement::~Statement()
{
    sqlite3_finalize(m_stmt);
}

Statement& Statement::bind(int index, const std::string& value)
{
    check(m_db, sqlite3_bind_text(m_stmt, index, value.data(), int(value.size()), SQLITE_TRANSIENT));
    return *this;
}

Statement& Statement::bind(int index, std::int64_t value)
{
    check(m_db, sqlite3_bind_int64(m_stmt, index, value));
    return *this;
}

Statement& Statement::bind(int index, const std::optional<std::string>& value)
{
    if (value)
        return bind(index, *value);
    check(m_db, sqlite3_bind_null(m_stmt, index));
    return *this;
}

Statement& Statement::bind(int index, const std::optional<bool>& value)
{
    if (value)
        return bind(index, *value);
    check(m_db, sqlite3_bind_null(m_stmt, index));
    return *this;
}

bool Statement::step()
{
    const int rc = sqlite3_step(m_stmt);
    check(m_db, rc);
    return rc == SQLITE_ROW;
}

void Statement::run()
{
    while (step()) { }
}

std::string Statement::text(int column) const
{
    const auto* data = reinterpret_cast<const char*>(sqlite3_column_text(m_stmt, column));
    return data ? std::string(data, size_t(sqlite3_column_bytes(m_stmt, column))) : std::string();
}

std::optional<std::string> Statement::optionalText(int column) const
{
    if (isNull(column))
        return std::nullopt;
    return text(column);
}

std::int64_t Statement::integer(int column) const
{
    return sqlite3_column_int64(m_stmt, column);
}

bool Statement::isNull(int column) const
{
    return sqlite3_column_type(m_stmt, column) == SQLITE_NULL;
}

Database::Database(const std::string& path)
{
    const std::string target = path.empty() ? std::string(":memory:") : path;
    if (sqlite3_open(target.c_str(), &m_db) != SQLITE_OK) {
        const std::string message = m_db ? sqlite3_errmsg(m_db) : "out of memory";
        sqlite3_close(m_db);
        throw DatabaseError("cannot open " + target + ": " + message);
    }
    sqlite3_busy_timeout(m_db, 5000);
    exec("PRAGMA foreign_keys = ON");
    if (!path.empty())
        exec("PRAGMA journal_mode = WAL");
}

Database::~Database()
{
    sqlite3_close(m_db);
}

void Database::exec(const std::string& sql)
{
    char* error = nullptr;
    if (sqlite3_exec(m_db, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
        const std::string message = error ? error : "unknown error";
        sqlite3_free(error);
        throw DatabaseError(message);
    }
}

std::int64_t Database::lastInsertId() const
{
    return sqlite3_last_insert_rowid(m_db);
}

int Database::changes() const
{
    return sqlite3_changes(m_db);
}
