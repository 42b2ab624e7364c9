// The class registry on lists of its own: the walk that resolves atoms lazily from the head up
// to the match, the class list built once, and the reference atom library beneath both.
#include <gtest/gtest.h>

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
  EXPECT_EQ(0u, SLGetAtomFromString(name, &atom));
  return atom;
}

ObjectPtr MakeProbeObject() { return ObjectPtr::Adopt(sltest::AsObject(sltest::MakeProbe())); }

// A list, from its head: a record whose name the atom library cannot resolve, one without a
// factory, one whose factory makes nothing, then C, B and A.
struct Records {
  ServiceFactoryRecord* head = nullptr;
  ServiceFactoryRecord a{&head, "RegistryA", &MakeProbeObject};
  ServiceFactoryRecord b{&head, "RegistryB", &MakeProbeObject};
  ServiceFactoryRecord c{&head, "RegistryC", &MakeProbeObject};
  ServiceFactoryRecord nothing{&head, "RegistryNothing", [] { return ObjectPtr(); }};
  ServiceFactoryRecord empty{&head, "RegistryEmpty", {}};
  ServiceFactoryRecord unnamed{&head, nullptr, &MakeProbeObject};
  // 'r' for each record from the head whose atom has been resolved, '-' for the others.
  std::string Resolved() const {
    std::string marks;
    for (const ServiceFactoryRecord* r = head; r != nullptr; r = r->next) {
      marks += r->classAtom.load() == SL_UNRESOLVED_ATOM ? '-' : 'r';
    }
    return marks;
  }
};

TEST(ClassWalk, ResolvesFromTheHeadUpToTheMatchAndMakesANewObjectEachTime) {
  const struct {
    const char* name;  // the class asked for; nullptr: `atom` itself
    uint32_t atom;
    bool nullOut;
    SLResult code;
    const char* resolved;
  } rows[] = {
      {"RegistryB", 0, false, SL_OK, "-rrrr-"},
      {"RegistryUnknown", 0, false, SL_NOT_FOUND, "-rrrrr"},
      {nullptr, 0, false, SL_INVALID_ARGUMENT, "------"},
      {"RegistryB", 0, true, SL_INVALID_ARGUMENT, "------"},
      {"RegistryEmpty", 0, false, SL_NO_OBJECT, "-r----"},
      {"RegistryNothing", 0, false, SL_NO_OBJECT, "-rr---"},
      // The head record stays unresolved, so it is the class of the unresolved marker itself;
      // nothing behind it is resolved.
      {nullptr, SL_UNRESOLVED_ATOM, false, SL_OK, "------"},
  };
  for (const auto& row : rows) {
    Records records;
    const uint32_t atom = row.name != nullptr ? AtomOf(row.name) : row.atom;
    ServiceObject* const untouched = reinterpret_cast<ServiceObject*>(0x1);
    ServiceObject* object = untouched;
    EXPECT_EQ(row.code, CreateFromList(records.head, atom, row.nullOut ? nullptr : &object))
        << &row - rows;
    EXPECT_EQ(row.resolved, records.Resolved()) << &row - rows;
    if (row.code != SL_OK) {
      EXPECT_EQ(untouched, object);
      continue;
    }
    ServiceObject* another = nullptr;
    ASSERT_EQ(SL_OK, CreateFromList(records.head, atom, &another));
    EXPECT_NE(another, object);
    EXPECT_EQ(1u, object->header.GetRefCount(object));
    for (ServiceObject* made : {object, another}) made->header.Release(made);
  }
  ServiceObject* object = nullptr;
  EXPECT_EQ(SL_NOT_FOUND, CreateFromList(nullptr, AtomOf("RegistryA"), &object));
}

TEST(ClassList, IsBuiltOnceWithTheAtomsOfThatMoment) {
  ServiceFactoryRecord* head = nullptr;
  ClassList none(&head);
  const ServiceObjectInfo* info = reinterpret_cast<const ServiceObjectInfo*>(0x1);
  uint32_t count = 7;
  EXPECT_EQ(SL_NOT_FOUND, none.Reflect(&info, &count));
  EXPECT_EQ(nullptr, info);
  EXPECT_EQ(0u, count);

  ServiceFactoryRecord a(&head, "ListA", &MakeProbeObject), b(&head, "ListB", &MakeProbeObject);
  ServiceObject* object = nullptr;
  ASSERT_EQ(SL_OK, CreateFromList(head, AtomOf("ListB"), &object));  // resolves B only
  object->header.Release(object);
  ClassList list(&head);
  EXPECT_EQ(SL_INVALID_ARGUMENT, list.Reflect(nullptr, &count));
  EXPECT_EQ(SL_INVALID_ARGUMENT, list.Reflect(&info, nullptr));
  ASSERT_EQ(SL_OK, list.Reflect(&info, &count));
  ASSERT_EQ(2u, count);
  EXPECT_STREQ("ListB", info[0].className);
  EXPECT_EQ(AtomOf("ListB"), info[0].classAtom);
  EXPECT_STREQ("ListA", info[1].className);
  EXPECT_EQ(SL_UNRESOLVED_ATOM, info[1].classAtom);
  const ServiceObjectInfo zero{};
  EXPECT_EQ(0, std::memcmp(&info[2], &zero, sizeof zero)) << "a zeroed record ends the array";

  ASSERT_EQ(SL_OK, CreateFromList(head, AtomOf("ListA"), &object));
  object->header.Release(object);
  const ServiceObjectInfo* again = nullptr;
  ASSERT_EQ(SL_OK, list.Reflect(&again, &count));
  EXPECT_EQ(info, again);
  EXPECT_EQ(SL_UNRESOLVED_ATOM, again[1].classAtom) << "the array keeps its first values";
}

TEST(ClassList, ConcurrentFirstCallsAgree) {
  ServiceFactoryRecord* head = nullptr;
  ServiceFactoryRecord a(&head, "RaceA", &MakeProbeObject), b(&head, "RaceB", &MakeProbeObject);
  ClassList list(&head);
  const uint32_t atomA = AtomOf("RaceA");
  std::vector<std::thread> threads;
  std::vector<const ServiceObjectInfo*> seen(4);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      uint32_t count = 0;
      list.Reflect(&seen[t], &count);
      ServiceObject* object = nullptr;
      ASSERT_EQ(SL_OK, CreateFromList(head, atomA, &object));
      object->header.Release(object);
    });
  }
  for (auto& thread : threads) thread.join();
  for (int t = 1; t < 4; ++t) EXPECT_EQ(seen[0], seen[t]);
  EXPECT_EQ(atomA, a.classAtom.load());
}

// Equal names give equal atoms, never 0 nor the unresolved marker.
TEST(AtomLibrary, InternsNamesAndRefusesNullArguments) {
  uint32_t atom = 77;
  EXPECT_EQ(3u, SLGetAtomFromString(nullptr, &atom));
  EXPECT_EQ(77u, atom);
  EXPECT_EQ(3u, SLGetAtomFromString("x", nullptr));
  const uint32_t a = AtomOf("AtomA"), b = AtomOf("AtomB");
  EXPECT_EQ(a, AtomOf("AtomA"));
  EXPECT_NE(a, b);
  for (uint32_t interned : {a, b}) EXPECT_TRUE(interned != 0 && interned != SL_UNRESOLVED_ATOM);
}

}  // namespace
