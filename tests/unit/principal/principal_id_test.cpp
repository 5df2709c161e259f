#include <gtest/gtest.h>

#include <cstring>
#include <new>
#include <stdexcept>

#include "guarded_block.h"
#include "scripted_system.h"
#include "tarn/exception.h"
#include "tarn/system/security/windows/principalid"

namespace {

using principal_test::Bytes;
using principal_test::BytesOf;
using principal_test::SidFromText;
using tarn::windows::security::AssignSid;
using tarn::windows::security::CompareSid;
using tarn::windows::security::PrincipalId;
using tarn::windows::security::detail::SidByteBuffer;

// Hands out blocks that end at a guard page (a write past the end crashes
// the test) and hold a pattern rather than zeros, or nothing when told to,
// and counts references.
class CountingAllocator : public tarn::AllocatorObject {
  public:
    void AddRef() override { ++references; }
    void Release() override { --references; }
    void* Allocate(std::size_t bytes) override {
        requested.push_back(bytes);
        if (refuse) return nullptr;
        ++live_blocks;
        void* block = testing_support::AllocateGuarded(bytes);
        if (block) std::memset(block, 0xCD, bytes);
        return block;
    }
    void Free(void* block) override {
        --live_blocks;
        testing_support::FreeGuarded(block);
    }

    int references = 0;
    int live_blocks = 0;
    bool refuse = false;
    std::vector<std::size_t> requested;
};

TEST(SidByteBuffer, GrowsToTwiceTheOldSizeOrTheNewSizeAndZeroFills) {
    CountingAllocator allocator;
    {
        SidByteBuffer buffer(&allocator);
        EXPECT_EQ(allocator.references, 1);
        EXPECT_TRUE(buffer.empty());

        buffer.resize(3);
        ASSERT_EQ(buffer.size(), 3u);
        EXPECT_EQ(buffer.capacity(), 3u);
        buffer.data()[0] = 0xA1;
        buffer.data()[1] = 0xA2;
        buffer.data()[2] = 0xA3;

        buffer.resize(4);  // twice the old size wins
        ASSERT_EQ(buffer.size(), 4u);
        EXPECT_EQ(buffer.capacity(), 6u);
        EXPECT_EQ(Bytes(buffer.data(), buffer.data() + 4), (Bytes{0xA1, 0xA2, 0xA3, 0}));

        buffer.resize(20);  // the new size wins
        EXPECT_EQ(buffer.capacity(), 20u);
        Bytes expected(20, 0);
        expected[0] = 0xA1;
        expected[1] = 0xA2;
        expected[2] = 0xA3;
        EXPECT_EQ(Bytes(buffer.data(), buffer.data() + 20), expected);
        EXPECT_EQ(allocator.requested, (std::vector<std::size_t>{3, 6, 20}));
        EXPECT_EQ(allocator.live_blocks, 1);
    }
    EXPECT_EQ(allocator.live_blocks, 0);
    EXPECT_EQ(allocator.references, 0);
}

TEST(SidByteBuffer, ShrinkingOnlyMovesTheEnd) {
    CountingAllocator allocator;
    SidByteBuffer buffer(&allocator);
    buffer.resize(16);
    std::uint8_t* block = buffer.data();
    std::memset(block, 0x5A, 16);
    buffer.resize(12);
    EXPECT_EQ(buffer.size(), 12u);
    EXPECT_EQ(buffer.capacity(), 16u);
    EXPECT_EQ(buffer.data(), block);
    // Growing again inside the capacity keeps the block and zero-fills.
    buffer.resize(14);
    EXPECT_EQ(buffer.data(), block);
    EXPECT_EQ(buffer.data()[11], 0x5A);
    EXPECT_EQ(buffer.data()[12], 0);
    EXPECT_EQ(buffer.data()[13], 0);
    // Up to the whole capacity, still in place.
    buffer.resize(16);
    EXPECT_EQ(buffer.data(), block);
    EXPECT_EQ(buffer.capacity(), 16u);
    EXPECT_EQ(buffer.data()[14], 0);
    EXPECT_EQ(buffer.data()[15], 0);
}

TEST(SidByteBuffer, AFailedAllocationLeavesTheBufferAsItWas) {
    CountingAllocator allocator;
    SidByteBuffer buffer(&allocator);
    buffer.resize(2);
    buffer.data()[0] = 7;
    allocator.refuse = true;
    EXPECT_THROW(buffer.resize(8), std::bad_alloc);
    EXPECT_EQ(buffer.size(), 2u);
    EXPECT_EQ(buffer.data()[0], 7);
}

#ifdef _WIN64
TEST(SidByteBuffer, ASizeBeyond32BitsIsALengthError) {
    CountingAllocator allocator;
    SidByteBuffer buffer(&allocator);
    buffer.resize(4);
    try {
        buffer.resize(std::size_t{1} << 32);
        FAIL() << "no exception";
    } catch (const std::length_error& e) {
        EXPECT_STREQ(e.what(), "vector::append");
    }
    EXPECT_EQ(buffer.size(), 4u);
    EXPECT_EQ(allocator.requested.size(), 1u);  // no attempt to allocate
    // One less still fits and gets as far as the allocator.
    allocator.refuse = true;
    EXPECT_THROW(buffer.resize(0xFFFFFFFFu), std::bad_alloc);
    EXPECT_EQ(allocator.requested.back(), 0xFFFFFFFFu);
}
#endif

TEST(SidByteBuffer, ACopySharesTheAllocatorAndOwnsItsBytes) {
    CountingAllocator allocator;
    {
        SidByteBuffer first(&allocator);
        first.resize(5);
        first.data()[4] = 9;
        SidByteBuffer copy(first);
        EXPECT_EQ(allocator.references, 2);
        EXPECT_NE(copy.data(), first.data());
        EXPECT_EQ(copy.size(), 5u);
        EXPECT_EQ(copy.data()[4], 9);
        EXPECT_EQ(allocator.live_blocks, 2);
    }
    EXPECT_EQ(allocator.references, 0);
    EXPECT_EQ(allocator.live_blocks, 0);
}

TEST(AssignSid, CopiesTheSidExactly) {
    Bytes users = SidFromText(L"S-1-5-32-545");
    PrincipalId id;
    ASSERT_EQ(AssignSid(id, users.data()), tarn::kNoError);
    EXPECT_EQ(BytesOf(id), users);
    EXPECT_EQ(id.size(), static_cast<std::size_t>(GetLengthSid(id.sid())));
}

TEST(AssignSid, AShorterSidLeavesExactlyItsLength) {
    Bytes longer = SidFromText(L"S-1-5-21-1-2-3-1000");
    Bytes shorter = SidFromText(L"S-1-1-0");
    PrincipalId id;
    ASSERT_EQ(AssignSid(id, longer.data()), tarn::kNoError);
    const std::uint8_t* block = id.data();
    ASSERT_EQ(AssignSid(id, shorter.data()), tarn::kNoError);
    EXPECT_EQ(id.size(), shorter.size());
    EXPECT_EQ(BytesOf(id), shorter);
    EXPECT_EQ(id.data(), block);
    EXPECT_EQ(id.bytes().capacity(), longer.size());
}

TEST(AssignSid, OutOfMemoryIsAResultCode) {
    CountingAllocator allocator;
    Bytes world = SidFromText(L"S-1-1-0");
    PrincipalId id(&allocator);
    allocator.refuse = true;
    EXPECT_EQ(AssignSid(id, world.data()), tarn::kOutOfMemory);
    EXPECT_TRUE(id.empty());
}

TEST(AssignSid, AnInvalidOrMissingSidIsRefusedAndEmptiesTheTarget) {
    Bytes world = SidFromText(L"S-1-1-0");
    PrincipalId id;
    ASSERT_EQ(AssignSid(id, world.data()), tarn::kNoError);
    Bytes invalid = world;
    invalid[0] = 2;  // unknown revision
    EXPECT_EQ(AssignSid(id, invalid.data()), tarn::kInvalidArgument);
    EXPECT_TRUE(id.empty());
    ASSERT_EQ(AssignSid(id, world.data()), tarn::kNoError);
    EXPECT_EQ(AssignSid(id, nullptr), tarn::kInvalidArgument);
    EXPECT_TRUE(id.empty());
}

TEST(PrincipalIdConstructor, CopiesAValidSid) {
    Bytes world = SidFromText(L"S-1-1-0");
    PrincipalId id(world.data());
    EXPECT_EQ(BytesOf(id), world);
}

TEST(PrincipalIdConstructor, ThrowsTheResultOfAssignSidFromItsFixedPosition) {
    Bytes invalid = SidFromText(L"S-1-1-0");
    invalid[0] = 2;
    PrincipalId probe;
    tarn::ResultCode expected = AssignSid(probe, invalid.data());
    ASSERT_TRUE(tarn::Failed(expected));
    try {
        PrincipalId id(invalid.data());
        FAIL() << "no exception";
    } catch (const tarn::CheckResultFailedException& e) {
        EXPECT_STREQ(e.GetSourceFile(), "principalid");
        EXPECT_EQ(e.GetLine(), 522);
        EXPECT_EQ(e.GetResultCode(), expected);
    }
}

TEST(PrincipalIdCopy, CopiesBytesIntoANewBlock) {
    Bytes admins = SidFromText(L"S-1-5-32-544");
    PrincipalId id(admins.data());
    PrincipalId copy(id);
    EXPECT_EQ(BytesOf(copy), admins);
    EXPECT_NE(copy.data(), id.data());
    PrincipalId moved(std::move(copy));
    EXPECT_EQ(BytesOf(moved), admins);
    EXPECT_TRUE(copy.empty());  // NOLINT: a moved-from PrincipalId is empty
}

TEST(CompareSid, EqualDifferentAndEmpty) {
    Bytes admins = SidFromText(L"S-1-5-32-544");
    Bytes users = SidFromText(L"S-1-5-32-545");
    PrincipalId a(admins.data());
    PrincipalId b(admins.data());
    PrincipalId c(users.data());
    PrincipalId empty;
    EXPECT_EQ(CompareSid(a, b), tarn::kNoError);
    EXPECT_EQ(CompareSid(a, c), tarn::kFalse);
    EXPECT_EQ(CompareSid(a, empty), tarn::kInvalidArgument);
    EXPECT_EQ(CompareSid(empty, a), tarn::kInvalidArgument);
    EXPECT_EQ(CompareSid(empty, empty), tarn::kInvalidArgument);
}

}  // namespace
