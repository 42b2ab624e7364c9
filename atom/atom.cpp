// The reference atom library: a thread-safe interning table. Equal names give equal atoms for
// the life of the process; atoms count up from 1 and are never 0 nor 0xFFFFFFFF. Hosts may
// ship their own library with the same export instead.
#include <cstdint>
#include <mutex>
#include <new>
#include <string>
#include <unordered_map>

#include "slservices/sl_module.h"

namespace {

class AtomTable {
 public:
  // 0 on success; 3 for a null argument; 8 when the table is full. Throws std::bad_alloc.
  uint32_t Intern(const char* name, uint32_t* atom) {
    if (name == nullptr || atom == nullptr) return SL_INVALID_ARGUMENT;
    std::lock_guard<std::mutex> guard(lock_);
    auto found = atoms_.find(name);
    if (found != atoms_.end()) {
      *atom = found->second;
      return SL_OK;
    }
    if (next_ == SL_UNRESOLVED_ATOM) return SL_NO_MEMORY;
    const uint32_t fresh = next_++;
    atoms_.emplace(name, fresh);
    *atom = fresh;
    return SL_OK;
  }

 private:
  std::mutex lock_;
  std::unordered_map<std::string, uint32_t> atoms_;
  uint32_t next_ = 1;
};

AtomTable& Table() {
  static AtomTable* table = new AtomTable;  // never destroyed: atoms outlive every caller
  return *table;
}

}  // namespace

// A C function: no exception may leave it. Running out of memory answers 8 and leaves the atom
// as it was, so the caller's name stays unresolved.
extern "C" uint32_t SLGetAtomFromString(const char* name, uint32_t* atom) {
  try {
    return Table().Intern(name, atom);
  } catch (const std::bad_alloc&) {
    return SL_NO_MEMORY;
  }
}
