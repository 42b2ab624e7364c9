// A host plugs its own object (a hand-written SLFileSystem table) into the loaded module's
// file-system service: the module calls it only by the calling rules, counts its references
// exactly, and a failure that carries error information reaches the host as a C++ exception
// thrown inside the module.
#include <gtest/gtest.h>

#include <string>

#include "common/foreign_object.h"
#include "host_support.h"
#include "slservices/sl_exception.hpp"

namespace {

class ForeignObjects : public ::testing::Test {
 protected:
  void SetUp() override {
    module_ = sltest::LoadBuiltModule();
    ASSERT_TRUE(module_);
    ServiceObject* object = nullptr;
    ASSERT_EQ(module_->create(sltest::AtomOf("FileSystemService"), &object), SL_OK);
    service_ = reinterpret_cast<SLFileSystemService*>(object);
  }
  void TearDown() override {
    if (service_ != nullptr) Release();
  }
  void Release() {
    service_->header.Release(reinterpret_cast<ServiceObject*>(service_));
    service_ = nullptr;
  }

  std::unique_ptr<sl::sdk::Module> module_;
  SLFileSystemService* service_ = nullptr;
};

TEST_F(ForeignObjects, FailureWithErrorInformationCrossesTheModuleAsServiceObjectException) {
  sltest::ForeignFileSystem foreign;
  foreign.nameResult = SL_ALREADY_EXISTS;
  foreign.hasErrorRecord = true;
  foreign.record = {16, 42, u"HostFs::GetFileSystemName() failed", "HostFunction", "host.cpp"};
  try {
    service_->RegisterFileSystem(service_, foreign.fs());
    FAIL() << "expected ServiceObjectException";
  } catch (const ServiceObjectException& e) {
    EXPECT_EQ(e.code(), 16u);
    EXPECT_EQ(e.info().line, 42u);
    EXPECT_EQ(std::u16string(e.info().message), u"HostFs::GetFileSystemName() failed");
    EXPECT_STREQ(e.info().functionName, "HostFunction");
  }
  EXPECT_EQ(foreign.addRefs, 0) << "the registry is unchanged";
  SLErrorInfo info{};
  EXPECT_EQ(service_->header.GetErrorInfo(reinterpret_cast<ServiceObject*>(service_), &info, 0),
            SL_NOT_FOUND)
      << "an entry left by an exception records nothing";
}

TEST_F(ForeignObjects, FailureWithoutErrorInformationIsIgnored) {
  sltest::ForeignFileSystem foreign;
  foreign.nameResult = SL_ALREADY_EXISTS;  // writes no atom: the key stays unresolved
  EXPECT_EQ(service_->RegisterFileSystem(service_, foreign.fs()), SL_OK);
  SLFileSystem* found = nullptr;
  EXPECT_EQ(service_->GetRegisteredFileSystemByName(service_, SL_UNRESOLVED_ATOM, &found), SL_OK);
  EXPECT_EQ(found, foreign.fs());
  EXPECT_EQ(foreign.addRefs, 2);  // the registry's and ours
  EXPECT_EQ(service_->UnregisterFileSystem(service_, foreign.fs()), SL_OK);
  EXPECT_EQ(foreign.releases, 1);
}

TEST_F(ForeignObjects, ShortTablesAreNeverCalledBeyondTheirSize) {
  sltest::ForeignFileSystem foreign(0);
  EXPECT_EQ(service_->RegisterFileSystem(service_, foreign.fs()), SL_OK);
  EXPECT_TRUE(foreign.calls.empty()) << "a table of size 0 has no GetFileSystemName";
  SLFileSystem* found = nullptr;
  EXPECT_EQ(service_->GetRegisteredFileSystemByName(service_, SL_UNRESOLVED_ATOM, &found), SL_OK);
  EXPECT_EQ(found, foreign.fs());
  found->header.Release(reinterpret_cast<ServiceObject*>(found));
  // The foreign object dies with this test: the registry must let go of it first.
  EXPECT_EQ(service_->UnregisterFileSystem(service_, foreign.fs()), SL_OK);
  EXPECT_EQ(foreign.addRefs, foreign.releases);
}

TEST_F(ForeignObjects, ReferencesAreGivenBackExactlyOnceWhenTheServiceDies) {
  sltest::ForeignFileSystem foreign;
  foreign.nameAtom = sltest::AtomOf("HostFileSystem");
  EXPECT_EQ(service_->RegisterFileSystem(service_, foreign.fs()), SL_OK);
  EXPECT_EQ(service_->RegisterFileSystem(service_, foreign.fs()), SL_ALREADY_EXISTS);
  EXPECT_EQ(foreign.addRefs, 1);
  Release();
  EXPECT_EQ(foreign.releases, 1);
}

TEST_F(ForeignObjects, NullAddRefAndReleaseAreSkipped) {
  sltest::ForeignFileSystem foreign;
  foreign.table.header.AddRef = nullptr;
  foreign.table.header.Release = nullptr;
  foreign.nameAtom = sltest::AtomOf("UncountedFileSystem");
  EXPECT_EQ(service_->RegisterFileSystem(service_, foreign.fs()), SL_OK);
  SLFileSystem* found = nullptr;
  EXPECT_EQ(service_->GetRegisteredFileSystemByName(service_, foreign.nameAtom, &found), SL_OK);
  EXPECT_EQ(service_->UnregisterFileSystem(service_, foreign.fs()), SL_OK);
  EXPECT_EQ(foreign.addRefs, 0);
  EXPECT_EQ(foreign.releases, 0);
}

TEST_F(ForeignObjects, UnknownNameLeavesTheRecordAHostCanRead) {
  sltest::ForeignFileSystem foreign;
  foreign.nameAtom = sltest::AtomOf("NeverRegistered");
  EXPECT_EQ(service_->UnregisterFileSystem(service_, foreign.fs()), SL_NOT_FOUND);
  SLErrorInfo info{};
  ASSERT_EQ(service_->header.GetErrorInfo(reinterpret_cast<ServiceObject*>(service_), &info, 0),
            SL_OK);
  EXPECT_EQ(info.code, 11u);
  EXPECT_EQ(info.line, 13u);
  EXPECT_EQ(std::u16string(info.message),
            u"SLFileSystemService::UnregisterFileSystem() failed, code: 0x0000000b");
  EXPECT_STREQ(info.functionName,
               "SOImpl::CppSLFileSystemServiceBase<struct SLFileSystemServiceImpl,class "
               "SODetails::ServiceObjectTraits>::UnregisterFileSystemImpl::staticF");
}

}  // namespace
