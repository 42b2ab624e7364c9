// Loading the module, creating objects by class name, and counted and weak references.
#include <gtest/gtest.h>

#include <string>

#include "common/foreign_object.h"
#include "sdk_fixture.h"

namespace {

using sl::sdk::Module;
using sl::sdk::Ref;

TEST(ModuleLoading, MissingFileAndMissingExportsAreNamed) {
  sltest::SharedModule();
  std::string error;
  EXPECT_EQ(Module::Load("./no-such-module.bin", &error), nullptr);
  EXPECT_EQ(error, "no module at ./no-such-module.bin");
  EXPECT_THROW(Module::Open("./no-such-module.bin"), sl::sdk::ModuleError);

  // A library, but not a module: the first missing export is named.
  const auto atomLibrary = Module::ExecutablePath().parent_path() / Module::AtomFileName();
  std::string reason;
  EXPECT_EQ(Module::Load(sl::sdk::ToUtf8(sl::sdk::PathToUtf16(atomLibrary)), &reason), nullptr);
  EXPECT_NE(reason.find("missing export ReflectServiceObjectInfo"), std::string::npos) << reason;
}

TEST(ModuleLoading, ClassesAreListedAndCreatedByName) {
  sltest::SharedModule();
  auto module = Module::Open(Module::BesideExecutable());  // a second load of the same file
  ASSERT_TRUE(module->HasAtomLibrary());
  const auto classes = module->Classes();
  ASSERT_EQ(classes.size(), 2u);
  EXPECT_EQ(classes[0].name, "StreamService");
  EXPECT_EQ(classes[1].name, "FileSystemService");

  Ref<SLStreamService> streams = module->Create<SLStreamService>("StreamService");
  ASSERT_TRUE(streams);
  EXPECT_EQ(streams->header.interfaceId, SL_STREAM_SERVICE_ID);
  EXPECT_EQ(streams.RefCount(), 1u);
  EXPECT_EQ(module->Atom("StreamService"), module->Atom("StreamService"));
  EXPECT_NE(module->Atom("StreamService"), module->Atom("FileSystemService"));

  try {
    module->Create<SLFileSystem>("StreamService");
    FAIL() << "an object of another interface must be refused";
  } catch (const sl::sdk::ServiceError& error) {
    EXPECT_EQ(error.code(), SL_INVALID_ARGUMENT);
    EXPECT_STREQ(error.what(), "class StreamService is SLStreamService, not SLFileSystem");
  }
  try {
    module->Create("NoSuchService");
    FAIL() << "an unknown class must be refused";
  } catch (const sl::sdk::ServiceError& error) {
    EXPECT_EQ(error.code(), SL_NOT_FOUND);
    EXPECT_STREQ(error.what(), "CreateServiceObject(\"NoSuchService\") failed, code: 0x0000000b");
  }
}

class References : public sltest::SdkTest {};

TEST_F(References, CopiesAddAndDestructionsReleaseExactlyOnce) {
  Ref<SLFileSystem> fs = fs_.ref();
  const uint32_t base = fs.RefCount();
  {
    Ref<SLFileSystem> copy = fs;
    EXPECT_EQ(fs.RefCount(), base + 1);
    Ref<SLFileSystem> moved = std::move(copy);
    EXPECT_FALSE(copy);
    EXPECT_EQ(fs.RefCount(), base + 1);
    Ref<ServiceObject> generic = moved.As<ServiceObject>();
    EXPECT_EQ(fs.RefCount(), base + 2);
    EXPECT_FALSE(moved.As<SLStreamService>()) << "the header names another interface";
    EXPECT_EQ(fs.RefCount(), base + 2);
  }
  EXPECT_EQ(fs.RefCount(), base);

  Ref<SLFileSystem> out;
  ASSERT_EQ(files_->get()->GetDefaultFileSystem(files_->get(), out.put()), SL_OK);
  EXPECT_EQ(out.get(), fs.get());
  EXPECT_EQ(fs.RefCount(), base + 1) << "put() adopts the reference handed out";
  SLFileSystem* raw = out.detach();
  EXPECT_EQ(fs.RefCount(), base + 1);
  Ref<SLFileSystem>::Adopt(raw);
  EXPECT_EQ(fs.RefCount(), base);
}

TEST(ReferencesToForeignObjects, NullBaseEntriesAreNeverCalled) {
  sltest::ForeignFileSystem counted;
  {
    auto ref = Ref<SLFileSystem>::Share(counted.fs());
    Ref<SLFileSystem> copy = ref;
    copy.reset();
  }
  EXPECT_EQ(counted.addRefs, 2);
  EXPECT_EQ(counted.releases, 2);

  sltest::ForeignFileSystem bare;
  bare.table.header.AddRef = nullptr;
  bare.table.header.Release = nullptr;
  auto ref = Ref<SLFileSystem>::Share(bare.fs());
  Ref<SLFileSystem> copy = ref;
  EXPECT_EQ(copy.RefCount(), 0u) << "no GetRefCount entry";
  SLResult result = SL_OK;
  EXPECT_FALSE(sl::sdk::MakeWeak(copy, &result));
  EXPECT_EQ(result, SL_NOT_FOUND) << "no GetWeakRef entry";
}

TEST_F(References, WeakReferenceLocksWhileTheObjectLivesAndNotAfter) {
  Ref<SLStreamService> streams = module_->Create<SLStreamService>("StreamService");
  SLResult result = SL_NOT_FOUND;
  sl::sdk::WeakRef<SLStreamService> weak = sl::sdk::MakeWeak(streams, &result);
  ASSERT_EQ(result, SL_OK);
  EXPECT_EQ(weak.WeakCount(), 2u) << "the object's own and ours";
  EXPECT_TRUE(weak.IsAlive());
  {
    Ref<SLStreamService> locked = weak.Lock();
    EXPECT_EQ(locked.get(), streams.get());
    EXPECT_EQ(streams.RefCount(), 2u);
  }
  sl::sdk::WeakRef<SLStreamService> second = weak;
  EXPECT_EQ(weak.WeakCount(), 3u);
  second.reset();

  streams.reset();
  EXPECT_FALSE(weak.IsAlive());
  EXPECT_FALSE(weak.Lock());
  EXPECT_EQ(weak.WeakCount(), 1u) << "the block outlives its object for our reference";
}

}  // namespace
