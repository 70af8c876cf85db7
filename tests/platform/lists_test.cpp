// The pointer list, its locked variant, assignment between persistent
// objects and the rounding scale helper.
#include "rtl/classes.h"
#include "win/wintypes.h"

#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <thread>
#include <vector>

namespace {

int g_a, g_b, g_c;

TEST(PointerList, EditsKeepOrderAndIndexErrorsRaise)
{
    TList list;
    EXPECT_EQ(list.Add(&g_a), 0);
    EXPECT_EQ(list.Add(nullptr), 1);
    list.Insert(1, &g_b);
    list.Insert(3, &g_c);  // at the end
    EXPECT_EQ(list.Count(), 4);
    EXPECT_EQ(list[0], &g_a);
    EXPECT_EQ(list[1], &g_b);
    EXPECT_EQ(list[2], nullptr);
    EXPECT_EQ(list.Last(), &g_c);

    list.Move(0, 3);
    EXPECT_EQ(list.First(), &g_b);
    EXPECT_EQ(list.Last(), &g_a);
    list.Exchange(0, 3);
    EXPECT_EQ(list.First(), &g_a);

    EXPECT_EQ(list.Remove(&g_c), 2);
    EXPECT_EQ(list.Remove(&g_c), -1);
    EXPECT_EQ(list.Extract(&g_b), &g_b);
    EXPECT_EQ(list.Extract(&g_b), nullptr);
    EXPECT_EQ(list.IndexOf(nullptr), 1);

    for (int bad : {-1, 2, 100}) {
        EXPECT_THROW(list.Get(bad), EListError) << bad;
        EXPECT_THROW(list.Delete(bad), EListError) << bad;
    }
    EXPECT_THROW(list.Insert(3, &g_a), EListError);
    try {
        list.Put(7, nullptr);
        FAIL();
    } catch (const EListError& e) {
        EXPECT_STREQ(e.what(), "List index out of bounds (7)");
    }
    list.Clear();
    EXPECT_THROW(list.First(), EListError);
}

TEST(ThreadList, DuplicatesFollowTheMode)
{
    TThreadList list;
    list.Add(&g_a);
    list.Add(&g_a);
    EXPECT_EQ(list.LockList()->Count(), 1);
    list.UnlockList();

    list.DuplicatesMode = TThreadList::Duplicates::Accept;
    list.Add(&g_a);
    EXPECT_EQ(list.LockList()->Count(), 2);
    list.UnlockList();

    list.DuplicatesMode = TThreadList::Duplicates::Error;
    EXPECT_THROW(list.Add(&g_a), EListError);
    list.Remove(&g_a);
    list.Remove(&g_a);
    list.Clear();
    EXPECT_EQ(list.LockList()->Count(), 0);
    list.UnlockList();
}

TEST(ThreadList, HolderMayLockAgainAndOthersWait)
{
    TThreadList list;
    TList* held = list.LockList();
    // Re-entering on the same thread must not deadlock.
    list.Add(&g_a);
    TList* again = list.LockList();
    EXPECT_EQ(again, held);
    list.UnlockList();

    std::atomic<bool> added{false};
    std::thread other([&] {
        list.Add(&g_b);
        added = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(added.load()) << "another thread got in while the list was held";
    EXPECT_EQ(held->Count(), 1);
    list.UnlockList();
    other.join();
    EXPECT_TRUE(added.load());
    EXPECT_EQ(list.LockList()->Count(), 2);
    list.UnlockList();
}

class Shape : public TPersistent {
public:
    std::string ClassName() const override { return "TShape"; }
    int size = 0;

protected:
    void AssignTo(TPersistent* dest) const override
    {
        if (auto* shape = dynamic_cast<Shape*>(dest)) {
            shape->size = size;
            return;
        }
        TPersistent::AssignTo(dest);
    }
};

class Colour : public TPersistent {
public:
    std::string ClassName() const override { return "TColour"; }
};

TEST(Persistent, AssignCopiesWhatTheSourceKnowsElseRaises)
{
    Shape a, b;
    a.size = 5;
    b.Assign(&a);
    EXPECT_EQ(b.size, 5);

    Colour c;
    const struct {
        TPersistent* dest;
        const TPersistent* source;
        const char* message;
    } cases[] = {
        {&c, &a, "Cannot assign a TShape to a TColour"},
        {&a, &c, "Cannot assign a TColour to a TShape"},
        {&a, nullptr, "Cannot assign a nil to a TShape"},
    };
    for (const auto& row : cases) {
        try {
            row.dest->Assign(row.source);
            ADD_FAILURE() << row.message;
        } catch (const EConvertError& e) {
            EXPECT_STREQ(e.what(), row.message);
        }
    }
}

TEST(MulDiv, RoundsHalfAwayFromZeroAndFlagsFailures)
{
    const struct {
        int number, numerator, denominator, result;
    } cases[] = {
        {10, 1, 3, 3},    {10, 2, 3, 7},          {5, 1, 2, 3},          {-5, 1, 2, -3},
        {5, -1, 2, -3},   {5, 1, -2, -3},         {-5, -1, -2, -3},      {7, 1, 4, 2},
        {0, 100, 7, 0},   {1, 1, 0, -1},          {INT_MAX, 2, 2, INT_MAX},
        {65535, 65535, 65535, 65535},             {INT_MAX, 2, 1, -1},   {INT_MIN, 1, 1, INT_MIN},
    };
    for (const auto& row : cases)
        EXPECT_EQ(MulDiv(row.number, row.numerator, row.denominator), row.result)
            << row.number << " * " << row.numerator << " / " << row.denominator;
}

}  // namespace
