// The file-system service: its default file system, and the registry keyed by the name each
// file system reports about itself, with host-made file systems of hand-written tables.
#include <gtest/gtest.h>

#include "code_table.h"
#include "common/foreign_object.h"
#include "filesystem/file_system_service.h"

namespace {

using fstest::RefCount;
using sltest::ForeignFileSystem;

class FileSystemServiceTest : public ::testing::Test {
 protected:
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
  // The object registered under `atom` (a new reference), or nullptr.
  SLFileSystem* Lookup(uint32_t atom) {
    SLFileSystem* fs = nullptr;
    const SLResult result = service->GetRegisteredFileSystemByName(service, atom, &fs);
    EXPECT_EQ(result == SL_OK, fs != nullptr) << result;
    return fs;
  }

  SLFileSystemService* service =
      reinterpret_cast<SLFileSystemService*>(sl::filesystem::CreateFileSystemService().detach());
  ForeignFileSystem foreign, second;  // they outlive the service, which may still hold them
  const uint32_t defaultAtom = fstest::AtomOf("Default");
};

TEST_F(FileSystemServiceTest, HoldsItsDefaultTwiceAndAnswersBadRequests) {
  SLFileSystem* fs = Default();
  EXPECT_EQ(3u, RefCount(fs));  // the default reference, its registry entry, ours
  uint32_t atom = 0;
  EXPECT_EQ(SL_OK, fs->GetFileSystemName(fs, &atom));
  EXPECT_EQ(defaultAtom, atom);
  EXPECT_EQ(fs, Lookup(defaultAtom));
  EXPECT_EQ(4u, RefCount(fs));
  fstest::Release(fs);
  fstest::Release(fs);
  EXPECT_EQ(1u, RefCount(service));
  SLFileSystem* out = foreign.fs();
  fstest::ExpectCodes(
      service, "SLFileSystemService", 11,
      {"GetDefaultFileSystem", "RegisterFileSystem", "UnregisterFileSystem",
       "GetRegisteredFileSystemByName"},
      {
          FSTEST_ROW(service, 3, GetDefaultFileSystem(service, nullptr)),
          FSTEST_ROW(service, 3, RegisterFileSystem(service, nullptr)),
          FSTEST_ROW(service, 3, UnregisterFileSystem(service, nullptr)),
          FSTEST_ROW(service, 3, GetRegisteredFileSystemByName(service, defaultAtom, nullptr)),
          FSTEST_ROW(service, 3, GetRegisteredFileSystemByName(service, 0, &out)),
          FSTEST_ROW(service, 11, GetRegisteredFileSystemByName(service, 0x5150, &out)),
          FSTEST_ROW(service, 11, UnregisterFileSystem(service, foreign.fs())),
          FSTEST_ROW(service, 16, RegisterFileSystem(service, fs)),
      });
  EXPECT_EQ(foreign.fs(), out);
  EXPECT_EQ(0, foreign.addRefs + foreign.releases);
  EXPECT_EQ(2u, RefCount(fs));
}

// Whichever object holds a name keeps it; any object of that name removes the entry, and the
// reference released is the entry's.
TEST_F(FileSystemServiceTest, TheNameDecidesAndTheRegistryHoldsItsOwnReference) {
  SLFileSystem* fs = Default();
  foreign.nameAtom = defaultAtom;
  EXPECT_EQ(SL_ALREADY_EXISTS, Register(foreign.fs()));
  EXPECT_EQ(SL_OK, Unregister(foreign.fs()));
  EXPECT_EQ(0, foreign.addRefs + foreign.releases);
  EXPECT_EQ(2u, RefCount(fs));
  EXPECT_EQ(nullptr, Lookup(defaultAtom));
  EXPECT_EQ(SL_NOT_FOUND, Unregister(fs));
  EXPECT_EQ(fs, Default());  // the default reference stays, and the default can come back
  EXPECT_EQ(SL_OK, Register(fs));
  EXPECT_EQ(4u, RefCount(fs));
  fstest::Release(fs);
  fstest::Release(fs);

  second.nameAtom = 0x5150;
  ASSERT_EQ(SL_OK, Register(second.fs()));
  EXPECT_EQ(1u, second.calls.size());
  EXPECT_EQ(1, second.addRefs);
  EXPECT_EQ(second.fs(), Lookup(0x5150));
  EXPECT_EQ(2, second.addRefs);
  foreign.nameAtom = 0x5150;
  EXPECT_EQ(SL_OK, Unregister(foreign.fs()));
  EXPECT_EQ(1, second.releases);
  EXPECT_EQ(nullptr, Lookup(0x5150));
}

// The name entry is called by the calling rules; a failure with a record of its own leaves the
// entry as an exception, one without is ignored and the key is what the entry left.
TEST_F(FileSystemServiceTest, NameEntriesAreCalledByTheCallingRules) {
  foreign.nameResult = SL_ALREADY_EXISTS;
  foreign.hasErrorRecord = true;
  foreign.record = {16, 4242, u"Foreign::GetFileSystemName() failed", "f", "s"};
  try {
    Register(foreign.fs());
    ADD_FAILURE() << "no exception";
  } catch (const ServiceObjectException& e) {
    EXPECT_EQ(16u, e.code());
    EXPECT_EQ(4242u, e.info().line);
    EXPECT_EQ(u"Foreign::GetFileSystemName() failed", std::u16string(e.info().message));
  }
  EXPECT_EQ(0, foreign.addRefs);
  EXPECT_EQ(SL_NOT_FOUND, fstest::LastFailure(service).status);  // nothing recorded here
  foreign.nameResult = SL_OK;
  ASSERT_EQ(SL_OK, Register(foreign.fs()));
  foreign.nameResult = SL_OS_FAILURE;
  EXPECT_THROW(Unregister(foreign.fs()), ServiceObjectException);
  second.nameResult = SL_NOT_FOUND;  // fails without a record: the key stays 0xFFFFFFFF
  second.table.header.GetErrorInfo = nullptr;
  ASSERT_EQ(SL_OK, Register(second.fs()));
  EXPECT_EQ(foreign.fs(), Lookup(0x1234));  // still registered
  EXPECT_EQ(second.fs(), Lookup(SL_UNRESOLVED_ATOM));

  ForeignFileSystem shortTable(0), noEntry, nameOnly(8), uncounted;
  noEntry.table.GetFileSystemName = nullptr;
  nameOnly.nameAtom = 0x7170;
  EXPECT_EQ(SL_OK, Unregister(noEntry.fs()));  // removes the 0xFFFFFFFF entry
  EXPECT_EQ(1, second.releases);
  EXPECT_EQ(SL_OK, Register(shortTable.fs()));
  EXPECT_TRUE(shortTable.calls.empty());
  EXPECT_EQ(SL_ALREADY_EXISTS, Register(noEntry.fs()));
  EXPECT_EQ(shortTable.fs(), Lookup(SL_UNRESOLVED_ATOM));
  EXPECT_EQ(SL_OK, Register(nameOnly.fs()));
  EXPECT_EQ(1u, nameOnly.calls.size());
  EXPECT_EQ(nameOnly.fs(), Lookup(0x7170));

  // Without AddRef and Release, and named 0, which no lookup may ask for.
  uncounted.table.header.AddRef = nullptr;
  uncounted.table.header.Release = nullptr;
  uncounted.nameAtom = 0;
  ASSERT_EQ(SL_OK, Register(uncounted.fs()));
  EXPECT_EQ(SL_ALREADY_EXISTS, Register(uncounted.fs()));
  EXPECT_EQ(SL_OK, Unregister(uncounted.fs()));
  EXPECT_EQ(SL_NOT_FOUND, Unregister(uncounted.fs()));
  EXPECT_EQ(0, uncounted.addRefs + uncounted.releases);
  EXPECT_EQ(0u, fstest::Release(service));  // before the file systems above go
  service = nullptr;
}

TEST_F(FileSystemServiceTest, DestructionReleasesEveryReferenceOnce) {
  for (bool defaultRegistered : {true, false}) {
    ForeignFileSystem entry;
    ASSERT_EQ(SL_OK, Register(entry.fs()));
    SLFileSystem* fs = Default();
    ServiceObjectWeakRef* weak = nullptr;
    ASSERT_EQ(SL_OK, fs->header.GetWeakRef(reinterpret_cast<ServiceObject*>(fs), &weak));
    if (!defaultRegistered) {  // another object holds the default's name
      ASSERT_EQ(SL_OK, Unregister(fs));
      second.nameAtom = defaultAtom;
      ASSERT_EQ(SL_OK, Register(second.fs()));
    }
    EXPECT_EQ(0u, fstest::Release(service));
    service =
        reinterpret_cast<SLFileSystemService*>(sl::filesystem::CreateFileSystemService().detach());
    EXPECT_EQ(1, entry.releases);
    EXPECT_EQ(defaultRegistered ? 0 : 1, second.releases);
    EXPECT_EQ(1u, RefCount(fs));  // the service's references went; ours still works
    uint32_t atom = 0;
    EXPECT_EQ(SL_OK, fs->GetFileSystemName(fs, &atom));
    EXPECT_EQ(0u, fstest::Release(fs));
    EXPECT_EQ(0, weak->IsAlive(weak));
    EXPECT_EQ(0u, weak->Release(weak));
  }
}

}  // namespace
