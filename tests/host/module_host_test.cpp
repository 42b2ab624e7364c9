// The module seen from a host: loaded by path, reached only through its exports and tables.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "host_support.h"

extern "C" {
size_t c_sizeof_file_system(void);
size_t c_sizeof_stream_service(void);
size_t c_offsetof_search(void);
size_t c_offsetof_get_file_info(void);
size_t c_sizeof_error_info(void);
size_t c_sizeof_weak_ref(void);
size_t c_sizeof_object_info(void);
}

namespace {

// First in this file: under Wine all tests share one process, and the class list is built by
// the first ReflectServiceObjectInfo of the process.
TEST(ModuleExports, ClassListNamesBothClassesUnresolvedUntilCreated) {
  auto module = sltest::LoadBuiltModule();
  ASSERT_TRUE(module);
  const ServiceObjectInfo* info = nullptr;
  uint32_t count = 0;
  ASSERT_EQ(module->reflect(&info, &count), SL_OK);
  ASSERT_EQ(count, 2u);
  EXPECT_STREQ(info[0].className, "StreamService");
  EXPECT_STREQ(info[1].className, "FileSystemService");
  EXPECT_EQ(info[0].classAtom, SL_UNRESOLVED_ATOM);
  EXPECT_EQ(info[1].classAtom, SL_UNRESOLVED_ATOM);
  const ServiceObjectInfo zero{};
  EXPECT_EQ(std::memcmp(&info[2], &zero, sizeof(zero)), 0);

  const ServiceObjectInfo* again = nullptr;
  uint32_t countAgain = 0;
  ASSERT_EQ(module->reflect(&again, &countAgain), SL_OK);
  EXPECT_EQ(again, info);
  EXPECT_EQ(countAgain, 2u);
}

TEST(ModuleExports, NullPointersGive3AndWriteNothing) {
  auto module = sltest::LoadBuiltModule();
  ASSERT_TRUE(module);
  uint32_t count = 99;
  const ServiceObjectInfo* info = nullptr;
  EXPECT_EQ(module->reflect(nullptr, &count), SL_INVALID_ARGUMENT);
  EXPECT_EQ(count, 99u);
  EXPECT_EQ(module->reflect(&info, nullptr), SL_INVALID_ARGUMENT);
  EXPECT_EQ(info, nullptr);
  ServiceObject* object = nullptr;
  EXPECT_EQ(module->create(0, &object), SL_INVALID_ARGUMENT);
  EXPECT_EQ(module->create(sltest::AtomOf("StreamService"), nullptr), SL_INVALID_ARGUMENT);
  EXPECT_EQ(object, nullptr);
}

TEST(ModuleExports, UnknownClassGives11) {
  auto module = sltest::LoadBuiltModule();
  ASSERT_TRUE(module);
  ServiceObject* object = nullptr;
  EXPECT_EQ(module->create(sltest::AtomOf("NoSuchService"), &object), SL_NOT_FOUND);
  EXPECT_EQ(object, nullptr);
}

TEST(ModuleExports, EachClassGivesANewObjectWithOneReference) {
  auto module = sltest::LoadBuiltModule();
  ASSERT_TRUE(module);
  struct Expected {
    const char* className;
    const char* interfaceName;
    uint32_t id, tableSize;
  };
  for (const Expected& want : {Expected{"FileSystemService", "SLFileSystemService",
                                        SL_FILESYSTEM_SERVICE_ID, 32},
                               Expected{"StreamService", "SLStreamService", SL_STREAM_SERVICE_ID,
                                        72}}) {
    ServiceObject* first = nullptr;
    ServiceObject* second = nullptr;
    ASSERT_EQ(module->create(sltest::AtomOf(want.className), &first), SL_OK);
    ASSERT_EQ(module->create(sltest::AtomOf(want.className), &second), SL_OK);
    EXPECT_NE(first, second);
    EXPECT_EQ(first->header.interfaceId, want.id);
    EXPECT_EQ(first->header.tableSize, want.tableSize);
    EXPECT_STREQ(first->header.interfaceName, want.interfaceName);
    EXPECT_EQ(first->header.GetRefCount(first), 1u);
    EXPECT_EQ(first->header.Release(first), 0u);
    EXPECT_EQ(second->header.Release(second), 0u);
  }
}

TEST(ModuleExports, NotificationsAlwaysReturn0) {
  auto module = sltest::LoadBuiltModule();
  ASSERT_TRUE(module);
  for (int round = 0; round < 2; ++round) {
    EXPECT_EQ(module->initialize(), SL_OK);
    EXPECT_EQ(module->onCleanup(), SL_OK);
    EXPECT_EQ(module->onFree(), SL_OK);
  }
}

TEST(ModuleExports, OnlyTheFiveExportsAreFound) {
  auto module = sltest::LoadBuiltModule();
  ASSERT_TRUE(module);
  EXPECT_EQ(module->Symbol("SLGetAtomFromString"), nullptr);
  EXPECT_EQ(module->Symbol("_ZN9SODetails13ReportFailureERNS_12ErrorRecordsEjPKDsmS3_PKcS5_j"),
            nullptr);
  std::string error;
  EXPECT_EQ(sl::sdk::Module::Load("./no-such-module-file", &error), nullptr);
  EXPECT_NE(error.find("no-such-module-file"), std::string::npos) << error;
}

// Checks one object's header byte for byte: identity, every entry set, "EOFT" right after the
// last entry, then the stamp.
void ExpectHeader(const void* object, uint32_t id, uint32_t entries, const char* name,
                  uint32_t stamp) {
  const auto* bytes = static_cast<const unsigned char*>(object);
  const auto& header = *static_cast<const ServiceFunctionTable*>(object);
  EXPECT_EQ(header.interfaceId, id) << name;
  EXPECT_EQ(header.tableSize, 8 * entries) << name;
  EXPECT_STREQ(header.interfaceName, name);
  for (uint32_t slot = 0; slot < 5 + entries; ++slot) {
    void* entry = nullptr;
    std::memcpy(&entry, bytes + 16 + 8 * slot, sizeof(entry));
    EXPECT_NE(entry, nullptr) << name << " slot " << slot;
  }
  EXPECT_EQ(std::memcmp(bytes + 56 + 8 * entries, "EOFT", 4), 0) << name;
  uint32_t storedStamp = 0;
  std::memcpy(&storedStamp, bytes + 60 + 8 * entries, 4);
  EXPECT_EQ(storedStamp, stamp) << name;
}

TEST(ModuleExports, TheFourInterfaceHeadersAreExact) {
  auto module = sltest::LoadBuiltModule();
  ASSERT_TRUE(module);
  ServiceObject* fsService = nullptr;
  ServiceObject* streams = nullptr;
  ASSERT_EQ(module->create(sltest::AtomOf("FileSystemService"), &fsService), SL_OK);
  ASSERT_EQ(module->create(sltest::AtomOf("StreamService"), &streams), SL_OK);
  ExpectHeader(fsService, 0x56000904u, 4, "SLFileSystemService", 0xEAAA3D38u);
  ExpectHeader(streams, 0xD107D9F9u, 9, "SLStreamService", 0x5224169Bu);

  auto* service = reinterpret_cast<SLFileSystemService*>(fsService);
  SLFileSystem* fs = nullptr;
  ASSERT_EQ(service->GetDefaultFileSystem(service, &fs), SL_OK);
  ExpectHeader(fs, 0xA3A0DE85u, 17, "SLFileSystem", 0x124A777Fu);
  const std::u16string pattern =
      (std::filesystem::temp_directory_path() / "*").generic_u16string();
  SLFileSystemSearchResult* found = nullptr;
  ASSERT_EQ(fs->Search(fs, pattern.c_str(), &found), SL_OK);
  ExpectHeader(found, 0x856FD608u, 2, "SLFileSystemSearchResult", 0xB1C0C294u);

  EXPECT_EQ(found->header.Release(reinterpret_cast<ServiceObject*>(found)), 0u);
  EXPECT_EQ(fs->header.Release(reinterpret_cast<ServiceObject*>(fs)), 2u);
  EXPECT_EQ(streams->header.Release(streams), 0u);
  EXPECT_EQ(fsService->header.Release(fsService), 0u);
}

TEST(PublicHeaders, CAndCppAgreeOnEveryLayout) {
  EXPECT_EQ(c_sizeof_file_system(), sizeof(SLFileSystem));
  EXPECT_EQ(c_sizeof_stream_service(), sizeof(SLStreamService));
  EXPECT_EQ(c_offsetof_search(), offsetof(SLFileSystem, Search));
  EXPECT_EQ(c_offsetof_get_file_info(), offsetof(SLFileSystemSearchResult, GetFileInfo));
  EXPECT_EQ(c_sizeof_error_info(), 32u);
  EXPECT_EQ(c_sizeof_weak_ref(), 40u);
  EXPECT_EQ(c_sizeof_object_info(), 16u);
}

}  // namespace
