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
#include <vector>

#include "platform/files.h"
#include "platform/posix/files_internal.h"

namespace sl::platform::posix {
namespace {

struct IdentityHash {
  size_t operator()(const FileIdentity& id) const {
    return std::hash<uint64_t>()(static_cast<uint64_t>(id.inode) * 0x9E3779B97F4A7C15ull ^
                                 static_cast<uint64_t>(id.device));
  }
};

// Whether an open with `access` can live beside one whose sharing is `share`.
bool Shares(uint32_t access, uint32_t share) {
  return (!(access & kAccessRead) || (share & kFileShareRead)) &&
         (!(access & kAccessWrite) || (share & kFileShareWrite)) &&
         (!(access & kAccessDelete) || (share & kFileShareDelete));
}

}  // namespace

struct ShareTable::Impl {
  std::unordered_map<FileIdentity, std::vector<OpenFile*>, IdentityHash> byFile;
  std::unordered_set<const void*> files;
  std::unordered_set<const void*> searches;
};

std::atomic<uint64_t> ShareTable::removals_{0};

ShareTable::ShareTable() : impl_(new Impl) {}

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
  {
    const std::lock_guard<std::mutex> lock(table->mutex_);
    if (!table->impl_->byFile.empty() || !table->impl_->searches.empty()) return;
    g_table.store(nullptr, std::memory_order_release);
  }
  delete table;
}

namespace {

// Whether a new open with `access` and `share` can live beside every record of its file.
bool Compatible(const std::vector<OpenFile*>& opens, uint32_t access, uint32_t share) {
  if (!(access & (kAccessRead | kAccessWrite | kAccessDelete))) return true;
  for (const OpenFile* other : opens) {
    if (!Shares(access, other->share) || !Shares(other->access, share)) return false;
  }
  return true;
}

}  // namespace

ShareTable::Admission ShareTable::Admit(OpenFile* file, bool asHandle) {
  const std::lock_guard<std::mutex> lock(mutex_);
  try {
    std::vector<OpenFile*>& opens = impl_->byFile[file->identity];
    if (!Compatible(opens, file->access, file->share)) {
      if (opens.empty()) impl_->byFile.erase(file->identity);
      return Admission::kSharingViolation;
    }
    opens.reserve(opens.size() + 1);
    if (asHandle) impl_->files.insert(file);
    opens.push_back(file);  // cannot throw: room was reserved
  } catch (const std::bad_alloc&) {
    const auto it = impl_->byFile.find(file->identity);
    if (it != impl_->byFile.end() && it->second.empty()) impl_->byFile.erase(it);
    return Admission::kNoMemory;
  }
  return Admission::kAdmitted;
}

ShareTable::Admission ShareTable::Add(OpenFile* file) { return Admit(file, true); }

ShareTable::Admission ShareTable::Claim(OpenFile* claim) { return Admit(claim, false); }

void ShareTable::Unclaim(OpenFile* claim) {
  const std::lock_guard<std::mutex> lock(mutex_);
  Forget(claim);
}

OpenFile* ShareTable::Take(void* handle) {
  const std::lock_guard<std::mutex> lock(mutex_);
  if (impl_->files.erase(handle) == 0) return nullptr;
  removals_.fetch_add(1, std::memory_order_release);
  auto* file = static_cast<OpenFile*>(handle);
  Forget(file);
  return file;
}

bool ShareTable::Find(void* handle, Lookup* found) {
  const std::lock_guard<std::mutex> lock(mutex_);
  if (impl_->files.count(handle) == 0) return false;
  auto* file = static_cast<OpenFile*>(handle);
  // Read under the lock, which every removal holds: the count matches the table just searched.
  *found = {file->fd, file->access, file, removals_.load(std::memory_order_relaxed)};
  return true;
}

// Drops `file` from its file's records; the caller holds the lock.
void ShareTable::Forget(OpenFile* file) {
  const auto it = impl_->byFile.find(file->identity);
  if (it == impl_->byFile.end()) return;
  auto& opens = it->second;
  for (size_t i = 0; i < opens.size(); ++i) {
    if (opens[i] == file) {
      opens[i] = opens.back();
      opens.pop_back();
      break;
    }
  }
  if (opens.empty()) impl_->byFile.erase(it);
}

bool ShareTable::AddSearch(void* search) {
  const std::lock_guard<std::mutex> lock(mutex_);
  try {
    impl_->searches.insert(search);
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

bool ShareTable::RemoveSearch(void* search) {
  const std::lock_guard<std::mutex> lock(mutex_);
  return impl_->searches.erase(search) != 0;
}

bool ShareTable::IsSearch(void* search) {
  const std::lock_guard<std::mutex> lock(mutex_);
  return impl_->searches.count(search) != 0;
}

}  // namespace sl::platform::posix
