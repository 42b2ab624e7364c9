// The binary layout of object headers: interface ids, sizes, entry slots, markers, stamps, and
// the two construction stages.
#include <gtest/gtest.h>

#include <cstring>

#include "runtime/fnv1a.h"
#include "support/details/FileSystemCalls"
#include "support/details/FileSystemServiceCalls"
#include "support/details/StreamServiceCalls"
#include "common/test_objects.h"

namespace {

TEST(InterfaceIds, AreTheLow32BitsOfFnv1a64OfTheName) {
  EXPECT_EQ(SODetails::InterfaceIdOf("SLFileSystem"), 0xA3A0DE85u);
  EXPECT_EQ(SODetails::InterfaceIdOf("SLFileSystemService"), 0x56000904u);
  EXPECT_EQ(SODetails::InterfaceIdOf("SLFileSystemSearchResult"), 0x856FD608u);
  EXPECT_EQ(SODetails::InterfaceIdOf("SLStreamService"), 0xD107D9F9u);
  // Known FNV-1a 64 vectors: "" and "a" keep their low halves.
  EXPECT_EQ(SODetails::InterfaceIdOf(""), 0x84222325u);
  EXPECT_EQ(SODetails::InterfaceIdOf("a"), 0x8601ec8cu);
}

// A glue base on its own has finished only the interface stage.
struct StreamStageOne : SOImpl::CppSLStreamServiceBase<StreamStageOne, SODetails::ServiceObjectTraits> {
  SLResult OpenMemReadStream(const void*, uint64_t, SLStreamHandle*) { return 0; }
  SLResult OpenFileReadStream(SLFileSystem*, SLFileHandle, SLStreamHandle*) { return 0; }
  SLResult OpenFileWriteStream(SLFileSystem*, SLFileHandle, SLStreamHandle*) { return 0; }
  SLResult OpenReadStream(const SLReadHandler*, void*, SLStreamHandle*) { return 0; }
  SLResult OpenWriteStream(const SLWriteHandler*, void*, SLStreamHandle*) { return 0; }
  SLResult ReadStream(SLStreamHandle, void*, uint64_t, uint64_t*) { return 0; }
  SLResult WriteStream(SLStreamHandle, const void*, uint64_t, uint64_t*) { return 0; }
  SLResult FlushStream(SLStreamHandle) { return 0; }
  SLResult CloseStream(SLStreamHandle) { return 0; }
};

TEST(ConstructionStages, InterfaceStageWritesEntriesButNoBaseEntriesAndStampZero) {
  StreamStageOne stage;
  const SLStreamService& table = stage.table_;
  EXPECT_EQ(table.header.interfaceId, SL_STREAM_SERVICE_ID);
  EXPECT_EQ(table.header.tableSize, 72u);
  EXPECT_STREQ(table.header.interfaceName, "SLStreamService");
  EXPECT_EQ(table.header.AddRef, nullptr);
  EXPECT_EQ(table.header.Release, nullptr);
  EXPECT_EQ(table.header.GetRefCount, nullptr);
  EXPECT_EQ(table.header.GetWeakRef, nullptr);
  EXPECT_EQ(table.header.GetErrorInfo, nullptr);
  EXPECT_NE(table.OpenMemReadStream, nullptr);
  EXPECT_NE(table.CloseStream, nullptr);
  EXPECT_EQ(std::memcmp(table.endMarker, "EOFT", 4), 0);
  EXPECT_EQ(table.tableStamp, 0u);
}

TEST(ConstructionStages, ObjectStageAddsBaseEntriesStampAndCore) {
  sltest::ProbeObject* probe = sltest::MakeProbe();
  const auto* bytes = reinterpret_cast<const unsigned char*>(probe->AsObject());
  const SLFileSystemSearchResult& table = *probe->AsInterface();

  EXPECT_EQ(static_cast<const void*>(bytes), static_cast<const void*>(probe))
      << "the header is the first thing in the object's memory";
  uint32_t id = 0, size = 0, stamp = 0;
  std::memcpy(&id, bytes + 0, 4);
  std::memcpy(&size, bytes + 4, 4);
  std::memcpy(&stamp, bytes + 60 + 16, 4);
  EXPECT_EQ(id, 0x856FD608u);
  EXPECT_EQ(size, 16u);
  EXPECT_EQ(std::memcmp(bytes + 56 + 16, "EOFT", 4), 0);
  EXPECT_EQ(stamp, 0xB1C0C294u);
  for (auto entry : {reinterpret_cast<const void*>(table.header.AddRef),
                     reinterpret_cast<const void*>(table.header.Release),
                     reinterpret_cast<const void*>(table.header.GetRefCount),
                     reinterpret_cast<const void*>(table.header.GetWeakRef),
                     reinterpret_cast<const void*>(table.header.GetErrorInfo),
                     reinterpret_cast<const void*>(table.GetCount),
                     reinterpret_cast<const void*>(table.GetFileInfo)}) {
    EXPECT_NE(entry, nullptr);
  }
  EXPECT_EQ(std::memcmp(probe->core.marker, "EOSO", 4), 0);
  EXPECT_EQ(table.header.GetRefCount(probe->AsObject()), 1u);
  EXPECT_EQ(table.header.Release(probe->AsObject()), 0u);
}

// Whatever the implementation adds comes after the header and before the core.
TEST(ConstructionStages, ImplementationDataSitsBetweenHeaderAndCore) {
  sltest::ProbeObject* probe = sltest::MakeProbe();
  const auto* base = reinterpret_cast<const char*>(probe);
  const auto* data = reinterpret_cast<const char*>(&probe->nextResult);
  const auto* core = reinterpret_cast<const char*>(&probe->core);
  EXPECT_GE(data - base, static_cast<std::ptrdiff_t>(sizeof(SLFileSystemSearchResult)));
  EXPECT_GT(core, data);
  probe->AsObject()->header.Release(probe->AsObject());
}

TEST(InterfaceTables, StampsAndSizesOfAllFourInterfaces) {
  using FsBase = SOImpl::CppSLFileSystemBase<void, SODetails::ServiceObjectTraits>;
  using FssBase = SOImpl::CppSLFileSystemServiceBase<void, SODetails::ServiceObjectTraits>;
  using SsBase = SOImpl::CppSLStreamServiceBase<void, SODetails::ServiceObjectTraits>;
  using SrBase = SOImpl::CppSLFileSystemSearchResultBase<void, SODetails::ServiceObjectTraits>;
  EXPECT_EQ(FsBase::kTableStamp, 0x124A777Fu);
  EXPECT_EQ(FssBase::kTableStamp, 0xEAAA3D38u);
  EXPECT_EQ(SsBase::kTableStamp, 0x5224169Bu);
  EXPECT_EQ(SrBase::kTableStamp, 0xB1C0C294u);
  EXPECT_EQ(FsBase::kTableSize, 136u);
  EXPECT_EQ(FssBase::kTableSize, 32u);
  EXPECT_EQ(SsBase::kTableSize, 72u);
  EXPECT_EQ(SrBase::kTableSize, 16u);
  EXPECT_EQ(sizeof(FsBase), 64u + 136u);
  EXPECT_EQ(sizeof(SsBase), 64u + 72u);
}

}  // namespace
