// The file-system service: its default file system, and the registry keyed by the name each
// file system reports about itself, with foreign file systems made from hand-written C tables.
#include <gtest/gtest.h>

#include "filesystem/file_system_service.h"
#include "foreign_file_system.h"
#include "fs_test_support.h"

namespace {

using fstest::AtomOf;
using fstest::RefCount;

class FileSystemServiceTest : public ::testing::Test {
 protected:
  FileSystemServiceTest() {
    ForeignFileSystemInit(&foreign, 0x5150);
    ForeignFileSystemInit(&second, 0x6160);
    ForeignFileSystemInit(&third, 0x7170);
  }
  ~FileSystemServiceTest() override {
    if (service != nullptr) fstest::Release(service);
  }

  SLFileSystem* Default() {
    SLFileSystem* fs = nullptr;
    EXPECT_EQ(SL_OK, service->GetDefaultFileSystem(service, &fs));
    return fs;
  }
  SLResult Register(SLFileSystem* fs) { return service->RegisterFileSystem(service, fs); }
  SLResult Unregister(SLFileSystem* fs) { return service->UnregisterFileSystem(service, fs); }
  SLResult Lookup(uint32_t atom, SLFileSystem** fs) {
    return service->GetRegisteredFileSystemByName(service, atom, fs);
  }
  // Destroys the service now; the fixture no longer holds it.
  void DestroyService() {
    EXPECT_EQ(0u, fstest::Release(service));
    service = nullptr;
  }

  SLFileSystemService* service = sl::filesystem::CreateFileSystemServiceObject();
  // Host-made file systems; they outlive the service, which may still hold them.
  ForeignFileSystem foreign;
  ForeignFileSystem second;
  ForeignFileSystem third;
  const uint32_t defaultAtom = AtomOf("Default");
};

TEST_F(FileSystemServiceTest, NewServiceHoldsItsDefaultTwiceAndHandsOutNewReferences) {
  SLFileSystem* fs = Default();
  EXPECT_EQ(3u, RefCount(fs));  // the default reference, its registry entry, ours
  uint32_t atom = 0;
  EXPECT_EQ(SL_OK, fs->GetFileSystemName(fs, &atom));
  EXPECT_EQ(defaultAtom, atom);
  EXPECT_NE(SL_UNRESOLVED_ATOM, atom);

  SLFileSystem* found = nullptr;
  ASSERT_EQ(SL_OK, Lookup(defaultAtom, &found));
  EXPECT_EQ(fs, found);
  EXPECT_EQ(4u, RefCount(fs));
  fstest::Release(found);
  fstest::Release(fs);
  EXPECT_EQ(2u, RefCount(fs));
  EXPECT_EQ(1u, RefCount(service));
}

TEST_F(FileSystemServiceTest, NullArgumentsAndUnknownNamesLeaveEverythingAsItWas) {
  SLFileSystem* const untouched = reinterpret_cast<SLFileSystem*>(&foreign);
  SLFileSystem* out = untouched;
  EXPECT_EQ(SL_INVALID_ARGUMENT, service->GetDefaultFileSystem(service, nullptr));
  EXPECT_EQ(SL_INVALID_ARGUMENT, Register(nullptr));
  EXPECT_EQ(SL_INVALID_ARGUMENT, Unregister(nullptr));
  EXPECT_EQ(SL_INVALID_ARGUMENT, Lookup(defaultAtom, nullptr));
  EXPECT_EQ(SL_INVALID_ARGUMENT, Lookup(0, &out));
  EXPECT_EQ(SL_NOT_FOUND, Lookup(0x5150, &out));
  EXPECT_EQ(untouched, out);
  EXPECT_EQ(SL_NOT_FOUND, Unregister(&foreign.table));
  EXPECT_EQ(0u, foreign.addRefCalls + foreign.releaseCalls);
}

TEST_F(FileSystemServiceTest, FailureRecordsNameTheServiceEntry) {
  EXPECT_EQ(SL_NOT_FOUND, Unregister(&foreign.table));
  fstest::Failure failure = fstest::LastFailure(service);
  EXPECT_EQ(SL_OK, failure.status);
  EXPECT_EQ(11u, failure.code);
  EXPECT_EQ(13u, failure.line);
  EXPECT_EQ(u"SLFileSystemService::UnregisterFileSystem() failed, code: 0x0000000b",
            failure.message);
  EXPECT_EQ(
      "SOImpl::CppSLFileSystemServiceBase<struct SLFileSystemServiceImpl,class "
      "SODetails::ServiceObjectTraits>::UnregisterFileSystemImpl::staticF",
      failure.functionName);

  SLFileSystem* fs = Default();
  EXPECT_EQ(SL_ALREADY_EXISTS, Register(fs));
  failure = fstest::LastFailure(service);
  EXPECT_EQ(12u, failure.line);
  EXPECT_EQ(u"SLFileSystemService::RegisterFileSystem() failed, code: 0x00000010", failure.message);
  fstest::Release(fs);
}

TEST_F(FileSystemServiceTest, ANameIsTakenWhateverObjectReportsIt) {
  SLFileSystem* fs = Default();
  EXPECT_EQ(SL_ALREADY_EXISTS, Register(fs));
  foreign.atom = defaultAtom;
  EXPECT_EQ(SL_ALREADY_EXISTS, Register(&foreign.table));
  EXPECT_EQ(0u, foreign.addRefCalls);
  EXPECT_EQ(3u, RefCount(fs));

  // Any object of the same name removes the entry, and the registry's reference goes from the
  // object in the entry, not from the one given.
  EXPECT_EQ(SL_OK, Unregister(&foreign.table));
  EXPECT_EQ(0u, foreign.releaseCalls);
  EXPECT_EQ(2u, RefCount(fs));
  SLFileSystem* found = nullptr;
  EXPECT_EQ(SL_NOT_FOUND, Lookup(defaultAtom, &found));
  EXPECT_EQ(SL_NOT_FOUND, Unregister(fs));

  // The default reference stays, and the default can come back.
  SLFileSystem* again = Default();
  EXPECT_EQ(fs, again);
  fstest::Release(again);
  EXPECT_EQ(SL_OK, Register(fs));
  EXPECT_EQ(3u, RefCount(fs));
  ASSERT_EQ(SL_OK, Lookup(defaultAtom, &found));
  EXPECT_EQ(fs, found);
  fstest::Release(found);
  fstest::Release(fs);
}

TEST_F(FileSystemServiceTest, RegistryKeepsItsOwnReferenceUntilUnregistered) {
  ASSERT_EQ(SL_OK, Register(&foreign.table));
  EXPECT_EQ(1u, foreign.nameCalls);
  EXPECT_EQ(1u, foreign.addRefCalls);
  fstest::Release(&foreign.table);  // the caller's own reference goes; the registry's stays
  EXPECT_EQ(1, foreign.refCount);

  SLFileSystem* found = nullptr;
  ASSERT_EQ(SL_OK, Lookup(0x5150, &found));
  EXPECT_EQ(&foreign.table, found);
  EXPECT_EQ(2, foreign.refCount);
  fstest::Release(found);

  // Another object of the same name removes it.
  second.atom = 0x5150;
  EXPECT_EQ(SL_OK, Unregister(&second.table));
  EXPECT_EQ(0, foreign.refCount);
  EXPECT_EQ(0u, second.addRefCalls + second.releaseCalls);
  EXPECT_EQ(SL_NOT_FOUND, Lookup(0x5150, &found));
}

TEST_F(FileSystemServiceTest, EntriesTheTableDoesNotOfferAreNotCalled) {
  foreign.table.header.tableSize = 0;  // the name entry is there but out of the table
  ASSERT_EQ(SL_OK, Register(&foreign.table));
  EXPECT_EQ(0u, foreign.nameCalls);
  SLFileSystem* found = nullptr;
  ASSERT_EQ(SL_OK, Lookup(SL_UNRESOLVED_ATOM, &found));
  EXPECT_EQ(&foreign.table, found);
  fstest::Release(found);

  second.table.GetFileSystemName = nullptr;
  EXPECT_EQ(SL_ALREADY_EXISTS, Register(&second.table));  // also 0xFFFFFFFF

  third.table.header.tableSize = 8;  // exactly one entry: the name entry is still there
  EXPECT_EQ(SL_OK, Register(&third.table));
  EXPECT_EQ(1u, third.nameCalls);
  ASSERT_EQ(SL_OK, Lookup(0x7170, &found));
  fstest::Release(found);

  EXPECT_EQ(SL_OK, Unregister(&second.table));  // removes the 0xFFFFFFFF entry
  EXPECT_EQ(1, foreign.refCount);
  EXPECT_EQ(0u, second.releaseCalls);
}

TEST_F(FileSystemServiceTest, FileSystemsWithoutCountingOrNamedZeroCanBeRegistered) {
  foreign.table.header.AddRef = nullptr;
  foreign.table.header.Release = nullptr;
  foreign.atom = 0;
  ASSERT_EQ(SL_OK, Register(&foreign.table));
  SLFileSystem* found = nullptr;
  EXPECT_EQ(SL_INVALID_ARGUMENT, Lookup(0, &found));  // the atom 0 is never looked up
  EXPECT_EQ(nullptr, found);
  EXPECT_EQ(SL_ALREADY_EXISTS, Register(&foreign.table));
  EXPECT_EQ(SL_OK, Unregister(&foreign.table));
  EXPECT_EQ(SL_NOT_FOUND, Unregister(&foreign.table));
  EXPECT_EQ(1, foreign.refCount);
  EXPECT_EQ(0u, foreign.addRefCalls + foreign.releaseCalls);
}

TEST_F(FileSystemServiceTest, NameFailureWithRecordLeavesTheEntryAsAnException) {
  foreign.nameResult = SL_ALREADY_EXISTS;
  foreign.hasRecord = 1;
  try {
    Register(&foreign.table);
    ADD_FAILURE() << "no exception";
  } catch (const ServiceObjectException& e) {
    EXPECT_EQ(16u, e.code());
    EXPECT_EQ(4242u, e.info().line);
    EXPECT_EQ(std::u16string(kForeignFailureMessage), std::u16string(e.info().message));
  }
  EXPECT_EQ(0u, foreign.addRefCalls);
  // The entry left without a result, so it recorded nothing on the service.
  EXPECT_EQ(SL_NOT_FOUND, fstest::LastFailure(service).status);
  SLFileSystem* found = nullptr;
  EXPECT_EQ(SL_NOT_FOUND, Lookup(0x5150, &found));

  foreign.nameResult = SL_OK;
  ASSERT_EQ(SL_OK, Register(&foreign.table));
  foreign.nameResult = SL_OS_FAILURE;
  EXPECT_THROW(Unregister(&foreign.table), ServiceObjectException);
  EXPECT_EQ(SL_OK, Lookup(0x5150, &found));  // still registered
  fstest::Release(found);
  EXPECT_EQ(1u, foreign.releaseCalls);  // only the lookup's reference went back
}

TEST_F(FileSystemServiceTest, NameFailureWithoutRecordIsIgnored) {
  foreign.nameResult = SL_OS_FAILURE;  // fails, but still wrote its atom
  EXPECT_EQ(SL_OK, Register(&foreign.table));
  SLFileSystem* found = nullptr;
  ASSERT_EQ(SL_OK, Lookup(0x5150, &found));
  fstest::Release(found);

  second.nameResult = SL_NOT_FOUND;  // fails without writing anything, and has no records
  second.writesAtom = 0;
  second.table.header.GetErrorInfo = nullptr;
  EXPECT_EQ(SL_OK, Register(&second.table));
  ASSERT_EQ(SL_OK, Lookup(SL_UNRESOLVED_ATOM, &found));
  EXPECT_EQ(&second.table, found);
  fstest::Release(found);
}

TEST_F(FileSystemServiceTest, DestructionReleasesEveryReferenceExactlyOnce) {
  ASSERT_EQ(SL_OK, Register(&foreign.table));
  ASSERT_EQ(SL_OK, Register(&second.table));
  SLFileSystem* fs = Default();
  ServiceObjectWeakRef* weak = nullptr;
  ASSERT_EQ(SL_OK, fs->header.GetWeakRef(reinterpret_cast<ServiceObject*>(fs), &weak));
  DestroyService();
  EXPECT_EQ(1u, foreign.releaseCalls);
  EXPECT_EQ(1u, second.releaseCalls);
  EXPECT_EQ(1, foreign.refCount);
  EXPECT_EQ(1u, RefCount(fs));  // both of the service's references went; ours still works
  uint32_t atom = 0;
  EXPECT_EQ(SL_OK, fs->GetFileSystemName(fs, &atom));
  EXPECT_EQ(0u, fstest::Release(fs));
  EXPECT_EQ(0, weak->IsAlive(weak));
  EXPECT_EQ(0u, weak->Release(weak));
}

TEST_F(FileSystemServiceTest, DestructionAfterUnregisteringTheDefaultReleasesItOnce) {
  SLFileSystem* fs = Default();
  ASSERT_EQ(SL_OK, Unregister(fs));
  foreign.atom = defaultAtom;  // another object now holds the default's name
  ASSERT_EQ(SL_OK, Register(&foreign.table));
  DestroyService();
  EXPECT_EQ(1u, foreign.releaseCalls);
  EXPECT_EQ(1u, RefCount(fs));
  fstest::Release(fs);
}

}  // namespace
