#include "platform/registry/sqlite_registry.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <limits>
#include <map>
#include <mutex>
#include <set>
#include <utility>
#include <vector>

#include "platform/core/error_codes.h"

namespace dovel::platform {
namespace {

constexpr const char* kDefaultStorePath = "/var/lib/dovel/registry.db";

// Marks a file as ours (PRAGMA application_id, "DVLR"), so that a store
// variable pointing at some other database never gets our tables added.
constexpr std::int64_t kApplicationId = 0x44564C52;
constexpr std::int64_t kFormatVersion = 1;

// Windows' own limits on names and nesting.
constexpr std::size_t kMaxKeyNameLength = 255;
constexpr std::size_t kMaxValueNameLength = 16383;
constexpr std::size_t kMaxDepth = 512;

constexpr const char* kSchema =
    "CREATE TABLE IF NOT EXISTS reg_key("
    "  id INTEGER PRIMARY KEY,"
    "  parent INTEGER NOT NULL,"  // 0 for a root
    "  name TEXT NOT NULL,"       // as first created
    "  folded TEXT NOT NULL,"     // the name as matched
    "  UNIQUE(parent, folded));"
    "CREATE TABLE IF NOT EXISTS reg_value("
    "  key INTEGER NOT NULL REFERENCES reg_key(id),"
    "  name TEXT NOT NULL,"
    "  folded TEXT NOT NULL,"
    "  type INTEGER NOT NULL CHECK(type BETWEEN 0 AND 4294967295),"
    "  data BLOB NOT NULL,"
    "  UNIQUE(key, folded));"
    "PRAGMA application_id = 1146506322;"
    "PRAGMA user_version = 1;";

// Names match the way the 8-bit registry calls fold them: ASCII and Latin-1
// capitals fold to small letters; everything else is compared as is.
std::string Fold(std::string_view name) {
  std::string folded(name);
  for (char& c : folded) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte >= 'A' && byte <= 'Z') || (byte >= 0xC0 && byte <= 0xDE && byte != 0xD7)) {
      c = static_cast<char>(byte + 0x20);
    }
  }
  return folded;
}

std::string_view UpToNul(std::string_view name) {
  const auto nul = name.find('\0');
  return nul == std::string_view::npos ? name : name.substr(0, nul);
}

std::error_code SplitKeyPath(std::string_view path, std::vector<std::string>& parts) {
  path = UpToNul(path);
  if (path.empty()) return {};
  std::size_t start = 0;
  while (true) {
    const std::size_t end = std::min(path.find('\\', start), path.size());
    const std::string_view part = path.substr(start, end - start);
    if (part.empty()) return SystemError::kBadPathname;
    if (part.size() > kMaxKeyNameLength || parts.size() >= kMaxDepth) return SystemError::kInvalidParameter;
    parts.emplace_back(part);
    if (end == path.size()) return {};
    start = end + 1;
  }
}

// The path shown in a message: control characters would break the line.
std::string Printable(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  }
  return out;
}

// There is no error log this early in start-up, so a store that cannot be
// used is named on stderr, once per file, and left for the administrator.
void WarnUnusable(const std::string& path, std::string_view reason) {
  static std::mutex mutex;
  static std::set<std::string> warned;
  {
    std::lock_guard lock(mutex);
    if (!warned.insert(path).second) return;
  }
  std::fprintf(
      stderr,
      "dovel: registry store %s is unusable (%s); settings fall back to defaults and the file is left unchanged\n",
      Printable(path).c_str(), Printable(reason).c_str());
}

std::error_code StatusFromErrno(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR: return SystemError::kPathNotFound;
    case ENOSPC:
    case EDQUOT: return SystemError::kDiskFull;
    case ENOMEM: return SystemError::kRegistryOutOfMemory;
    default: return SystemError::kAccessDenied;
  }
}

std::error_code StatusFromSqlite(int rc) {
  switch (rc & 0xFF) {
    case SQLITE_OK:
    case SQLITE_ROW:
    case SQLITE_DONE: return {};
    case SQLITE_BUSY:
    case SQLITE_LOCKED: return SystemError::kLockViolation;
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH:
    case SQLITE_CANTOPEN: return SystemError::kAccessDenied;
    case SQLITE_NOMEM: return SystemError::kRegistryOutOfMemory;
    case SQLITE_FULL: return SystemError::kDiskFull;
    case SQLITE_TOOBIG: return SystemError::kInvalidParameter;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
    case SQLITE_FORMAT: return SystemError::kRegistryCorrupt;
    default: return SystemError::kRegistryIoFailed;
  }
}

// The one place each SQLite handle is given back: a statement is finalized
// and a connection closed exactly once, whichever way the code leaves.
struct FinalizeStatement {
  // Finalizing repeats the last step's result, which was handled there.
  void operator()(sqlite3_stmt* statement) const noexcept { sqlite3_finalize(statement); }
};

struct CloseConnection {
  // The _v2 close always succeeds: statements still open only delay it.
  void operator()(sqlite3* db) const noexcept { sqlite3_close_v2(db); }
};

using Connection = std::unique_ptr<sqlite3, CloseConnection>;

// SQLite hands back a connection even when opening fails, to say why; it is
// owned all the same.
int OpenConnection(const std::string& name, int flags, Connection& db) {
  sqlite3* opened = nullptr;
  const int rc = sqlite3_open_v2(name.c_str(), &opened, flags, nullptr);
  db.reset(opened);
  return rc;
}

class Statement {
 public:
  Statement(sqlite3* db, const char* sql) {
    sqlite3_stmt* prepared = nullptr;
    rc_ = sqlite3_prepare_v2(db, sql, -1, &prepared, nullptr);
    stmt_.reset(prepared);
  }

  int prepared() const { return rc_; }
  sqlite3_stmt* get() const { return stmt_.get(); }

  void Bind(int index, std::int64_t value) { Bound(sqlite3_bind_int64(get(), index, value)); }
  // SQLite binds NULL for a null pointer, and an empty view may have one.
  void Bind(int index, std::string_view text) {
    Bound(sqlite3_bind_text(get(), index, text.empty() ? "" : text.data(), static_cast<int>(text.size()),
                            SQLITE_TRANSIENT));
  }
  void BindBytes(int index, const std::uint8_t* data, std::uint32_t size) {
    if (size == 0) {
      Bound(sqlite3_bind_zeroblob(get(), index, 0));
    } else {
      Bound(sqlite3_bind_blob64(get(), index, data, size, SQLITE_TRANSIENT));
    }
  }
  int Step() { return rc_ != SQLITE_OK ? rc_ : sqlite3_step(get()); }
  void Reset() {
    // Resetting repeats the last step's result, which was handled there.
    sqlite3_reset(get());
    sqlite3_clear_bindings(get());
  }

 private:
  // A value that could not be bound would be looked up as NULL, and a
  // setting that is there would read as missing: the next step fails with
  // the bind's error instead.
  void Bound(int rc) {
    if (rc_ == SQLITE_OK && rc != SQLITE_OK) rc_ = rc;
  }

  std::unique_ptr<sqlite3_stmt, FinalizeStatement> stmt_;
  int rc_ = SQLITE_OK;
};

// One connection to one store file, for one read or one write transaction.
class Store {
 public:
  Store(std::string path, int busy_timeout_ms) : path_(std::move(path)), busy_timeout_ms_(busy_timeout_ms) {}
  ~Store() {
    // The last connection to close folds the log back into the file; a
    // write that did not commit must leave the store exactly as it found it.
    if (db() != nullptr && writing_ && !committed_) {
      sqlite3_db_config(db(), SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
    }
    // The connection closes after this; an open transaction rolls back.
  }
  Store(const Store&) = delete;
  Store& operator=(const Store&) = delete;

  // Success inside a read transaction; kFileNotFound when there is no store
  // (yet).
  std::error_code BeginRead();
  // Success inside an immediate write transaction on a sound store.
  std::error_code BeginWrite();
  std::error_code Commit() {
    const int rc = sqlite3_exec(db(), "COMMIT", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) return Fail(rc);
    committed_ = true;
    return {};
  }

  // The status for a failed SQLite call, naming the file on stderr when the
  // failure shows the file itself cannot be used.
  std::error_code Fail(int rc);

  // The key's row; kFileNotFound when the key or one above it is missing.
  // With `create` the missing keys are made, in the case given.
  std::error_code FindKey(RegistryKey root, const std::vector<std::string>& path, bool create, std::int64_t& id);

  sqlite3* db() const { return connection_.get(); }

 private:
  std::error_code Open(int flags);
  std::error_code QueryInt(const char* sql, std::int64_t& value);
  // Success for our store, kFileNotFound for an empty file,
  // kRegistryCorrupt (warned) for anything else.
  std::error_code CheckIdentity();
  // Success when SQLite's quick check finds the file sound,
  // kRegistryCorrupt (warned) if not.
  std::error_code QuickCheck();
  // Decides whether an existing file may be written, through a connection
  // that writes nothing at all, not even the log's -shm index: success for a
  // sound store of ours, kFileNotFound for a file with nothing in it yet,
  // otherwise the status.
  std::error_code Inspect();
  std::error_code EnsureDirectory();

  std::string path_;
  int busy_timeout_ms_;
  bool writing_ = false;
  bool committed_ = false;
  Connection connection_;
};

std::error_code Store::Fail(int rc) {
  const int primary = rc & 0xFF;
  const bool damaged = primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB || primary == SQLITE_FORMAT;
  // A reader that cannot get at the file at all (permissions, I/O, missing
  // tables in a file marked as ours) has found something to look into too;
  // a writer that is merely refused has not.
  // Running out of descriptors or memory says nothing about the file.
  const int system_error = db() != nullptr ? sqlite3_system_errno(db()) : 0;
  const bool out_of_resources = system_error == EMFILE || system_error == ENFILE || system_error == ENOMEM;
  const bool unreadable = !writing_ && !out_of_resources && primary != SQLITE_BUSY && primary != SQLITE_LOCKED &&
                          primary != SQLITE_NOMEM && primary != SQLITE_OK && primary != SQLITE_ROW &&
                          primary != SQLITE_DONE;
  if (damaged || unreadable) {
    WarnUnusable(path_, db() != nullptr ? sqlite3_errmsg(db()) : sqlite3_errstr(rc));
  }
  return StatusFromSqlite(rc);
}

// The store's path as an SQLite URI, every byte that could end or change
// the path escaped.
std::string FileUri(const std::string& path) {
  std::string uri = path.starts_with('/') ? "file:" : "file:./";
  for (const char c : path) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte <= 0x20 || byte >= 0x7F || c == '%' || c == '?' || c == '#') {
      char escaped[4];
      std::snprintf(escaped, sizeof escaped, "%%%02X", byte);
      uri += escaped;
    } else {
      uri += c;
    }
  }
  return uri;
}

std::error_code Store::Open(int flags) {
  // A name starting "file:" must stay a file name, never become a URI.
  const std::string name = (flags & SQLITE_OPEN_URI) != 0 ? path_ : path_.starts_with('/') ? path_ : "./" + path_;
  const int rc = OpenConnection(name, flags | SQLITE_OPEN_NOMUTEX, connection_);
  if (rc != SQLITE_OK) return Fail(rc);
  sqlite3_busy_timeout(db(), busy_timeout_ms_);
  // The file may have been written by anyone: no triggers, views or schema
  // tricks of theirs run in this process.
  sqlite3_db_config(db(), SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
  sqlite3_db_config(db(), SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
  sqlite3_db_config(db(), SQLITE_DBCONFIG_ENABLE_TRIGGER, 0, nullptr);
  sqlite3_db_config(db(), SQLITE_DBCONFIG_ENABLE_VIEW, 0, nullptr);
  return {};
}

std::error_code Store::QueryInt(const char* sql, std::int64_t& value) {
  Statement statement(db(), sql);
  if (statement.prepared() != SQLITE_OK) return Fail(statement.prepared());
  const int rc = statement.Step();
  if (rc != SQLITE_ROW) return Fail(rc == SQLITE_DONE ? SQLITE_CORRUPT : rc);
  value = sqlite3_column_int64(statement.get(), 0);
  return {};
}

std::error_code Store::CheckIdentity() {
  std::int64_t application_id = 0;
  std::int64_t version = 0;
  std::int64_t objects = 0;
  if (const auto s = QueryInt("PRAGMA application_id", application_id)) return s;
  if (const auto s = QueryInt("PRAGMA user_version", version)) return s;
  if (const auto s = QueryInt("SELECT count(*) FROM sqlite_master", objects)) return s;
  if (application_id == 0 && version == 0 && objects == 0) return SystemError::kFileNotFound;
  if (application_id != kApplicationId) {
    WarnUnusable(path_, "not a registry store");
    return SystemError::kRegistryCorrupt;
  }
  if (version != kFormatVersion) {
    WarnUnusable(path_, "unknown registry store format " + std::to_string(version));
    return SystemError::kRegistryCorrupt;
  }
  return {};
}

std::error_code Store::QuickCheck() {
  // A damaged page must not be written over: what is left of the settings
  // is the administrator's to rescue.
  Statement check(db(), "PRAGMA quick_check(1)");
  if (check.prepared() != SQLITE_OK) return Fail(check.prepared());
  const int rc = check.Step();
  if (rc != SQLITE_ROW) return Fail(rc);
  const auto* verdict = reinterpret_cast<const char*>(sqlite3_column_text(check.get(), 0));
  if (verdict == nullptr || std::strcmp(verdict, "ok") != 0) {
    WarnUnusable(path_, std::string("integrity check: ") + (verdict != nullptr ? verdict : "no answer"));
    return SystemError::kRegistryCorrupt;
  }
  return {};
}

std::error_code Store::Inspect() {
  // readonly_shm: the index is mapped read-only, or rebuilt in this
  // process's own memory when it needs rebuilding.
  const std::string real_path = std::exchange(path_, FileUri(path_) + "?mode=ro&readonly_shm=1");
  const std::error_code opened = Open(SQLITE_OPEN_READONLY | SQLITE_OPEN_URI);
  path_ = real_path;
  if (opened) return opened;
  if (const int rc = sqlite3_exec(db(), "BEGIN", nullptr, nullptr, nullptr); rc != SQLITE_OK) return Fail(rc);
  if (const auto s = CheckIdentity()) return s;
  return QuickCheck();
}

std::error_code Store::BeginRead() {
  struct stat info {};
  if (stat(path_.c_str(), &info) != 0) {
    if (errno == ENOENT || errno == ENOTDIR) return SystemError::kFileNotFound;
    WarnUnusable(path_, std::strerror(errno));
    return StatusFromErrno(errno);
  }
  if (!S_ISREG(info.st_mode)) {
    WarnUnusable(path_, "not a regular file");
    return SystemError::kRegistryCorrupt;
  }
  if (const auto s = Open(SQLITE_OPEN_READONLY)) return s;
  if (const int rc = sqlite3_exec(db(), "BEGIN", nullptr, nullptr, nullptr); rc != SQLITE_OK) return Fail(rc);
  return CheckIdentity();
}

std::error_code Store::EnsureDirectory() {
  const auto slash = path_.rfind('/');
  if (slash == std::string::npos || slash == 0) return {};
  const std::string directory = path_.substr(0, slash);
  for (std::size_t at = directory.find('/', 1);; at = directory.find('/', at + 1)) {
    const std::string prefix = directory.substr(0, at);
    if (mkdir(prefix.c_str(), 0755) != 0 && errno != EEXIST) return StatusFromErrno(errno);
    if (at == std::string::npos) break;
  }
  struct stat info {};
  if (stat(directory.c_str(), &info) != 0) return StatusFromErrno(errno);
  if (!S_ISDIR(info.st_mode)) return StatusFromErrno(ENOTDIR);
  return {};
}

std::error_code Store::BeginWrite() {
  writing_ = true;
  if (const auto s = EnsureDirectory()) return s;
  struct stat info {};
  if (stat(path_.c_str(), &info) == 0) {
    if (!S_ISREG(info.st_mode)) {
      WarnUnusable(path_, "not a regular file");
      return SystemError::kRegistryCorrupt;
    }
    // Whose file this is, and whether it is sound, is settled before it is
    // opened for writing: closing a writing connection may fold the log
    // into the file, and a refused write must leave all three files as
    // they were.
    if (info.st_size > 0) {
      Store inspector(path_, busy_timeout_ms_);
      if (const auto s = inspector.Inspect(); s && s != SystemError::kFileNotFound) return s;
    }
  }
  if (const auto s = Open(SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE)) return s;
  // SQLite quietly opens a file it may not write read-only.
  if (sqlite3_db_readonly(db(), "main") == 1) return SystemError::kAccessDenied;
  // Readers open the store read-only, and a read-only connection can read a
  // WAL store only while its -wal and -shm files exist: keep them.
  // Whose file this is is settled before anything is written to it, even
  // the switch to WAL.
  // One read transaction, so the three facts come from one snapshot: another
  // process creating the store meanwhile must not look like a foreign file.
  if (const int rc = sqlite3_exec(db(), "BEGIN", nullptr, nullptr, nullptr); rc != SQLITE_OK) return Fail(rc);
  const std::error_code owner = CheckIdentity();
  sqlite3_exec(db(), "ROLLBACK", nullptr, nullptr, nullptr);
  if (owner && owner != SystemError::kFileNotFound) return owner;

  int persist = 1;
  sqlite3_file_control(db(), "main", SQLITE_FCNTL_PERSIST_WAL, &persist);
  // ...but keep the -wal file short once its pages are back in the store.
  sqlite3_exec(db(), "PRAGMA journal_size_limit = 0", nullptr, nullptr, nullptr);

  bool in_wal = false;
  {
    // Finished before the switch below: a running statement would hold
    // the read transaction that forbids it.
    Statement mode(db(), "PRAGMA journal_mode");
    if (mode.prepared() != SQLITE_OK) return Fail(mode.prepared());
    const int rc = mode.Step();
    if (rc != SQLITE_ROW) return Fail(rc);
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(mode.get(), 0));
    in_wal = text != nullptr && std::strcmp(text, "wal") == 0;
  }
  if (!in_wal) {
    Statement to_wal(db(), "PRAGMA journal_mode=WAL");
    const int switched = to_wal.prepared() == SQLITE_OK ? to_wal.Step() : to_wal.prepared();
    // Another process switching at the same moment is as good.
    if (switched != SQLITE_ROW && (switched & 0xFF) != SQLITE_BUSY) return Fail(switched);
  }

  if (const int rc = sqlite3_exec(db(), "BEGIN IMMEDIATE", nullptr, nullptr, nullptr); rc != SQLITE_OK) return Fail(rc);
  const std::error_code identity = CheckIdentity();
  if (identity == SystemError::kFileNotFound) {
    const int rc = sqlite3_exec(db(), kSchema, nullptr, nullptr, nullptr);
    return rc == SQLITE_OK ? std::error_code() : Fail(rc);
  }
  if (identity) return identity;

  return {};
}

std::error_code Store::FindKey(RegistryKey root, const std::vector<std::string>& path, bool create, std::int64_t& id) {
  Statement find(db(), "SELECT id FROM reg_key WHERE parent = ?1 AND folded = ?2");
  if (find.prepared() != SQLITE_OK) return Fail(find.prepared());
  std::int64_t current = 0;
  auto descend = [&](std::string_view name) -> std::error_code {
    find.Reset();
    find.Bind(1, current);
    find.Bind(2, Fold(name));
    const int rc = find.Step();
    if (rc == SQLITE_ROW) {
      current = sqlite3_column_int64(find.get(), 0);
      return {};
    }
    if (rc != SQLITE_DONE) return Fail(rc);
    if (!create) return SystemError::kFileNotFound;
    Statement insert(db(), "INSERT INTO reg_key(parent, name, folded) VALUES(?1, ?2, ?3)");
    if (insert.prepared() != SQLITE_OK) return Fail(insert.prepared());
    insert.Bind(1, current);
    insert.Bind(2, name);
    insert.Bind(3, Fold(name));
    if (const int inserted = insert.Step(); inserted != SQLITE_DONE) return Fail(inserted);
    current = sqlite3_last_insert_rowid(db());
    return {};
  };
  if (const auto s = descend(RegistryRootName(root))) return s;
  for (const auto& part : path) {
    if (const auto s = descend(part)) return s;
  }
  id = current;
  return {};
}

bool IsPredefinedRoot(RegistryKey key) { return !RegistryRootName(key).empty(); }

}  // namespace

std::string RegistryStorePath() {
  const char* chosen = std::getenv("DOVEL_REGISTRY");
  return chosen != nullptr && *chosen != '\0' ? std::string(chosen) : std::string(kDefaultStorePath);
}

struct SqliteRegistry::Impl {
  // What an open handle stands for: a key path in one store file.
  struct Entry {
    std::string database;
    RegistryKey root = 0;
    std::vector<std::string> path;
  };

  explicit Impl(Options chosen) : options(std::move(chosen)) {}

  // The entry for a key below `parent` (a root or an open handle).
  std::error_code Resolve(RegistryKey parent, std::string_view sub_key, Entry& entry) {
    std::vector<std::string> parts;
    if (IsPredefinedRoot(parent)) {
      entry.root = parent;
    } else {
      std::lock_guard lock(mutex);
      const auto found = handles.find(parent);
      if (found == handles.end()) return SystemError::kInvalidHandle;
      entry = found->second;
    }
    if (const auto s = SplitKeyPath(sub_key, parts)) return s;
    if (entry.path.size() + parts.size() > kMaxDepth) return SystemError::kInvalidParameter;
    entry.path.insert(entry.path.end(), parts.begin(), parts.end());
    if (IsPredefinedRoot(parent)) entry.database = options.database_path();
    return {};
  }

  std::error_code Lookup(RegistryKey key, Entry& entry) {
    std::lock_guard lock(mutex);
    const auto found = handles.find(key);
    if (found == handles.end()) return SystemError::kInvalidHandle;
    entry = found->second;
    return {};
  }

  std::error_code Issue(Entry entry, RegistryKey& key) {
    std::lock_guard lock(mutex);
    if (handles.size() >= kMaxOpenHandles) return SystemError::kNoSystemResources;
    do {
      next += 4;
      if (next == 0 || IsPredefinedRoot(next)) next = 0x1000;
    } while (handles.count(next) != 0);
    handles.emplace(next, std::move(entry));
    key = next;
    return {};
  }

  Options options;
  mutable std::mutex mutex;
  std::map<RegistryKey, Entry> handles;
  RegistryKey next = 0x1000;
};

SqliteRegistry::SqliteRegistry() : SqliteRegistry(Options{}) {}
SqliteRegistry::SqliteRegistry(Options options) : impl_(std::make_unique<Impl>(std::move(options))) {}
SqliteRegistry::~SqliteRegistry() = default;

std::error_code SqliteRegistry::OpenKey(RegistryKey root, std::string_view sub_key, RegistryKey& key) {
  key = 0;
  Impl::Entry entry;
  if (const auto s = impl_->Resolve(root, sub_key, entry)) return s;
  // A root always exists, even before its store does.
  if (!entry.path.empty()) {
    Store store(entry.database, impl_->options.busy_timeout_ms);
    if (const auto s = store.BeginRead()) return s;
    std::int64_t id = 0;
    if (const auto s = store.FindKey(entry.root, entry.path, false, id)) return s;
  }
  return impl_->Issue(std::move(entry), key);
}

std::error_code SqliteRegistry::CreateKey(RegistryKey root, std::string_view sub_key, RegistryKey& key) {
  key = 0;
  Impl::Entry entry;
  if (const auto s = impl_->Resolve(root, sub_key, entry)) return s;
  Store store(entry.database, impl_->options.busy_timeout_ms);
  if (const auto s = store.BeginWrite()) return s;
  std::int64_t id = 0;
  if (const auto s = store.FindKey(entry.root, entry.path, true, id)) return s;
  if (const auto s = store.Commit()) return s;
  return impl_->Issue(std::move(entry), key);
}

std::error_code SqliteRegistry::QueryValue(RegistryKey key, std::string_view value_name, std::uint32_t* type,
                                           std::uint8_t* data, std::uint32_t* size) {
  if (data != nullptr && size == nullptr) return SystemError::kInvalidParameter;
  Impl::Entry entry;
  if (const auto s = impl_->Lookup(key, entry)) return s;
  value_name = UpToNul(value_name);
  if (value_name.size() > kMaxValueNameLength) return SystemError::kFileNotFound;

  Store store(entry.database, impl_->options.busy_timeout_ms);
  if (const auto s = store.BeginRead()) return s;
  std::int64_t id = 0;
  if (const auto s = store.FindKey(entry.root, entry.path, false, id)) return s;
  Statement select(store.db(), "SELECT type, data FROM reg_value WHERE key = ?1 AND folded = ?2");
  if (select.prepared() != SQLITE_OK) return store.Fail(select.prepared());
  select.Bind(1, id);
  select.Bind(2, Fold(value_name));
  const int rc = select.Step();
  if (rc == SQLITE_DONE) return SystemError::kFileNotFound;
  if (rc != SQLITE_ROW) return store.Fail(rc);

  // Another process wrote this row: check it before believing it.
  const std::int64_t stored_type = sqlite3_column_int64(select.get(), 0);
  if (stored_type < 0 || stored_type > std::numeric_limits<std::uint32_t>::max()) return store.Fail(SQLITE_CORRUPT);
  const void* bytes = sqlite3_column_blob(select.get(), 1);
  const int length = sqlite3_column_bytes(select.get(), 1);
  if (length < 0 || (length > 0 && bytes == nullptr)) return store.Fail(sqlite3_errcode(store.db()));
  const auto needed = static_cast<std::uint32_t>(length);

  if (type != nullptr) *type = static_cast<std::uint32_t>(stored_type);
  if (data != nullptr) {
    if (*size < needed) {
      *size = needed;
      return SystemError::kMoreData;
    }
    if (needed > 0) std::memcpy(data, bytes, needed);
  }
  if (size != nullptr) *size = needed;
  return {};
}

std::error_code SqliteRegistry::SetValue(RegistryKey key, std::string_view value_name, std::uint32_t type,
                                         const std::uint8_t* data, std::uint32_t size) {
  if (data == nullptr && size != 0) return SystemError::kInvalidParameter;
  Impl::Entry entry;
  if (const auto s = impl_->Lookup(key, entry)) return s;
  value_name = UpToNul(value_name);
  if (value_name.size() > kMaxValueNameLength) return SystemError::kInvalidParameter;

  Store store(entry.database, impl_->options.busy_timeout_ms);
  if (const auto s = store.BeginWrite()) return s;
  std::int64_t id = 0;
  // A root comes into being with its first value; any other key must still
  // be there.
  const std::error_code found = store.FindKey(entry.root, entry.path, entry.path.empty(), id);
  if (found == SystemError::kFileNotFound) return SystemError::kKeyDeleted;
  if (found) return found;
  Statement upsert(store.db(),
                   "INSERT INTO reg_value(key, name, folded, type, data) VALUES(?1, ?2, ?3, ?4, ?5) "
                   "ON CONFLICT(key, folded) DO UPDATE SET type = excluded.type, data = excluded.data");
  if (upsert.prepared() != SQLITE_OK) return store.Fail(upsert.prepared());
  upsert.Bind(1, id);
  upsert.Bind(2, value_name);
  upsert.Bind(3, Fold(value_name));
  upsert.Bind(4, static_cast<std::int64_t>(type));
  upsert.BindBytes(5, data, size);
  if (const int rc = upsert.Step(); rc != SQLITE_DONE) return store.Fail(rc);
  return store.Commit();
}

std::error_code SqliteRegistry::DeleteValue(RegistryKey key, std::string_view value_name) {
  Impl::Entry entry;
  if (const auto s = impl_->Lookup(key, entry)) return s;
  value_name = UpToNul(value_name);
  // Look first, so that deleting nothing never needs write access.
  {
    Store reader(entry.database, impl_->options.busy_timeout_ms);
    if (const auto s = reader.BeginRead()) return s;
    std::int64_t id = 0;
    if (const auto s = reader.FindKey(entry.root, entry.path, false, id)) return s;
    Statement select(reader.db(), "SELECT 1 FROM reg_value WHERE key = ?1 AND folded = ?2");
    if (select.prepared() != SQLITE_OK) return reader.Fail(select.prepared());
    select.Bind(1, id);
    select.Bind(2, Fold(value_name));
    const int rc = select.Step();
    if (rc == SQLITE_DONE) return SystemError::kFileNotFound;
    if (rc != SQLITE_ROW) return reader.Fail(rc);
  }
  Store store(entry.database, impl_->options.busy_timeout_ms);
  if (const auto s = store.BeginWrite()) return s;
  std::int64_t id = 0;
  if (const auto s = store.FindKey(entry.root, entry.path, false, id)) return s;
  Statement remove(store.db(), "DELETE FROM reg_value WHERE key = ?1 AND folded = ?2");
  if (remove.prepared() != SQLITE_OK) return store.Fail(remove.prepared());
  remove.Bind(1, id);
  remove.Bind(2, Fold(value_name));
  if (const int rc = remove.Step(); rc != SQLITE_DONE) return store.Fail(rc);
  if (sqlite3_changes(store.db()) == 0) return SystemError::kFileNotFound;
  return store.Commit();
}

namespace {

// Opens `key`'s store for reading and finds the key's row, for listing it:
// a store that does not exist yet, or a root with no row yet, has nothing to
// list (kNoMoreItems); a key that vanished is reported as missing.
std::error_code OpenForListing(Store& store, RegistryKey root, const std::vector<std::string>& path, std::int64_t& id) {
  if (const auto s = store.BeginRead()) return s == SystemError::kFileNotFound ? SystemError::kNoMoreItems : s;
  if (const auto s = store.FindKey(root, path, false, id)) {
    return s == SystemError::kFileNotFound && path.empty() ? SystemError::kNoMoreItems : s;
  }
  return {};
}

// The index-th row of a listing `query` (?1 the key's row, ?2 the index),
// handed to `read`; kNoMoreItems past the last one.
std::error_code ListingRow(Store& store, RegistryKey root, const std::vector<std::string>& path, std::uint32_t index,
                           const char* query, const std::function<std::error_code(sqlite3_stmt*)>& read) {
  std::int64_t id = 0;
  if (const auto s = OpenForListing(store, root, path, id)) return s;
  Statement select(store.db(), query);
  if (select.prepared() != SQLITE_OK) return store.Fail(select.prepared());
  select.Bind(1, id);
  select.Bind(2, static_cast<std::int64_t>(index));
  const int rc = select.Step();
  if (rc == SQLITE_DONE) return SystemError::kNoMoreItems;
  if (rc != SQLITE_ROW) return store.Fail(rc);
  return read(select.get());
}

std::string ColumnText(sqlite3_stmt* row, int column) {
  const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(row, column));
  return std::string(text != nullptr ? text : "", static_cast<std::size_t>(sqlite3_column_bytes(row, column)));
}

}  // namespace

std::error_code SqliteRegistry::EnumKey(RegistryKey key, std::uint32_t index, std::string& name) {
  Impl::Entry entry;
  if (const auto s = impl_->Lookup(key, entry)) return s;
  Store store(entry.database, impl_->options.busy_timeout_ms);
  return ListingRow(store, entry.root, entry.path, index,
                    "SELECT name FROM reg_key WHERE parent = ?1 ORDER BY folded, id LIMIT 1 OFFSET ?2",
                    [&](sqlite3_stmt* row) -> std::error_code {
                      name = ColumnText(row, 0);
                      return {};
                    });
}

std::error_code SqliteRegistry::EnumValue(RegistryKey key, std::uint32_t index, std::string& name,
                                          std::uint32_t& type) {
  Impl::Entry entry;
  if (const auto s = impl_->Lookup(key, entry)) return s;
  Store store(entry.database, impl_->options.busy_timeout_ms);
  return ListingRow(store, entry.root, entry.path, index,
                    "SELECT name, type FROM reg_value WHERE key = ?1 ORDER BY rowid LIMIT 1 OFFSET ?2",
                    [&](sqlite3_stmt* row) -> std::error_code {
                      const std::int64_t stored_type = sqlite3_column_int64(row, 1);
                      if (stored_type < 0 || stored_type > std::numeric_limits<std::uint32_t>::max()) {
                        return store.Fail(SQLITE_CORRUPT);
                      }
                      name = ColumnText(row, 0);
                      type = static_cast<std::uint32_t>(stored_type);
                      return {};
                    });
}

std::error_code SqliteRegistry::CloseKey(RegistryKey key) {
  if (IsPredefinedRoot(key)) return {};
  std::lock_guard lock(impl_->mutex);
  if (impl_->handles.erase(key) != 1) return SystemError::kInvalidHandle;
  return {};
}

std::size_t SqliteRegistry::OpenHandleCount() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->handles.size();
}

std::error_code CheckRegistryStore(const std::string& path, std::string& detail) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) {
    detail = std::strerror(errno);
    return errno == ENOENT || errno == ENOTDIR ? SystemError::kFileNotFound : SystemError::kRegistryCorrupt;
  }
  Connection db;
  const std::string name = path.starts_with('/') ? path : "./" + path;
  int rc = OpenConnection(name, SQLITE_OPEN_READONLY, db);
  std::error_code result = SystemError::kRegistryCorrupt;
  if (rc == SQLITE_OK) {
    sqlite3_db_config(db.get(), SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
    sqlite3_db_config(db.get(), SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
    detail.clear();
    {
      Statement check(db.get(), "PRAGMA integrity_check");
      rc = check.prepared();
      while (rc == SQLITE_OK || rc == SQLITE_ROW) {
        rc = check.Step();
        if (rc != SQLITE_ROW) break;
        const auto* line = reinterpret_cast<const char*>(sqlite3_column_text(check.get(), 0));
        if (!detail.empty()) detail += "; ";
        detail += line != nullptr ? line : "";
      }
    }
    if (rc != SQLITE_DONE) {
      detail = sqlite3_errmsg(db.get());
    } else if (detail == "ok") {
      Statement identity(db.get(), "PRAGMA application_id");
      if (identity.prepared() == SQLITE_OK && identity.Step() == SQLITE_ROW &&
          sqlite3_column_int64(identity.get(), 0) == kApplicationId) {
        result = {};
      } else {
        detail = "not a registry store";
      }
    }
  } else {
    detail = db != nullptr ? sqlite3_errmsg(db.get()) : sqlite3_errstr(rc);
  }
  return result;
}

}  // namespace dovel::platform
