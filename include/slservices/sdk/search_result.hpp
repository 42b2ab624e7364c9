// A host-made SLFileSystemSearchResult: a frozen list of names that a host file system's
// Search hands out. FileSystemBase makes these; hosts rarely need them directly.
#ifndef SLSERVICES_SDK_SEARCH_RESULT_HPP_
#define SLSERVICES_SDK_SEARCH_RESULT_HPP_

#include <string>
#include <utility>
#include <vector>

#include "slservices/sdk/object.hpp"

namespace sl::sdk {

class SearchResult final : public HostObject {
 public:
  explicit SearchResult(std::vector<std::u16string> names) : names_(std::move(names)) {
    InitShell(shell_, SL_FILESYSTEM_SEARCH_RESULT_ID, "SLFileSystemSearchResult",
              SL_FILESYSTEM_SEARCH_RESULT_STAMP);
    shell_.table.GetCount = [](SLFileSystemSearchResult* self, uint64_t* count) {
      SearchResult* me = Self(self);
      return me->RunEntry({"GetCount", "sl::sdk::SearchResult::GetCount", kSource, __LINE__}, [&] {
        if (count == nullptr) return SL_INVALID_ARGUMENT;
        *count = me->names_.size();
        return SL_OK;
      });
    };
    shell_.table.GetFileInfo = [](SLFileSystemSearchResult* self, uint32_t index,
                                  const SLChar16** name) {
      SearchResult* me = Self(self);
      return me->RunEntry(
          {"GetFileInfo", "sl::sdk::SearchResult::GetFileInfo", kSource, __LINE__}, [&] {
            if (name == nullptr || index >= me->names_.size()) return SL_INVALID_ARGUMENT;
            *name = me->names_[index].c_str();  // owned by the result until it is destroyed
            return SL_OK;
          });
    };
  }

  ServiceObject* object() override { return reinterpret_cast<ServiceObject*>(&shell_.table); }
  const char* DisplayName() const override { return "SLFileSystemSearchResult"; }
  SLFileSystemSearchResult* table() { return &shell_.table; }
  const std::vector<std::u16string>& names() const { return names_; }

 private:
  static constexpr const char* kSource = "slservices/sdk/search_result.hpp";
  static SearchResult* Self(SLFileSystemSearchResult* table) {
    return static_cast<SearchResult*>(
        Owner<SLFileSystemSearchResult>(reinterpret_cast<ServiceObject*>(table)));
  }

  Shell<SLFileSystemSearchResult> shell_;
  std::vector<std::u16string> names_;
};

}  // namespace sl::sdk

#endif  // SLSERVICES_SDK_SEARCH_RESULT_HPP_
