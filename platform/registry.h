#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/sqlite_connection.h"

namespace callsink {

enum class RegistryType : int { kString = 1, kDword = 4 };

struct RegistryValue {
  std::string name;
  RegistryType type = RegistryType::kString;
  std::string data;  // a DWORD is held as its decimal text
};

// A key tree with string and DWORD values, kept in one SQLite file. Keys are
// paths below HKEY_LOCAL_MACHINE written with backslashes
// ("Software\Vendor\Product"); names compare without regard to ASCII case.
// Every operation is atomic, also against other processes using the same
// file (WAL journal, busy timeout); Transaction groups several into one.
//
// One object belongs to one thread; threads that share a file each open
// their own object.
class Registry {
 public:
  enum class OpenMode {
    kExisting,  // the file must exist and hold a registry; nothing is created
    kCreate,    // create the file (mode 0600) and its folder (0700) if missing,
                // and the registry in an empty database
    kReadOnly,  // as kExisting, for reading only: the file may lie on a
                // read-only mount; every write fails
  };

  explicit Registry(std::string path);
  ~Registry();
  Registry(const Registry&) = delete;
  Registry& operator=(const Registry&) = delete;

  // Opens the file. On failure error() says why; the file is left untouched.
  bool Open(OpenMode mode);
  bool IsOpen() const { return static_cast<bool>(db_); }
  const std::string& path() const { return path_; }
  // The reason of the last failure, for messages.
  const std::string& error() const { return error_; }
  // Whether the last Open failed because this process lacks the rights to
  // the file or its folder (the store is root's).
  bool access_denied() const { return access_denied_; }

  // False also when the registry cannot be read (error() then says why).
  bool KeyExists(const std::string& key);
  // Creates the key and every missing parent. True when it exists afterwards.
  bool CreateKey(const std::string& key);
  // Deletes the key with all its subkeys and values; false when it is missing.
  bool DeleteKey(const std::string& key);

  // False when the key or the value is missing.
  bool QueryValue(const std::string& key, const std::string& name, std::string* data,
                  RegistryType* type = nullptr);
  // Sets a value of an existing key; false when the key is missing.
  bool SetValue(const std::string& key, const std::string& name, const std::string& data,
                RegistryType type = RegistryType::kString);
  bool DeleteValue(const std::string& key, const std::string& name);

  // Names of the direct subkeys (last path element), sorted.
  bool SubKeys(const std::string& key, std::vector<std::string>* names);
  // Values of the key, sorted by name.
  bool Values(const std::string& key, std::vector<RegistryValue>* values);
  // Every key of the tree, sorted.
  bool AllKeys(std::vector<std::string>* keys);

  // Runs `body` as one transaction: all of its changes become visible at once
  // when it returns true, none when it returns false or a commit fails. Reads
  // inside see one consistent snapshot.
  bool Transaction(const std::function<bool()>& body);
  // Runs `body`, which only reads, on one consistent snapshot without
  // holding up writers (and on a read-only file). False when `body` returns
  // false or a read inside it failed (busy past the timeout, I/O), rather
  // than found nothing; error() then says why.
  bool Read(const std::function<bool()>& body);

  // Strips leading and trailing backslashes: "\A\B\" -> "A\B".
  static std::string NormalizeKey(const std::string& key);

 private:
  bool Execute(const char* sql);
  // Checks that the database holds a registry; creates one in an empty
  // database when `mode` allows it.
  bool PrepareSchema(OpenMode mode);
  bool Fail(const std::string& what);
  // Sets the reason for a file that cannot be used, from errno.
  bool FailAccess(const std::string& what);
  // Opens the file through SQLite and checks (or makes) the registry.
  bool OpenDatabase(const std::string& name, int flags, OpenMode mode);
  bool EnsureKey(const std::string& key);

  const std::string path_;
  SqliteConnection db_;
  std::string error_;
  bool access_denied_ = false;
  // Counts the failed statements, so that Read can tell them from reads
  // that found nothing.
  int failures_ = 0;
  bool in_transaction_ = false;
};

}  // namespace callsink
