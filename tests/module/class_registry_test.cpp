// The class registry on a list of its own: lazy atom resolution in list order, the class
// list built once, and the result codes of both exports' logic.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "common/test_objects.h"
#include "module/class_registry.h"

namespace {

using sl::module::ClassList;
using sl::module::CreateFromList;
using sl::module::ServiceFactoryRecord;
using ObjectPtr = SODetails::BasicServiceObjectPtr<ServiceObject>;

uint32_t AtomOf(const char* name) {
  uint32_t atom = SL_UNRESOLVED_ATOM;
  EXPECT_EQ(SLGetAtomFromString(name, &atom), 0u);
  return atom;
}

ObjectPtr MakeProbeObject() { return ObjectPtr::Adopt(sltest::AsObject(sltest::MakeProbe())); }

// Names unique to each test keep atoms of one test from resolving another's records.
class Registry : public ::testing::Test {
 protected:
  std::string Name(const char* base) {
    return std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + base;
  }
};

TEST_F(Registry, RecordsArePushedAtTheHead) {
  ServiceFactoryRecord* head = nullptr;
  ServiceFactoryRecord first(&head, "First", {});
  ServiceFactoryRecord second(&head, "Second", {});
  EXPECT_EQ(head, &second);
  EXPECT_EQ(second.next, &first);
  EXPECT_EQ(first.next, nullptr);
  EXPECT_EQ(first.classAtom.load(), SL_UNRESOLVED_ATOM);
}

TEST_F(Registry, CreateResolvesFromTheHeadUpToTheMatchOnly) {
  const std::string a = Name("A"), b = Name("B"), c = Name("C");
  ServiceFactoryRecord* head = nullptr;
  ServiceFactoryRecord recA(&head, a.c_str(), &MakeProbeObject);
  ServiceFactoryRecord recB(&head, b.c_str(), &MakeProbeObject);
  ServiceFactoryRecord recC(&head, c.c_str(), &MakeProbeObject);  // list: C, B, A
  ServiceObject* object = nullptr;
  ASSERT_EQ(CreateFromList(head, AtomOf(b.c_str()), &object), SL_OK);
  EXPECT_EQ(recC.classAtom.load(), AtomOf(c.c_str()));
  EXPECT_EQ(recB.classAtom.load(), AtomOf(b.c_str()));
  EXPECT_EQ(recA.classAtom.load(), SL_UNRESOLVED_ATOM) << "records behind the match wait";
  EXPECT_EQ(object->header.GetRefCount(object), 1u);

  ServiceObject* another = nullptr;
  ASSERT_EQ(CreateFromList(head, AtomOf(b.c_str()), &another), SL_OK);
  EXPECT_NE(another, object) << "each call makes a new object";
  object->header.Release(object);
  another->header.Release(another);
}

// The atom library refuses a null name and leaves the record's atom at 0xFFFFFFFF, which then
// equals a request for that marker: the walk stops there.
TEST_F(Registry, ARecordLeftUnresolvedIsTheClassOfTheUnresolvedMarker) {
  const std::string a = Name("A"), b = Name("B");
  ServiceFactoryRecord* head = nullptr;
  ServiceFactoryRecord recB(&head, b.c_str(), {});
  ServiceFactoryRecord unnamed(&head, nullptr, &MakeProbeObject);
  ServiceFactoryRecord recA(&head, a.c_str(), {});  // list: A, unnamed, B
  ServiceObject* object = nullptr;
  ASSERT_EQ(CreateFromList(head, SL_UNRESOLVED_ATOM, &object), SL_OK);
  EXPECT_EQ(recA.classAtom.load(), AtomOf(a.c_str()));
  EXPECT_EQ(recB.classAtom.load(), SL_UNRESOLVED_ATOM) << "records behind the match wait";
  object->header.Release(object);
}

TEST_F(Registry, UnknownAtomGives11AndResolvesEveryRecord) {
  const std::string a = Name("A"), b = Name("B");
  ServiceFactoryRecord* head = nullptr;
  ServiceFactoryRecord recA(&head, a.c_str(), &MakeProbeObject);
  ServiceFactoryRecord recB(&head, b.c_str(), &MakeProbeObject);
  ServiceObject* object = reinterpret_cast<ServiceObject*>(0x1);
  EXPECT_EQ(CreateFromList(head, AtomOf(Name("Unknown").c_str()), &object), SL_NOT_FOUND);
  EXPECT_EQ(object, reinterpret_cast<ServiceObject*>(0x1));
  EXPECT_NE(recA.classAtom.load(), SL_UNRESOLVED_ATOM);
  EXPECT_NE(recB.classAtom.load(), SL_UNRESOLVED_ATOM);
}

TEST_F(Registry, BadArgumentsGive3AndEmptyListGives11) {
  const std::string a = Name("A");
  ServiceFactoryRecord* head = nullptr;
  ServiceObject* object = nullptr;
  EXPECT_EQ(CreateFromList(head, 5, &object), SL_NOT_FOUND);
  ServiceFactoryRecord recA(&head, a.c_str(), &MakeProbeObject);
  EXPECT_EQ(CreateFromList(head, 0, &object), SL_INVALID_ARGUMENT);
  EXPECT_EQ(CreateFromList(head, AtomOf(a.c_str()), nullptr), SL_INVALID_ARGUMENT);
  EXPECT_EQ(recA.classAtom.load(), SL_UNRESOLVED_ATOM) << "argument checks come first";
}

TEST_F(Registry, EmptyFactoryOrNoObjectGives22) {
  const std::string empty = Name("Empty"), nothing = Name("Nothing");
  ServiceFactoryRecord* head = nullptr;
  ServiceFactoryRecord recEmpty(&head, empty.c_str(), {});
  ServiceFactoryRecord recNothing(&head, nothing.c_str(), [] { return ObjectPtr(); });
  ServiceObject* object = nullptr;
  EXPECT_EQ(CreateFromList(head, AtomOf(empty.c_str()), &object), SL_NO_OBJECT);
  EXPECT_EQ(CreateFromList(head, AtomOf(nothing.c_str()), &object), SL_NO_OBJECT);
  EXPECT_EQ(object, nullptr);
}

TEST_F(Registry, ClassListIsBuiltOnceWithTheAtomsOfThatMoment) {
  const std::string a = Name("A"), b = Name("B");
  ServiceFactoryRecord* head = nullptr;
  ServiceFactoryRecord recA(&head, a.c_str(), &MakeProbeObject);
  ServiceFactoryRecord recB(&head, b.c_str(), &MakeProbeObject);  // head
  ServiceObject* object = nullptr;
  ASSERT_EQ(CreateFromList(head, AtomOf(b.c_str()), &object), SL_OK);  // resolves B only
  object->header.Release(object);

  ClassList list(&head);
  const ServiceObjectInfo* info = nullptr;
  uint32_t count = 0;
  EXPECT_EQ(list.Reflect(nullptr, &count), SL_INVALID_ARGUMENT);
  EXPECT_EQ(list.Reflect(&info, nullptr), SL_INVALID_ARGUMENT);
  ASSERT_EQ(list.Reflect(&info, &count), SL_OK);
  ASSERT_EQ(count, 2u);
  EXPECT_STREQ(info[0].className, b.c_str());
  EXPECT_EQ(info[0].classAtom, AtomOf(b.c_str()));
  EXPECT_STREQ(info[1].className, a.c_str());
  EXPECT_EQ(info[1].classAtom, SL_UNRESOLVED_ATOM);
  const ServiceObjectInfo zero{};
  EXPECT_EQ(std::memcmp(&info[2], &zero, sizeof(zero)), 0);

  ASSERT_EQ(CreateFromList(head, AtomOf(a.c_str()), &object), SL_OK);
  object->header.Release(object);
  const ServiceObjectInfo* again = nullptr;
  ASSERT_EQ(list.Reflect(&again, &count), SL_OK);
  EXPECT_EQ(again, info);
  EXPECT_EQ(again[1].classAtom, SL_UNRESOLVED_ATOM) << "the array keeps its first values";
}

TEST_F(Registry, EmptyClassListGives11WithNullAndZero) {
  ServiceFactoryRecord* head = nullptr;
  ClassList list(&head);
  const ServiceObjectInfo* info = reinterpret_cast<const ServiceObjectInfo*>(0x1);
  uint32_t count = 7;
  EXPECT_EQ(list.Reflect(&info, &count), SL_NOT_FOUND);
  EXPECT_EQ(info, nullptr);
  EXPECT_EQ(count, 0u);
}

TEST_F(Registry, ConcurrentFirstCallsAgree) {
  const std::string a = Name("A"), b = Name("B");
  ServiceFactoryRecord* head = nullptr;
  ServiceFactoryRecord recA(&head, a.c_str(), &MakeProbeObject);
  ServiceFactoryRecord recB(&head, b.c_str(), &MakeProbeObject);
  ClassList list(&head);
  const uint32_t atomA = AtomOf(a.c_str());
  std::vector<std::thread> threads;
  std::vector<const ServiceObjectInfo*> seen(4);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      uint32_t count = 0;
      list.Reflect(&seen[t], &count);
      ServiceObject* object = nullptr;
      ASSERT_EQ(CreateFromList(head, atomA, &object), SL_OK);
      object->header.Release(object);
    });
  }
  for (auto& thread : threads) thread.join();
  for (int t = 1; t < 4; ++t) EXPECT_EQ(seen[t], seen[0]);
  EXPECT_EQ(recA.classAtom.load(), atomA);
}

}  // namespace
