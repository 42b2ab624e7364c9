// Per-thread failure records, their message format, and the result check on other objects.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>

#include "runtime/calling_rules.h"
#include "runtime/failure_report.h"
#include "common/foreign_object.h"
#include "common/test_objects.h"

namespace {

std::u16string Text(const SLChar16* message) { return message ? std::u16string(message) : u""; }

constexpr const char* kGetCountFunction =
    "SOImpl::CppSLFileSystemSearchResultBase<struct SLFileSystemSearchResultImpl,"
    "class SODetails::ServiceObjectTraits>::GetCountImpl::staticF";

class FailureRecords : public ::testing::Test {
 protected:
  void SetUp() override { probe_ = sltest::MakeProbe(); }
  void TearDown() override { object()->header.Release(object()); }
  ServiceObject* object() { return probe_->AsObject(); }
  SLResult CallGetCount(SLResult code) {
    probe_->nextResult = code;
    uint64_t count = 0;
    return probe_->AsInterface()->GetCount(probe_->AsInterface(), &count);
  }
  SLResult Read(SLErrorInfo* info) { return object()->header.GetErrorInfo(object(), info, 0); }

  sltest::ProbeObject* probe_ = nullptr;
};

TEST_F(FailureRecords, NonFailuresLeaveNoRecordAndTheOutRecordZeroed) {
  EXPECT_EQ(CallGetCount(0), 0u);
  EXPECT_EQ(CallGetCount(1), 1u);
  EXPECT_EQ(CallGetCount(13), 13u);
  SLErrorInfo info;
  std::memset(&info, 0xAB, sizeof(info));
  EXPECT_EQ(Read(&info), SL_NOT_FOUND);
  const SLErrorInfo zero{};
  EXPECT_EQ(std::memcmp(&info, &zero, sizeof(info)), 0);
}

TEST_F(FailureRecords, NullOutPointerGives3) { EXPECT_EQ(Read(nullptr), SL_INVALID_ARGUMENT); }

TEST_F(FailureRecords, AFailureRecordsCodeLineMessageFunctionAndSource) {
  EXPECT_EQ(CallGetCount(SL_NOT_FOUND), SL_NOT_FOUND);
  SLErrorInfo info{};
  ASSERT_EQ(Read(&info), SL_OK);
  EXPECT_EQ(info.code, 11u);
  EXPECT_EQ(info.line, 6u);
  EXPECT_EQ(Text(info.message), u"SLFileSystemSearchResult::GetCount() failed, code: 0x0000000b");
  EXPECT_STREQ(info.functionName, kGetCountFunction);
  const std::string source = info.sourceFile;
  const std::string tail = "Support/include/support/details/FileSystemSearchResult";
  ASSERT_GE(source.size(), tail.size());
  EXPECT_EQ(source.substr(source.size() - tail.size()), tail);

  // The second entry reports its own name and line.
  probe_->nextResult = SL_ALREADY_EXISTS;
  probe_->AsInterface()->GetFileInfo(probe_->AsInterface(), 0, nullptr);
  ASSERT_EQ(Read(&info), SL_OK);
  EXPECT_EQ(info.line, 7u);
  EXPECT_EQ(Text(info.message),
            u"SLFileSystemSearchResult::GetFileInfo() failed, code: 0x00000010");
}

TEST_F(FailureRecords, SuccessAfterAFailureKeepsTheFailure) {
  CallGetCount(SL_OS_FAILURE);
  CallGetCount(SL_OK);
  SLErrorInfo info{};
  ASSERT_EQ(Read(&info), SL_OK);
  EXPECT_EQ(info.code, 7u);
}

TEST_F(FailureRecords, LaterFailureOverwritesInPlace) {
  CallGetCount(SL_NOT_FOUND);
  SLErrorInfo first{};
  ASSERT_EQ(Read(&first), SL_OK);
  CallGetCount(SL_ACCESS_DENIED);
  SLErrorInfo second{};
  ASSERT_EQ(Read(&second), SL_OK);
  EXPECT_EQ(second.code, 15u);
  EXPECT_EQ(second.message, first.message);
  EXPECT_EQ(Text(second.message), u"SLFileSystemSearchResult::GetCount() failed, code: 0x0000000f");
}

TEST_F(FailureRecords, OtherThreadsSeeNothingAndKeepTheirOwn) {
  CallGetCount(SL_NOT_FOUND);
  std::thread other([this] {
    SLErrorInfo info{};
    EXPECT_EQ(Read(&info), SL_NOT_FOUND);
    CallGetCount(SL_ACCESS_DENIED);
    ASSERT_EQ(Read(&info), SL_OK);
    EXPECT_EQ(info.code, 15u);
  });
  other.join();
  SLErrorInfo mine{};
  ASSERT_EQ(Read(&mine), SL_OK);
  EXPECT_EQ(mine.code, 11u);
}

TEST_F(FailureRecords, RecordsOfOneObjectAreInvisibleOnAnother) {
  CallGetCount(SL_NOT_FOUND);
  sltest::ProbeObject* other = sltest::MakeProbe();
  SLErrorInfo info{};
  EXPECT_EQ(other->AsObject()->header.GetErrorInfo(other->AsObject(), &info, 0), SL_NOT_FOUND);
  other->AsObject()->header.Release(other->AsObject());
}

TEST(ReportFailure, CutsLongMessagesTo511UnitsAndTerminates) {
  SODetails::ErrorRecords records;
  const std::u16string longName(600, u'x');
  SODetails::ReportFailure(records, 7, longName.c_str(), longName.size(), u"Entry", "f", "s", 1);
  ASSERT_EQ(records.byThread.size(), 1u);
  const ErrorInfo& info = records.byThread.begin()->second;
  EXPECT_EQ(info.length, 511u);
  EXPECT_EQ(info.message[510], u'x');
  EXPECT_EQ(info.message[511], u'\0');
}

TEST(ReportFailure, SkipsEmptyInterfaceNamesAndNullEntryNames) {
  SODetails::ErrorRecords records;
  SODetails::ReportFailure(records, 7, u"", 0, u"Entry", "f", "s", 1);
  SODetails::ReportFailure(records, 7, u"Iface", 5, nullptr, "f", "s", 1);
  EXPECT_TRUE(records.byThread.empty());
}

TEST(ReportFailure, ZeroesTheUnitsBehindTheTerminator) {
  SODetails::ErrorRecords records;
  const std::u16string name(100, u'y');
  SODetails::ReportFailure(records, 7, name.c_str(), name.size(), u"E", "f", "s", 1);
  SODetails::ReportFailure(records, 3, u"I", 1, u"E", "f", "s", 2);
  const ErrorInfo& info = records.byThread.begin()->second;
  EXPECT_EQ(std::u16string(info.message), u"I::E() failed, code: 0x00000003");
  for (uint32_t i = info.length; i < ErrorInfo::kMessageUnits; ++i) ASSERT_EQ(info.message[i], 0);
}

TEST(ThrowOnServiceError, RaisesTheOtherObjectsRecord) {
  sltest::ForeignFileSystem foreign;
  foreign.hasErrorRecord = true;
  foreign.record = {16, 99, u"Foreign::Thing() failed", "ForeignFunction", "foreign.cpp"};
  try {
    SODetails::ThrowOnServiceError(reinterpret_cast<ServiceObject*>(foreign.fs()), 16);
    FAIL() << "no exception";
  } catch (const ServiceObjectException& e) {
    EXPECT_EQ(e.code(), 16u);
    EXPECT_EQ(e.info().line, 99u);
    EXPECT_EQ(std::u16string(e.info().message), u"Foreign::Thing() failed");
    EXPECT_EQ(e.info().length, 23u);
    EXPECT_STREQ(e.info().functionName, "ForeignFunction");
    EXPECT_STREQ(e.info().sourceFile, "foreign.cpp");
  }
}

TEST(ThrowOnServiceError, StaysQuietForNonFailuresMissingRecordsAndMissingEntries) {
  sltest::ForeignFileSystem foreign;
  auto* object = reinterpret_cast<ServiceObject*>(foreign.fs());
  foreign.hasErrorRecord = true;
  EXPECT_NO_THROW(SODetails::ThrowOnServiceError(object, 0));
  EXPECT_NO_THROW(SODetails::ThrowOnServiceError(object, 1));
  EXPECT_NO_THROW(SODetails::ThrowOnServiceError(object, 13));
  foreign.hasErrorRecord = false;
  EXPECT_NO_THROW(SODetails::ThrowOnServiceError(object, 16));
  foreign.hasErrorRecord = true;
  foreign.table.header.GetErrorInfo = nullptr;
  EXPECT_NO_THROW(SODetails::ThrowOnServiceError(object, 16));
}

TEST(ThrowOnServiceError, NullMessageGivesAnEmptyOne) {
  sltest::ForeignFileSystem foreign;
  foreign.hasErrorRecord = true;
  foreign.record = {3, 1, nullptr, nullptr, nullptr};
  try {
    SODetails::ThrowOnServiceError(reinterpret_cast<ServiceObject*>(foreign.fs()), 3);
    FAIL() << "no exception";
  } catch (const ServiceObjectException& e) {
    EXPECT_EQ(e.info().length, 0u);
    EXPECT_EQ(e.info().message[0], 0);
  }
}

// The calling rules, applied to a host's object with a hand-written table.
TEST(CallingRules, ShortTablesAndNullEntriesAreNotCalled) {
  sltest::ForeignFileSystem foreign(0);  // table size 0: not even entry 0
  SLResult result = 99;
  uint32_t atom = 0;
  EXPECT_FALSE(SL_CALL_ENTRY(foreign.fs(), SLFileSystem, GetFileSystemName, &result, &atom));
  EXPECT_TRUE(foreign.calls.empty());
  EXPECT_EQ(result, 99u);

  foreign.table.header.tableSize = 8;  // entry 0 only
  EXPECT_TRUE(SL_CALL_ENTRY(foreign.fs(), SLFileSystem, GetFileSystemName, &result, &atom));
  EXPECT_EQ(atom, 0x1234u);
  foreign.table.CreateFolder = [](SLFileSystem*, const SLChar16*) -> SLResult { return 0; };
  EXPECT_FALSE(SL_CALL_ENTRY(foreign.fs(), SLFileSystem, CreateFolder, &result, u"x"))
      << "entry 1 lies beyond a table of 8 bytes even though its pointer is set";

  foreign.table.header.tableSize = SL_FILESYSTEM_TABLE_SIZE;
  foreign.table.GetFileSystemName = nullptr;
  EXPECT_FALSE(SL_CALL_ENTRY(foreign.fs(), SLFileSystem, GetFileSystemName, &result, &atom));
}

TEST(CallingRules, AFailingCallWithARecordThrows) {
  sltest::ForeignFileSystem foreign;
  foreign.nameResult = SL_ALREADY_EXISTS;
  foreign.hasErrorRecord = true;
  foreign.record = {16, 11, u"x", "f", "s"};
  SLResult result = 0;
  uint32_t atom = 0;
  EXPECT_THROW(SL_CALL_ENTRY(foreign.fs(), SLFileSystem, GetFileSystemName, &result, &atom),
               ServiceObjectException);
  EXPECT_EQ(result, 16u);
}

}  // namespace
