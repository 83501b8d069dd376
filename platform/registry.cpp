#include "platform/registry.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/file_descriptor.h"
#include "platform/sqlite_statement.h"

namespace callsink {
namespace {

constexpr int kBusyTimeoutMs = 10000;

// A prefix match on key paths that ignores ASCII case, as NOCASE does.
constexpr const char* kUnderPrefix = "lower(substr(path, 1, length(?1))) = lower(?1)";

std::string ParentOf(const std::string& key) {
  const size_t slash = key.rfind('\\');
  return slash == std::string::npos ? std::string() : key.substr(0, slash);
}

bool MakeFolders(const std::string& file) {
  for (size_t slash = file.find('/', 1); slash != std::string::npos;
       slash = file.find('/', slash + 1)) {
    const std::string folder = file.substr(0, slash);
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return false;
  }
  return true;
}

// The collector's service runs as a user of its own, which owns the store's
// folder; a store that root's tools create there goes to that user, or the
// service could not open it (SQLite hands the journal files it creates as
// root to the database's owner the same way). `fd` is a file this process
// has just created, so no link can lead the change elsewhere.
void GiveToFolderOwner(int fd, const std::string& file) {
  if (geteuid() != 0) return;
  const std::string folder = file.substr(0, file.rfind('/') + 1);
  struct stat info {};
  if (stat(folder.empty() ? "." : folder.c_str(), &info) != 0 || info.st_uid == 0) return;
  if (fchown(fd, info.st_uid, info.st_gid) != 0) {
    // The store stays root's; the service then reports that it cannot read it.
  }
}

}  // namespace

Registry::Registry(std::string path) : path_(std::move(path)) {}

Registry::~Registry() = default;

std::string Registry::NormalizeKey(const std::string& key) {
  size_t begin = 0;
  size_t end = key.size();
  while (begin < end && key[begin] == '\\') ++begin;
  while (end > begin && key[end - 1] == '\\') --end;
  return key.substr(begin, end - begin);
}

bool Registry::Fail(const std::string& what) {
  ++failures_;
  error_ = what;
  if (db_ && sqlite3_errcode(db_.get()) != SQLITE_OK) {
    error_ += ": ";
    error_ += sqlite3_errmsg(db_.get());
  }
  return false;
}

bool Registry::Execute(const char* sql) {
  if (sqlite3_exec(db_.get(), sql, nullptr, nullptr, nullptr) != SQLITE_OK) {
    return Fail(std::string("registry statement failed (") + sql + ")");
  }
  return true;
}

bool Registry::FailAccess(const std::string& what) {
  access_denied_ = errno == EACCES || errno == EPERM;
  error_ = what + path_ + ": " + std::strerror(errno);
  return false;
}

bool Registry::Open(OpenMode mode) {
  if (db_) return true;
  access_denied_ = false;
  if (access(path_.c_str(), F_OK) != 0) {
    // Only a file that is really missing is missing: a folder this process
    // may not look into hides an existing store.
    if (errno != ENOENT) return FailAccess("cannot open registry file ");
    if (mode != OpenMode::kCreate) {
      error_ = "registry file " + path_ + " does not exist";
      return false;
    }
    if (!MakeFolders(path_)) return FailAccess("cannot create the folder of ");
    // Another process may have created it since; then that one is used.
    const FileDescriptor created(
        open(path_.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (!created.valid() && errno != EEXIST) return FailAccess("cannot create registry file ");
    if (created.valid()) GiveToFolderOwner(created.get(), path_);
  } else if (access(path_.c_str(), mode == OpenMode::kReadOnly ? R_OK : R_OK | W_OK) != 0) {
    return FailAccess("cannot open registry file ");
  }
  if (mode != OpenMode::kReadOnly) {
    return OpenDatabase(path_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, mode);
  }
  // A read-only mount has no room for the shared-memory file of the WAL
  // journal. Where another process keeps that file (it writes the store
  // through another mount), reading shares it; where nobody does, nobody
  // writes, and the file is read as it lies.
  std::string uri = "file:";
  for (const char c : path_) {
    if (c == '%' || c == '?' || c == '#') {
      static constexpr char kHex[] = "0123456789abcdef";
      const auto byte = static_cast<unsigned char>(c);
      uri += {'%', kHex[byte >> 4], kHex[byte & 15]};
    } else {
      uri += c;
    }
  }
  const int flags = SQLITE_OPEN_READONLY | SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX;
  return OpenDatabase(uri + "?mode=ro", flags, mode) ||
         OpenDatabase(uri + "?immutable=1", flags, mode);
}

bool Registry::OpenDatabase(const std::string& name, int flags, OpenMode mode) {
  sqlite3* handle = nullptr;
  // A handle comes back even when opening fails; it holds the reason.
  const int opened = sqlite3_open_v2(name.c_str(), &handle, flags, nullptr);
  db_ = SqliteConnection(handle);
  if (opened != SQLITE_OK) {
    Fail("cannot open registry file " + path_);
    db_.Close();
    return false;
  }
  sqlite3_busy_timeout(db_.get(), kBusyTimeoutMs);
  const bool prepared =
      PrepareSchema(mode) && (mode == OpenMode::kReadOnly || Execute("PRAGMA journal_mode=WAL"));
  if (!prepared) {
    error_ = path_ + " is not a usable registry file (" + error_ + ")";
    db_.Close();
    return false;
  }
  return true;
}

bool Registry::PrepareSchema(OpenMode mode) {
  // The first read proves the file is a database; nothing has been written
  // to it before this point.
  SqliteStatement tables(db_.get(),
                         "SELECT count(*), sum(name IN ('reg_keys', 'reg_values')) "
                         "FROM sqlite_master WHERE type = 'table'");
  if (!tables.NextRow()) return Fail("cannot read " + path_);
  const int all = tables.Int(0);
  const int ours = tables.Int(1);
  if (ours == 2) return true;
  // Only an empty database becomes a registry: another program's database
  // is left exactly as it is.
  if (mode != OpenMode::kCreate || all != 0) {
    error_ = "it holds no registry";
    return false;
  }
  return Execute(
      "CREATE TABLE IF NOT EXISTS reg_keys ("
      " path TEXT PRIMARY KEY COLLATE NOCASE);"
      "CREATE TABLE IF NOT EXISTS reg_values ("
      " key TEXT NOT NULL COLLATE NOCASE,"
      " name TEXT NOT NULL COLLATE NOCASE,"
      " type INTEGER NOT NULL,"
      " data TEXT NOT NULL,"
      " PRIMARY KEY (key, name));");
}

bool Registry::KeyExists(const std::string& key) {
  const std::string path = NormalizeKey(key);
  if (path.empty()) return static_cast<bool>(db_);
  SqliteStatement query(db_.get(), "SELECT 1 FROM reg_keys WHERE path = ?1");
  if (!query.ok()) return Fail("cannot read the registry");
  query.Bind(1, path);
  if (query.NextRow()) return true;
  if (query.failed()) Fail("cannot read the registry");
  return false;
}

bool Registry::EnsureKey(const std::string& path) {
  for (std::string key = path; !key.empty(); key = ParentOf(key)) {
    SqliteStatement insert(db_.get(), "INSERT OR IGNORE INTO reg_keys (path) VALUES (?1)");
    insert.Bind(1, key);
    if (!insert.Run()) return Fail("cannot create key " + key);
  }
  return true;
}

bool Registry::CreateKey(const std::string& key) {
  const std::string path = NormalizeKey(key);
  if (!db_) return Fail("registry not open");
  if (path.empty()) return true;
  if (in_transaction_) return EnsureKey(path);
  return Transaction([&] { return EnsureKey(path); });
}

bool Registry::DeleteKey(const std::string& key) {
  const std::string path = NormalizeKey(key);
  if (path.empty() || !KeyExists(path)) {
    error_ = "key " + path + " does not exist";
    return false;
  }
  auto remove = [&] {
    const std::string prefix = path + "\\";
    SqliteStatement keys(
        db_.get(),
        (std::string("DELETE FROM reg_keys WHERE path = ?2 OR ") + kUnderPrefix).c_str());
    keys.Bind(1, prefix);
    keys.Bind(2, path);
    SqliteStatement values(
        db_.get(),
        "DELETE FROM reg_values WHERE key = ?2 OR lower(substr(key, 1, length(?1))) = "
        "lower(?1)");
    values.Bind(1, prefix);
    values.Bind(2, path);
    if (!keys.Run() || !values.Run()) return Fail("cannot delete key " + path);
    return true;
  };
  if (in_transaction_) return remove();
  return Transaction(remove);
}

bool Registry::QueryValue(const std::string& key, const std::string& name, std::string* data,
                          RegistryType* type) {
  SqliteStatement query(db_.get(),
                        "SELECT type, data FROM reg_values WHERE key = ?1 AND name = ?2");
  if (!query.ok()) return Fail("cannot read the registry");
  query.Bind(1, NormalizeKey(key));
  query.Bind(2, name);
  if (!query.NextRow()) {
    if (query.failed()) return Fail("cannot read the registry");
    error_ = "value " + name + " of key " + NormalizeKey(key) + " does not exist";
    return false;
  }
  if (type != nullptr) *type = static_cast<RegistryType>(query.Int(0));
  if (data != nullptr) *data = query.Text(1);
  return true;
}

bool Registry::SetValue(const std::string& key, const std::string& name, const std::string& data,
                        RegistryType type) {
  const std::string path = NormalizeKey(key);
  // One statement, so the key test and the write cannot be split by a
  // concurrent delete of the key.
  SqliteStatement upsert(db_.get(),
                         "INSERT OR REPLACE INTO reg_values (key, name, type, data) "
                         "SELECT ?1, ?2, ?3, ?4 WHERE ?1 = '' OR EXISTS "
                         "(SELECT 1 FROM reg_keys WHERE path = ?1)");
  if (!upsert.ok()) return Fail("cannot write the registry");
  upsert.Bind(1, path);
  upsert.Bind(2, name);
  upsert.Bind(3, static_cast<int>(type));
  upsert.Bind(4, data);
  if (!upsert.Run()) return Fail("cannot set value " + name);
  if (sqlite3_changes(db_.get()) == 0) {
    error_ = "key " + path + " does not exist";
    return false;
  }
  return true;
}

bool Registry::DeleteValue(const std::string& key, const std::string& name) {
  SqliteStatement remove(db_.get(), "DELETE FROM reg_values WHERE key = ?1 AND name = ?2");
  if (!remove.ok()) return Fail("cannot write the registry");
  remove.Bind(1, NormalizeKey(key));
  remove.Bind(2, name);
  if (!remove.Run()) return Fail("cannot delete value " + name);
  if (sqlite3_changes(db_.get()) == 0) {
    error_ = "value " + name + " of key " + NormalizeKey(key) + " does not exist";
    return false;
  }
  return true;
}

bool Registry::SubKeys(const std::string& key, std::vector<std::string>* names) {
  const std::string path = NormalizeKey(key);
  const std::string prefix = path.empty() ? std::string() : path + "\\";
  SqliteStatement query(
      db_.get(), (std::string("SELECT substr(path, length(?1) + 1) FROM reg_keys "
                              "WHERE length(path) > length(?1) AND ") +
                  kUnderPrefix + " AND instr(substr(path, length(?1) + 1), '\\') = 0 ORDER BY 1")
                     .c_str());
  if (!query.ok()) return Fail("cannot read the registry");
  query.Bind(1, prefix);
  names->clear();
  while (query.NextRow()) names->push_back(query.Text(0));
  return true;
}

bool Registry::Values(const std::string& key, std::vector<RegistryValue>* values) {
  SqliteStatement query(db_.get(),
                        "SELECT name, type, data FROM reg_values WHERE key = ?1 ORDER BY name");
  if (!query.ok()) return Fail("cannot read the registry");
  query.Bind(1, NormalizeKey(key));
  values->clear();
  while (query.NextRow()) {
    values->push_back({query.Text(0), static_cast<RegistryType>(query.Int(1)), query.Text(2)});
  }
  return true;
}

bool Registry::AllKeys(std::vector<std::string>* keys) {
  SqliteStatement query(db_.get(), "SELECT path FROM reg_keys ORDER BY path");
  if (!query.ok()) return Fail("cannot read the registry");
  keys->clear();
  while (query.NextRow()) keys->push_back(query.Text(0));
  return true;
}

bool Registry::Transaction(const std::function<bool()>& body) {
  if (!db_) return Fail("registry not open");
  if (in_transaction_) return body();
  if (!Execute("BEGIN IMMEDIATE")) return false;
  in_transaction_ = true;
  const bool ok = body();
  in_transaction_ = false;
  if (ok && Execute("COMMIT")) return true;
  const std::string reason = error_;
  sqlite3_exec(db_.get(), "ROLLBACK", nullptr, nullptr, nullptr);
  error_ = reason;
  return false;
}

bool Registry::Read(const std::function<bool()>& body) {
  if (!db_) return Fail("registry not open");
  if (in_transaction_) return body();
  // Deferred: the snapshot begins with the first read and takes no write
  // lock, which a read-only file could not give.
  if (!Execute("BEGIN")) return false;
  in_transaction_ = true;
  const int failures_before = failures_;
  const bool ok = body() && failures_ == failures_before;
  in_transaction_ = false;
  sqlite3_exec(db_.get(), "COMMIT", nullptr, nullptr, nullptr);
  return ok;
}

}  // namespace callsink
