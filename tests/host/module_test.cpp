// The module seen from a host: loaded by path and reached only through its exports and tables,
// the SDK's loader and references over it, and host-made file systems in its registry, which the
// module calls only by the calling rules and whose references it counts exactly.
#include <cstring>
#include <string>

#include "common/foreign_object.h"
#include "host_support.h"

extern "C" {
size_t c_sizeof_file_system(void);
size_t c_offsetof_search(void);
size_t c_offsetof_get_file_info(void);
size_t c_sizeof_error_info(void);
size_t c_sizeof_weak_ref(void);
size_t c_sizeof_object_info(void);
}

namespace {

using sl::sdk::Ref;
using sltest::FaultFileSystem;
class ModuleHost : public sltest::HostTest {};

TEST(ModuleExports, TheClassListShowsTheAtomsResolvedWhenItWasBuilt) {
  for (const bool createFirst : {false, true}) {
    auto module = sltest::LoadModule();
    if (createFirst) module->Create("StreamService");
    const ServiceObjectInfo* info = nullptr;
    uint32_t count = 0;
    ASSERT_EQ(SL_OK, module->reflect(&info, &count));
    ASSERT_EQ(2u, count);
    EXPECT_STREQ("StreamService", info[0].className);
    EXPECT_STREQ("FileSystemService", info[1].className);
    EXPECT_EQ(createFirst ? module->Atom("StreamService") : SL_UNRESOLVED_ATOM, info[0].classAtom);
    EXPECT_EQ(SL_UNRESOLVED_ATOM, info[1].classAtom);
    const ServiceObjectInfo zero{};
    EXPECT_EQ(0, std::memcmp(&info[2], &zero, sizeof(zero)));
    const ServiceObjectInfo* again = nullptr;
    ASSERT_EQ(SL_OK, module->reflect(&again, &count));
    EXPECT_EQ(info, again);
    EXPECT_EQ(2u, count);
  }
}

// One object's header byte for byte: identity, every entry set, "EOFT" after the last, the stamp.
void ExpectHeader(const void* object, uint32_t id, uint32_t entries, const char* name,
                  uint32_t stamp) {
  SCOPED_TRACE(name);
  const auto* bytes = static_cast<const unsigned char*>(object);
  const auto& header = *static_cast<const ServiceFunctionTable*>(object);
  EXPECT_EQ(id, header.interfaceId);
  EXPECT_EQ(8 * entries, header.tableSize);
  EXPECT_STREQ(name, header.interfaceName);
  for (uint32_t slot = 0; slot < 5 + entries; ++slot) {
    void* entry = nullptr;
    std::memcpy(&entry, bytes + 16 + 8 * slot, sizeof(entry));
    EXPECT_NE(nullptr, entry) << "slot " << slot;
  }
  EXPECT_EQ(0, std::memcmp(bytes + 56 + 8 * entries, "EOFT", 4));
  uint32_t stored = 0;
  std::memcpy(&stored, bytes + 60 + 8 * entries, 4);
  EXPECT_EQ(stamp, stored);
}

TEST_F(ModuleHost, EachClassMakesNewObjectsWithExactHeaders) {
  Ref<ServiceObject> first = module_->Create("FileSystemService");
  Ref<ServiceObject> second = module_->Create("FileSystemService");
  EXPECT_NE(first, second);
  EXPECT_EQ(1u, first.RefCount());
  ExpectHeader(first.get(), 0x56000904u, 4, "SLFileSystemService", 0xEAAA3D38u);
  ExpectHeader(streams_.get(), 0xD107D9F9u, 9, "SLStreamService", 0x5224169Bu);
  ExpectHeader(fs_.get(), 0xA3A0DE85u, 17, "SLFileSystem", 0x124A777Fu);
  SLFileSystemSearchResult* found = nullptr;
  // A native path maps a '*' to a name character; the wildcard is added on the module's side.
  const std::u16string pattern = sl::sdk::Path16(dir_.parent_path()).str() + u"/*";
  ASSERT_EQ(SL_OK, fs_.get()->Search(fs_.get(), pattern.c_str(), &found));
  ExpectHeader(found, 0x856FD608u, 2, "SLFileSystemSearchResult", 0xB1C0C294u);
  EXPECT_EQ(0u, found->header.Release(reinterpret_cast<ServiceObject*>(found)));
  EXPECT_EQ(0u, first->header.Release(first.detach()));
  // A host-made file system built on the SDK has the same header.
  FaultFileSystem host;
  ExpectHeader(host.table(), SL_FILESYSTEM_ID, 17, "SLFileSystem", SL_FILESYSTEM_STAMP);
}

TEST(ModuleExports, OnlyTheFiveExportsAreFoundAndNotificationsGiveZero) {
  auto module = sltest::LoadModule();
  for (int round = 0; round < 2; ++round) {
    EXPECT_EQ(SL_OK, module->initialize());
    EXPECT_EQ(SL_OK, module->onCleanup());
    EXPECT_EQ(SL_OK, module->onFree());
  }
  EXPECT_EQ(nullptr, module->Symbol("SLGetAtomFromString"));
  EXPECT_EQ(nullptr, module->Symbol("_ZN9SODetails25ThrowRecordedServiceErrorEP13ServiceObject"));
  // The SDK's loader names what is missing.
  std::string error;
  EXPECT_EQ(nullptr, sl::sdk::Module::Load("./no-such-module.bin", &error));
  EXPECT_EQ("no module at ./no-such-module.bin", error);
  EXPECT_THROW(sl::sdk::Module::Open("./no-such-module.bin"), sl::sdk::ModuleError);
  const auto atoms =
      sl::sdk::Module::ExecutablePath().parent_path() / sl::sdk::Module::AtomFileName();
  EXPECT_EQ(nullptr, sl::sdk::Module::Load(sl::sdk::ToUtf8(sl::sdk::PathToUtf16(atoms)), &error));
  EXPECT_NE(std::string::npos, error.find("missing export ReflectServiceObjectInfo")) << error;
}

TEST(PublicHeaders, CAndCppAgreeOnEveryLayout) {
  EXPECT_EQ(sizeof(SLFileSystem), c_sizeof_file_system());
  EXPECT_EQ(offsetof(SLFileSystem, Search), c_offsetof_search());
  EXPECT_EQ(offsetof(SLFileSystemSearchResult, GetFileInfo), c_offsetof_get_file_info());
  EXPECT_EQ(32u, c_sizeof_error_info());
  EXPECT_EQ(40u, c_sizeof_weak_ref());
  EXPECT_EQ(16u, c_sizeof_object_info());
}

TEST_F(ModuleHost, ClassesAreCreatedByNameAndChecked) {
  const auto classes = module_->Classes();
  ASSERT_EQ(2u, classes.size());
  EXPECT_EQ("StreamService", classes[0].name);
  EXPECT_EQ(module_->Atom("StreamService"), classes[0].listedAtom) << "resolved by the fixture";
  EXPECT_NE(module_->Atom("StreamService"), module_->Atom("FileSystemService"));
  const auto refusal = [&](auto create) { return sl::sdk::Try(create); };
  const auto other = refusal([&] { module_->Create<SLFileSystem>("StreamService"); });
  EXPECT_EQ(SL_INVALID_ARGUMENT, other.code);
  EXPECT_EQ("class StreamService is SLStreamService, not SLFileSystem", other.message);
  const auto unknown = refusal([&] { module_->Create("NoSuchService"); });
  EXPECT_EQ(SL_NOT_FOUND, unknown.code);
  EXPECT_EQ("CreateServiceObject(\"NoSuchService\") failed, code: 0x0000000b", unknown.message);
}

TEST_F(ModuleHost, ReferencesCountExactlyAndWeakOnesDieWithTheObject) {
  Ref<SLFileSystem> fs = fs_.ref();
  const uint32_t base = fs.RefCount();
  {
    Ref<SLFileSystem> copy = fs;
    Ref<SLFileSystem> moved = std::move(copy);
    EXPECT_FALSE(copy);
    Ref<ServiceObject> generic = moved.As<ServiceObject>();
    EXPECT_FALSE(moved.As<SLStreamService>()) << "the header names another interface";
    EXPECT_EQ(base + 2, fs.RefCount());
  }
  EXPECT_EQ(base, fs.RefCount());
  Ref<SLFileSystem> out;
  ASSERT_EQ(SL_OK, files_.get()->GetDefaultFileSystem(files_.get(), out.put()));
  EXPECT_EQ(fs, out);
  EXPECT_EQ(base + 1, fs.RefCount()) << "put() adopts the reference handed out";
  Ref<SLFileSystem>::Adopt(out.detach());
  EXPECT_EQ(base, fs.RefCount());

  Ref<SLStreamService> streams = module_->Create<SLStreamService>("StreamService");
  SLResult result = SL_NOT_FOUND;
  sl::sdk::WeakRef<SLStreamService> weak = sl::sdk::MakeWeak(streams, &result);
  ASSERT_EQ(SL_OK, result);
  EXPECT_EQ(2u, weak.WeakCount()) << "the object's own and ours";
  EXPECT_EQ(streams, weak.Lock());
  sl::sdk::WeakRef<SLStreamService> second = weak;
  EXPECT_EQ(3u, weak.WeakCount());
  streams.reset();
  EXPECT_FALSE(weak.IsAlive());
  EXPECT_FALSE(weak.Lock());
  second.reset();
  EXPECT_EQ(1u, weak.WeakCount()) << "the block outlives its object for our reference";
  // A host object's empty base entries are never called.
  sltest::ForeignFileSystem foreign;
  {
    Ref<SLFileSystem> shared = Ref<SLFileSystem>::Share(foreign.fs());
    Ref<SLFileSystem> copy = shared;
  }
  EXPECT_TRUE(foreign.addRefs == 2 && foreign.releases == 2);
  foreign.table.header.AddRef = foreign.table.header.Release = nullptr;
  Ref<SLFileSystem> bare = Ref<SLFileSystem>::Share(foreign.fs());
  EXPECT_EQ(0u, bare.RefCount()) << "no GetRefCount entry";
  EXPECT_FALSE(sl::sdk::MakeWeak(bare, &result));
  EXPECT_EQ(SL_NOT_FOUND, result) << "no GetWeakRef entry";
}

// Host-made file systems in the registry, each bent one way: the key it is found under, whether
// naming it raises (a failure with a record leaves the module as an exception), and whether its
// references are counted.
struct Bent {
  const char* name;
  void (*bend)(FaultFileSystem&);
  bool resolved;  // found under its name (else under the unresolved atom)
  bool counted;
};
// clang-format off
const Bent kBent[] = {
  {"named", [](FaultFileSystem&) {}, true, true},
  {"name fails without a record", [](FaultFileSystem& f) { f.faults[sltest::kGetFileSystemName] = {1, true, false}; }, false, true},
  {"table of size 0", [](FaultFileSystem& f) { f.table()->header.tableSize = 0; }, false, true},
  {"no AddRef or Release", [](FaultFileSystem& f) { f.table()->header.AddRef = f.table()->header.Release = nullptr; }, true, false},
};
// clang-format on

TEST_F(ModuleHost, HostFileSystemsAreCalledByTheRulesAndCountedExactly) {
  SLFileSystemService* service = files_.get();
  // A name that fails with a record raises through the module; the registry stays as it was.
  FaultFileSystem raising(nullptr, module_->Atom("Host"));
  raising.faults[sltest::kGetFileSystemName] = {1, true};
  for (const bool add : {true, false}) {
    try {
      add ? service->RegisterFileSystem(service, raising.table())
          : service->UnregisterFileSystem(service, raising.table());
      ADD_FAILURE() << "no exception";
    } catch (const ServiceObjectException& e) {
      EXPECT_EQ(SL_OS_FAILURE, e.code());
      EXPECT_EQ(u"FaultFileSystem::GetFileSystemName() failed, code: 0x00000007: injected",
                std::u16string(e.info().message));
      EXPECT_STREQ("sltest::FaultFileSystem::GetFileSystemName", e.info().functionName);
    }
    EXPECT_EQ(SL_NOT_FOUND, sltest::RecordOf(service).read)
        << "an entry left by an exception records nothing";
    EXPECT_EQ(add ? 1u : 2u, raising.RefCount());
    raising.faults = {};
    EXPECT_EQ(SL_OK, add ? service->RegisterFileSystem(service, raising.table()) : SL_OK);
    raising.faults[sltest::kGetFileSystemName] = {1, true};
  }
  raising.faults = {};
  EXPECT_EQ(SL_OK, service->UnregisterFileSystem(service, raising.table()));
  for (const Bent& b : kBent) {
    SCOPED_TRACE(b.name);
    FaultFileSystem fs(nullptr, module_->Atom("Host"));
    b.bend(fs);
    ASSERT_EQ(SL_OK, service->RegisterFileSystem(service, fs.table()));
    EXPECT_EQ(b.counted ? 2u : 1u, fs.RefCount());
    SLFileSystem* found = nullptr;
    const uint32_t key = b.resolved ? module_->Atom("Host") : SL_UNRESOLVED_ATOM;
    ASSERT_EQ(SL_OK, service->GetRegisteredFileSystemByName(service, key, &found));
    EXPECT_EQ(fs.table(), found);
    Ref<SLFileSystem>::Adopt(found);
    EXPECT_EQ(SL_ALREADY_EXISTS, service->RegisterFileSystem(service, fs.table()));
    EXPECT_EQ(b.counted ? 2u : 1u, fs.RefCount()) << "a refused entry takes no reference";
    EXPECT_EQ(SL_OK, service->UnregisterFileSystem(service, fs.table()));
    EXPECT_EQ(1u, fs.RefCount());
    EXPECT_EQ(fs.table()->header.tableSize == 0 ? 0u : 3u, fs.calls[sltest::kGetFileSystemName])
        << "named once by each Register and Unregister";
  }
  // Unregistering a name that is not registered leaves a record; the service releases what its
  // registry holds when it goes.
  FaultFileSystem stranger(nullptr, module_->Atom("Stranger"));
  EXPECT_EQ(SL_NOT_FOUND, service->UnregisterFileSystem(service, stranger.table()));
  const SLErrorInfo info = sltest::RecordOf(service).info;
  EXPECT_EQ(13u, info.line);
  EXPECT_EQ(u"SLFileSystemService::UnregisterFileSystem() failed, code: 0x0000000b",
            std::u16string(info.message));
  EXPECT_STREQ(
      "SOImpl::CppSLFileSystemServiceBase<struct SLFileSystemServiceImpl,class "
      "SODetails::ServiceObjectTraits>::UnregisterFileSystemImpl::staticF",
      info.functionName);
  ASSERT_EQ(SL_OK, service->RegisterFileSystem(service, stranger.table()));
  files_ = sl::sdk::FileSystemService(module_->Create<SLFileSystemService>("FileSystemService"));
  EXPECT_EQ(1u, stranger.RefCount()) << "released exactly once when the service went";
}

}  // namespace
