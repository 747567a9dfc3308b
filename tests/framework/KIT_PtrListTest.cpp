#include "framework/KIT_PtrList.h"

#include "toolkit/KIT_Alloc.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// Records its id in a shared log when destroyed.
struct Tracked {
    Tracked(int id, std::vector<int>* log) : mId(id), mLog(log) {}
    ~Tracked() { mLog->push_back(mId); }
    int mId;
    std::vector<int>* mLog;
};

std::vector<int>* gCustomLog = nullptr;
void CustomDelete(Tracked* t) {
    gCustomLog->push_back(-t->mId);
    delete t;
}

void* FailingRealloc(void*, size_t) {
    return nullptr;
}
void* FailingMalloc(size_t) {
    return nullptr;
}

TEST(KIT_PtrList, AddGetFindOutOfRange) {
    int a = 1, b = 2, c = 3;
    KIT_PtrList<int> list;
    EXPECT_EQ(list.GetSize(), 0);
    EXPECT_EQ(list.Get(0), nullptr);
    EXPECT_EQ(list.Add(&a), &a);
    EXPECT_EQ(list.Add(&b), &b);
    EXPECT_EQ(list.GetSize(), 2);
    EXPECT_EQ(list.Get(0), &a);
    EXPECT_EQ(list.Get(1), &b);
    EXPECT_EQ(list.Get(-1), nullptr);
    EXPECT_EQ(list.Get(list.GetSize()), nullptr);
    EXPECT_EQ(list.Find(&b), 1);
    EXPECT_EQ(list.Find(&c), -1);
    EXPECT_EQ(list.Find(nullptr), -1);
}

struct InsertCase {
    int index;
    int expectedPosition;
};

class KIT_PtrListInsert : public ::testing::TestWithParam<InsertCase> {};

TEST_P(KIT_PtrListInsert, ClampsIndex) {
    int items[3] = {0, 1, 2};
    int p = 99;
    KIT_PtrList<int> list;
    for (int& i : items) list.Add(&i);
    EXPECT_EQ(list.Insert(GetParam().index, &p), &p);
    ASSERT_EQ(list.GetSize(), 4);
    EXPECT_EQ(list.Find(&p), GetParam().expectedPosition);
    // The other entries keep their order around the inserted one.
    int next = 0;
    for (int i = 0; i < 4; ++i)
        if (i != GetParam().expectedPosition) {
            EXPECT_EQ(list.Get(i), &items[next++]);
        }
}

INSTANTIATE_TEST_SUITE_P(Indices, KIT_PtrListInsert,
                         ::testing::Values(InsertCase{-5, 0}, InsertCase{0, 0}, InsertCase{1, 1},
                                           InsertCase{3, 3}, InsertCase{99, 3}));

TEST(KIT_PtrList, DeleteRemovesAndOptionallyDestroys) {
    std::vector<int> log;
    KIT_PtrList<Tracked> list;
    Tracked keep(7, &log);
    for (int i = 0; i < 3; ++i) list.Add(new Tracked(i, &log));
    list.Add(&keep);

    list.Delete(-1, true);
    list.Delete(4, true);
    EXPECT_EQ(list.GetSize(), 4);
    EXPECT_TRUE(log.empty());

    list.Delete(1, true);
    EXPECT_EQ(log, std::vector<int>({1}));
    ASSERT_EQ(list.GetSize(), 3);
    EXPECT_EQ(list.Get(0)->mId, 0);
    EXPECT_EQ(list.Get(1)->mId, 2);

    list.Delete(2, false); // the stack item: removed, not destroyed
    EXPECT_EQ(list.GetSize(), 2);
    EXPECT_EQ(log, std::vector<int>({1}));

    gCustomLog = &log;
    list.Delete(0, true, CustomDelete);
    EXPECT_EQ(log, std::vector<int>({1, 0, 0}));
    list.Empty(true);
}

TEST(KIT_PtrList, EmptyDestroysLastToFirstAndSkipsNull) {
    std::vector<int> log;
    KIT_PtrList<Tracked> list;
    for (int i = 0; i < 4; ++i) list.Add(new Tracked(i, &log));
    list.Insert(2, nullptr);
    list.Empty(true);
    EXPECT_EQ(log, std::vector<int>({3, 2, 1, 0}));
    EXPECT_EQ(list.GetSize(), 0);
    EXPECT_EQ(list.Get(0), nullptr);

    // The list stays usable after emptying.
    Tracked t(5, &log);
    EXPECT_EQ(list.Add(&t), &t);
    list.Empty(false);
    EXPECT_EQ(list.GetSize(), 0);
}

TEST(KIT_PtrList, FailedGrowthStoresNothingAndReturnsNull) {
    int a = 1, b = 2;
    KIT_PtrList<int> list;
    list.Add(&a);
    // With the heap failing, adds succeed while the block has room; the first
    // one that needs a larger block must fail.
    KIT_SetAllocHooks({FailingMalloc, FailingRealloc, nullptr});
    int* added = &a;
    while (added && list.GetSize() < 1000000) added = list.Add(&a);
    const int full = list.GetSize();
    added = list.Add(&b);
    int* inserted = list.Insert(0, &b);
    KIT_ResetAllocHooks();

    ASSERT_LT(full, 1000000);
    EXPECT_EQ(added, nullptr);
    EXPECT_EQ(inserted, nullptr);
    EXPECT_EQ(list.GetSize(), full);
    EXPECT_EQ(list.Find(&b), -1);
    EXPECT_EQ(list.Get(0), &a);
}

} // namespace
