// Share modes.
//
// Windows decides at open time whether a file may be opened again: every open names the access
// it wants (read, write, delete) and the access it lets later opens have (FILE_SHARE_READ,
// FILE_SHARE_WRITE, FILE_SHARE_DELETE). A new open fails with ERROR_SHARING_VIOLATION when
//   - it wants an access that an open handle does not share, or
//   - an open handle holds an access that the new open does not share.
// Opens that want none of read, write or delete take no part. DeleteFileW counts as an open for
// delete that shares everything, so it fails while a handle lacks FILE_SHARE_DELETE.
//
// POSIX has no such rule, so this table keeps it: every handle this module opens is recorded
// under the file's (st_dev, st_ino) with its access and share bits, and every open and delete
// is checked against the records. The check and the record are one step under the table's lock,
// so two threads cannot both win an exclusive open. The lock is never held across a system call:
// an open happens first, without it, and is undone (closed) when the check then refuses it; a
// delete first records a claim (an open for delete that shares everything), unlinks without the
// lock, then drops the claim.
//
// This holds within the process only. Other processes, including other instances of this
// module, neither see nor respect these records: POSIX locks are advisory and would bind only
// processes that ask for them, so no cross-process locks are taken. Two processes can therefore
// open the same file for writing at once, which Windows would refuse to the second one.
//
// The same table tells live handles from anything else, so that a closed or foreign handle is
// refused with ERROR_INVALID_HANDLE instead of being used.
#include <atomic>
#include <functional>
#include <mutex>
#include <new>
#include <unordered_map>
#include <unordered_set>

#include "platform/files.h"
#include "platform/posix/files_internal.h"

namespace sl::platform::posix {
namespace {

uint64_t Mix(uint64_t value) { return value * 0x9E3779B97F4A7C15ull; }

struct IdentityHash {
  size_t operator()(const FileIdentity& id) const {
    return static_cast<size_t>(Mix(static_cast<uint64_t>(id.inode)) ^
                               static_cast<uint64_t>(id.device));
  }
};

// Whether an open with `access` can live beside one whose sharing is `share`.
bool Shares(uint32_t access, uint32_t share) {
  return (!(access & kAccessRead) || (share & kFileShareRead)) &&
         (!(access & kAccessWrite) || (share & kFileShareWrite)) &&
         (!(access & kAccessDelete) || (share & kFileShareDelete));
}

// Whether a new open with `access` and `share` can live beside every record of its file, the
// list that starts at `first`.
bool Compatible(const OpenFile* first, uint32_t access, uint32_t share) {
  if (!(access & (kAccessRead | kAccessWrite | kAccessDelete))) return true;
  for (const OpenFile* other = first; other != nullptr; other = other->nextOfFile) {
    if (!Shares(access, other->share) || !Shares(other->access, share)) return false;
  }
  return true;
}

}  // namespace

// The table is split in shards, each with its own lock, so that threads working on different
// files rarely meet on one lock or one cache line. A file's records live in the shard of its
// identity; a handle (and a search) is known live in the shard of its address.
struct ShareTable::Shard {
  alignas(64) std::mutex mutex;
  // Each open file's records, as a list through OpenFile::nextOfFile.
  std::unordered_map<FileIdentity, OpenFile*, IdentityHash> byFile;
  std::unordered_set<const void*> handles;
  std::unordered_set<const void*> searches;
  // Handles of this shard removed so far (see Removals).
  std::atomic<uint64_t> removals{0};
};

// Every shard gets its buckets at once: a shard's first open or search then allocates only its
// own record, as every later one does, and what a failed allocation leaves is the same whichever
// shard a handle's address falls in.
ShareTable::ShareTable() : shards_(new Shard[kShards]) {
  for (size_t i = 0; i < kShards; ++i) {
    shards_[i].byFile.reserve(8);
    shards_[i].handles.reserve(8);
    shards_[i].searches.reserve(4);
  }
}

ShareTable::~ShareTable() = default;

ShareTable::Shard& ShareTable::ShardOf(const FileIdentity& identity) {
  return shards_[Mix(IdentityHash()(identity)) >> (64 - kShardBits)];
}

ShareTable::Shard& ShareTable::ShardOf(const void* handle) {
  return shards_[Mix(reinterpret_cast<uintptr_t>(handle)) >> (64 - kShardBits)];
}

namespace {

std::atomic<ShareTable*> g_table{nullptr};
std::mutex g_tableCreation;

// At unload (and at exit) the table is freed when it records nothing any more, so a host that
// loads and unloads the module leaves nothing behind. A table that still records open handles
// or searches stays: something may still close them, from another thread or a later static
// destructor.
struct TableReaper {
  ~TableReaper() { ShareTable::FreeIfUnused(); }
} g_reaper;

}  // namespace

ShareTable& ShareTable::Instance() {
  ShareTable* table = g_table.load(std::memory_order_acquire);
  if (table != nullptr) return *table;
  std::lock_guard<std::mutex> guard(g_tableCreation);
  table = g_table.load(std::memory_order_relaxed);
  if (table == nullptr) {
    table = new ShareTable;
    g_table.store(table, std::memory_order_release);
  }
  return *table;
}

void ShareTable::FreeIfUnused() {
  std::lock_guard<std::mutex> guard(g_tableCreation);
  ShareTable* table = g_table.load(std::memory_order_acquire);
  if (table == nullptr) return;
  for (size_t i = 0; i < kShards; ++i) {
    Shard& shard = table->shards_[i];
    const std::lock_guard<std::mutex> lock(shard.mutex);
    if (!shard.byFile.empty() || !shard.handles.empty() || !shard.searches.empty()) return;
  }
  g_table.store(nullptr, std::memory_order_release);
  delete table;
}

ShareTable::Admission ShareTable::Admit(OpenFile* file, bool asHandle) {
  Shard& records = ShardOf(file->identity);
  {
    const std::lock_guard<std::mutex> lock(records.mutex);
    try {
      OpenFile*& first = records.byFile[file->identity];
      if (!Compatible(first, file->access, file->share)) {
        if (first == nullptr) records.byFile.erase(file->identity);
        return Admission::kSharingViolation;
      }
      file->nextOfFile = first;
      first = file;
    } catch (const std::bad_alloc&) {
      return Admission::kNoMemory;  // the map is unchanged
    }
  }
  if (!asHandle) return Admission::kAdmitted;
  // Until it is known live nobody can use the handle, which nobody has yet.
  Shard& live = ShardOf(static_cast<const void*>(file));
  try {
    const std::lock_guard<std::mutex> lock(live.mutex);
    live.handles.insert(file);
  } catch (const std::bad_alloc&) {
    Forget(file);
    return Admission::kNoMemory;
  }
  return Admission::kAdmitted;
}

ShareTable::Admission ShareTable::Add(OpenFile* file) { return Admit(file, true); }

ShareTable::Admission ShareTable::Claim(OpenFile* claim) { return Admit(claim, false); }

void ShareTable::Unclaim(OpenFile* claim) { Forget(claim); }

OpenFile* ShareTable::Take(void* handle) {
  Shard& live = ShardOf(static_cast<const void*>(handle));
  {
    const std::lock_guard<std::mutex> lock(live.mutex);
    if (live.handles.erase(handle) == 0) return nullptr;
    live.removals.fetch_add(1, std::memory_order_release);
  }
  auto* file = static_cast<OpenFile*>(handle);  // ours alone from here on
  Forget(file);
  return file;
}

bool ShareTable::Find(void* handle, Lookup* found) {
  Shard& live = ShardOf(static_cast<const void*>(handle));
  const std::lock_guard<std::mutex> lock(live.mutex);
  if (live.handles.count(handle) == 0) return false;
  auto* file = static_cast<OpenFile*>(handle);
  // Read under the lock, which every removal holds: the count matches the table just searched.
  *found = {file->fd, file->access, file, live.removals.load(std::memory_order_relaxed)};
  return true;
}

uint64_t ShareTable::Removals(const void* handle) {
  return ShardOf(handle).removals.load(std::memory_order_acquire);
}

void ShareTable::Forget(OpenFile* file) {
  Shard& records = ShardOf(file->identity);
  const std::lock_guard<std::mutex> lock(records.mutex);
  const auto it = records.byFile.find(file->identity);
  if (it == records.byFile.end()) return;
  for (OpenFile** link = &it->second; *link != nullptr; link = &(*link)->nextOfFile) {
    if (*link == file) {
      *link = file->nextOfFile;
      break;
    }
  }
  if (it->second == nullptr) records.byFile.erase(it);
}

bool ShareTable::AddSearch(void* search) {
  Shard& live = ShardOf(static_cast<const void*>(search));
  const std::lock_guard<std::mutex> lock(live.mutex);
  try {
    live.searches.insert(search);
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

bool ShareTable::RemoveSearch(void* search) {
  Shard& live = ShardOf(static_cast<const void*>(search));
  const std::lock_guard<std::mutex> lock(live.mutex);
  return live.searches.erase(search) != 0;
}

bool ShareTable::IsSearch(void* search) {
  Shard& live = ShardOf(static_cast<const void*>(search));
  const std::lock_guard<std::mutex> lock(live.mutex);
  return live.searches.count(search) != 0;
}

}  // namespace sl::platform::posix
