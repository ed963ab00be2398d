#include "mek/text_buffer.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "mek/registry.h"

namespace mek {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Copies its input unchanged: fills buffers with exact bytes.
class CopyConverter : public Converter {
 public:
  bool measure(ConversionBuffer& b) const override {
    b.size = static_cast<std::int32_t>(b.in_end - b.in_begin);
    return true;
  }
  bool convert(ConversionBuffer& b) const override {
    measure(b);
    if (b.size > 0) std::memcpy(b.out, b.in_begin, static_cast<std::size_t>(b.size));
    return true;
  }
};

// Rejects every input in `measure`, or only in `convert`.
class RejectingConverter : public Converter {
 public:
  explicit RejectingConverter(bool inMeasure) : in_measure_(inMeasure) {}
  bool measure(ConversionBuffer& b) const override {
    b.size = 2;
    return !in_measure_;
  }
  bool convert(ConversionBuffer&) const override { return false; }

 private:
  bool in_measure_;
};

// Accepts everything and produces nothing.
class EmptyConverter : public Converter {
 public:
  bool measure(ConversionBuffer& b) const override {
    b.size = 0;
    return true;
  }
  bool convert(ConversionBuffer& b) const override { return measure(b); }
};

const CopyConverter kCopy;
const RejectingConverter kRejectInMeasure{true};
const RejectingConverter kRejectInConvert{false};
const EmptyConverter kEmpty;

// Counts live blocks and fails the allocation numbered `fail_at` (from 0).
struct TestAllocator {
  int calls = 0;
  int fail_at = -1;
  int live = 0;

  static void* allocateBlock(void* context, std::size_t bytes) {
    auto* self = static_cast<TestAllocator*>(context);
    if (self->calls++ == self->fail_at) return nullptr;
    ++self->live;
    return std::malloc(bytes == 0 ? 1 : bytes);
  }
  static void releaseBlock(void* context, void* block) {
    if (block != nullptr) --static_cast<TestAllocator*>(context)->live;
    std::free(block);
  }
  Allocator allocator() { return {&allocateBlock, &releaseBlock, this}; }
};

// A caller-owned buffer that releases its block at the end of the test.
struct Text : TextBuffer {
  Text() = default;
  explicit Text(const std::string& utf8) {
    EXPECT_TRUE(assignConverted(this, reinterpret_cast<const std::uint8_t*>(utf8.data()),
                                static_cast<std::int32_t>(utf8.size()), findDecoder(4)));
  }
  explicit Text(const Bytes& bytes) {
    EXPECT_TRUE(
        assignConverted(this, bytes.data(), static_cast<std::int32_t>(bytes.size()), &kCopy));
  }
  Text(const Text&) = delete;
  ~Text() { std::free(data); }
};

Bytes bytesOf(const TextBuffer& b) {
  return Bytes(b.data, b.data + b.length);
}

std::string utf8Of(const TextBuffer& b) {
  std::string out(static_cast<std::size_t>(measuredSize(&b, findEncoder(4))), '\0');
  EXPECT_EQ(convertInto(&b, reinterpret_cast<std::uint8_t*>(out.data()), findEncoder(4)),
            static_cast<std::int32_t>(out.size()));
  return out;
}

// Everything about a buffer that a failed operation must leave alone.
struct Snapshot {
  explicit Snapshot(const TextBuffer& b) : data(b.data), length(b.length), capacity(b.capacity) {
    bytes = bytesOf(b);
  }
  bool operator==(const Snapshot&) const = default;
  std::uint8_t* data;
  std::int32_t length, capacity;
  Bytes bytes;
};

// Gives `b` spare room, keeping its text, so that edits need no new block.
void addRoom(TextBuffer* b) {
  Text saved;
  ASSERT_TRUE(copy(&saved, b));
  ASSERT_TRUE(allocate(b, 64));
  ASSERT_TRUE(copy(b, &saved));
}

const std::string kSample = "A\U0001F600B";  // 00 41 D8 3D DE 00 00 42

TEST(TextBufferTest, CharacterRule) {
  const struct {
    Bytes text;
    std::int32_t count;
  } cases[] = {
      {{}, 0},
      {{0x00, 0x41, 0xD8, 0x3D, 0xDE, 0x00}, 2},
      {{0xD8, 0x3D, 0x00, 0x41}, 2},              // lone high surrogate
      {{0xDC, 0x00}, 1},                          // lone low surrogate
      {{0xD8, 0x3D, 0xD8, 0x3D, 0xDC, 0x00}, 2},  // lone high, then a pair
      {{0x00, 0x41, 0xD8, 0x3D}, 1},              // cut-off pair is not counted
      {{0x00, 0x41, 0xD8, 0x3D, 0xDE}, 1},
      {{0x00, 0x41, 0x00}, 1},  // odd last byte
  };
  for (const auto& c : cases) {
    Text t(c.text);
    EXPECT_EQ(characterCount(&t), c.count) << ::testing::PrintToString(c.text);
  }
}

TEST(TextBufferTest, ByteOffset) {
  const Bytes pair = {0x00, 0x41, 0xD8, 0x3D, 0xDE, 0x00};
  const struct {
    Bytes text;
    std::int32_t start, count, bytes;
  } cases[] = {
      {pair, 0, 0, 0},
      {pair, 99, 0, 0},
      {pair, -5, -1, 0},
      {pair, -5, 0, 0},
      {pair, 0, 1, 2},
      {pair, 0, 2, 6},
      {pair, 0, 3, -1},
      {pair, 2, 1, 4},
      {pair, 4, 1, 2},
      {pair, 6, 1, -1},
      {pair, 99, 1, -1},
      {pair, -1, 1, -1},
      {{0x00, 0x41, 0xD8, 0x3D}, 0, 2, -1},
      {{0x00, 0x41, 0x00}, 1, 1, 2},  // a start need not be even
  };
  for (const auto& c : cases) {
    Text t(c.text);
    EXPECT_EQ(byteOffset(&t, c.start, c.count), c.bytes) << c.start << " " << c.count;
  }
}

// Runs `edit` on a buffer holding kSample and a second buffer holding "xy",
// once with exactly sized blocks and once with spare room, and checks both
// texts and blocks afterwards; a failed edit must change neither buffer. A
// block that must grow grows exactly; `xyReplaced`: xy always gets a new one.
void checkEdit(const std::function<bool(TextBuffer*, TextBuffer*)>& edit, bool ok,
               const std::string& expected, const std::string& xyAfter = "xy",
               bool xyReplaced = false) {
  for (bool spare : {false, true}) {
    SCOPED_TRACE(spare ? "spare room" : "exact blocks");
    Text t(kSample), xy("xy");
    if (spare) {
      addRoom(&t);
      addRoom(&xy);
    }
    const Snapshot before(t), xyBefore(xy);
    ASSERT_EQ(edit(&t, &xy), ok);
    if (!ok) {
      EXPECT_EQ(Snapshot(t), before);
      EXPECT_EQ(Snapshot(xy), xyBefore);
      continue;
    }
    EXPECT_EQ(utf8Of(t), expected);
    EXPECT_EQ(utf8Of(xy), xyAfter);
    if (t.length <= before.capacity) {
      EXPECT_EQ(t.data, before.data);  // no new block when the text fits
      EXPECT_EQ(t.capacity, before.capacity);
    } else {
      EXPECT_EQ(t.capacity, t.length);  // exact growth
    }
    if (!xyReplaced && xy.length <= xyBefore.capacity) {
      EXPECT_EQ(xy.data, xyBefore.data);
      EXPECT_EQ(xy.capacity, xyBefore.capacity);
    } else {
      EXPECT_EQ(xy.capacity, xy.length);
    }
  }
}

const std::string kPair = "\U0001F600";

TEST(TextBufferTest, InsertAtStartMiddleEndAndPastEnd) {
  const struct {
    std::int32_t index;
    bool ok;
    std::string expected;
  } cases[] = {{0, true, "xyA" + kPair + "B"},
               {1, true, "Axy" + kPair + "B"},
               {2, true, "A" + kPair + "xyB"},  // behind the surrogate pair
               {3, true, kSample + "xy"},
               {4, false, ""}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.index);
    checkEdit([&](TextBuffer* t, TextBuffer* xy) { return insert(t, xy, c.index); }, c.ok,
              c.expected);
  }
  checkEdit([](TextBuffer* t, TextBuffer*) { return insert(t, t, 1); }, true,
            "AA" + kPair + "B" + kPair + "B");
}

TEST(TextBufferTest, EraseAtStartMiddleEndAndPastEnd) {
  const struct {
    std::int32_t index, count;
    bool ok;
    std::string expected;
  } cases[] = {{0, 1, true, kPair + "B"}, {1, 1, true, "AB"},    {2, 1, true, "A" + kPair},
               {0, 3, true, ""},          {1, 0, true, kSample}, {3, 0, true, kSample},
               {2, 2, false, ""},         {4, 0, false, ""}};
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.index << " " << c.count);
    checkEdit([&](TextBuffer* t, TextBuffer*) { return erase(t, c.index, c.count); }, c.ok,
              c.expected);
  }
}

TEST(TextBufferTest, ExtractAtStartMiddleEndAndPastEnd) {
  const struct {
    std::int32_t index, count;
    bool ok;
    std::string extracted;
  } cases[] = {{0, 1, true, "A"}, {1, 1, true, kPair}, {2, 1, true, "B"}, {1, 2, true, kPair + "B"},
               {3, 0, true, ""},  {3, 1, false, ""},   {4, 0, false, ""}};
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.index << " " << c.count);
    checkEdit([&](TextBuffer* t, TextBuffer* xy) { return extract(t, xy, c.index, c.count); }, c.ok,
              kSample, c.extracted);
  }
}

TEST(TextBufferTest, ExchangeAtStartMiddleEndAndPastEnd) {
  const struct {
    std::int32_t index, count;
    bool ok;
    std::string expected, removed;
  } cases[] = {{0, 1, true, "xy" + kPair + "B", "A"},
               {1, 1, true, "AxyB", kPair},
               {2, 1, true, "A" + kPair + "xy", "B"},
               {1, 0, true, "Axy" + kPair + "B", ""},
               {3, 0, true, kSample + "xy", ""},
               {0, 3, true, "xy", kSample},
               {2, 2, false, "", ""},
               {4, 0, false, "", ""}};
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.index << " " << c.count);
    checkEdit([&](TextBuffer* t, TextBuffer* xy) { return exchange(t, xy, c.index, c.count); },
              c.ok, c.expected, c.removed, true);
  }
}

TEST(TextBufferTest, PrefixEqual) {
  const struct {
    Bytes a, b;
    bool equal;
  } cases[] = {{{}, {0x00, 0x41}, true},
               {{}, {}, true},
               {{0x00, 0x41}, {0x00, 0x41, 0x00, 0x42}, true},
               {{0x00, 0x42}, {0x00, 0x41, 0x00, 0x42}, false},
               {{0x00, 0x41, 0x00, 0x43}, {0x00, 0x41, 0x00, 0x42}, false}};
  for (const auto& c : cases) {
    Text a(c.a), b(c.b);
    EXPECT_EQ(prefixEqual(&a, &b), c.equal);
    EXPECT_EQ(prefixEqual(&b, &a), c.equal);
  }
}

TEST(TextBufferTest, ConvertersFillAndRejectBuffers) {
  Text t(kSample);
  EXPECT_EQ(bytesOf(t), (Bytes{0x00, 0x41, 0xD8, 0x3D, 0xDE, 0x00, 0x00, 0x42}));
  EXPECT_EQ(t.capacity, 8);
  const Snapshot before(t);
  const std::uint8_t bad[] = {0xFF};
  for (const Converter* rejecting : {&kRejectInMeasure, &kRejectInConvert}) {
    EXPECT_FALSE(assignConverted(&t, bad, 1, rejecting));
    EXPECT_FALSE(convertInPlace(&t, rejecting));
    EXPECT_EQ(Snapshot(t), before);
  }
  EXPECT_FALSE(assignConverted(&t, bad, 1, findDecoder(4)));
  EXPECT_EQ(measuredSize(&t, &kRejectInMeasure), -1);
  EXPECT_EQ(convertInto(&t, nullptr, &kRejectInConvert), -1);
  EXPECT_EQ(Snapshot(t), before);

  ASSERT_TRUE(convertInPlace(&t, findEncoder(4)));
  EXPECT_EQ(std::string(t.data, t.data + t.length), kSample);
  EXPECT_EQ(t.capacity, t.length);
}

TEST(TextBufferTest, EmptyConversionResultKeepsTheBlock) {
  Text t(kSample);
  std::uint8_t* block = t.data;
  ASSERT_TRUE(convertInPlace(&t, &kEmpty));
  EXPECT_EQ(t.data, block);
  EXPECT_EQ(t.length, 0);
  EXPECT_EQ(t.capacity, 8);
  ASSERT_TRUE(assignConverted(&t, block, 0, &kEmpty));
  EXPECT_EQ(t.data, block);
  EXPECT_EQ(t.capacity, 0);
}

TEST(TextBufferTest, CopyAppendAndAllocateGrowExactly) {
  Text t(kSample), small("xy");
  ASSERT_TRUE(append(&t, &t));
  EXPECT_EQ(utf8Of(t), kSample + kSample);
  EXPECT_EQ(t.capacity, 16);
  ASSERT_TRUE(copy(&small, &t));
  EXPECT_EQ(small.capacity, 16);
  std::uint8_t* block = t.data;
  ASSERT_TRUE(copy(&t, &small));  // fits exactly: the block stays
  ASSERT_TRUE(erase(&t, 3, 3));
  ASSERT_TRUE(append(&t, &t));
  EXPECT_EQ(t.data, block);
  EXPECT_EQ(utf8Of(t), kSample + kSample);
  ASSERT_TRUE(allocate(&t, 32));
  EXPECT_EQ(t.length, 0);
  EXPECT_EQ(t.capacity, 32);
}

TEST(TextBufferTest, CreatingOperations) {
  TextBuffer* empty = createTextBuffer(0);
  ASSERT_NE(empty, nullptr);
  EXPECT_NE(empty->data, nullptr);
  EXPECT_EQ(empty->capacity, 0);
  TextBuffer* text = createFromString(kSample.c_str(), findDecoder(4));
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(utf8Of(*text), kSample);
  EXPECT_EQ(createFromString("\xFF", findDecoder(4)), nullptr);
  EXPECT_EQ(createTextBuffer(-1), nullptr);
  destroyTextBuffer(empty);
  destroyTextBuffer(text);
  destroyTextBuffer(nullptr);
}

// Fails each allocation of each operation in turn; every failure must leave
// both buffers as they were and release whatever the call had allocated.
TEST(TextBufferTest, AllocationFailureChangesNothing) {
  using Operation = std::function<bool(TextBuffer*, TextBuffer*, const Allocator&)>;
  const std::uint8_t source[] = {'a', 'b', 'c'};
  const struct {
    const char* name;
    Operation run;
  } operations[] = {
      {"allocate", [](auto* a, auto*, auto& al) { return allocate(a, 4, al); }},
      {"assignConverted",
       [&](auto* a, auto*, auto& al) { return assignConverted(a, source, 3, findDecoder(4), al); }},
      {"convertInPlace",
       [](auto* a, auto*, auto& al) { return convertInPlace(a, findEncoder(4), al); }},
      {"copy", [](auto* a, auto* b, auto& al) { return copy(b, a, al); }},
      {"append", [](auto* a, auto* b, auto& al) { return append(a, b, al); }},
      {"insert", [](auto* a, auto* b, auto& al) { return insert(a, b, 1, al); }},
      {"extract", [](auto* a, auto* b, auto& al) { return extract(a, b, 0, 3, al); }},
      {"exchange", [](auto* a, auto* b, auto& al) { return exchange(a, b, 1, 0, al); }},
      {"createTextBuffer",
       [](auto*, auto*, auto& al) {
         TextBuffer* t = createTextBuffer(4, al);
         destroyTextBuffer(t, al);
         return t != nullptr;
       }},
      {"createConverted",
       [&](auto*, auto*, auto& al) {
         TextBuffer* t = createConverted(source, 3, findDecoder(4), al);
         destroyTextBuffer(t, al);
         return t != nullptr;
       }},
  };
  for (const auto& op : operations) {
    SCOPED_TRACE(op.name);
    int failures = 0;
    for (int k = 0;; ++k) {
      TestAllocator counting;
      const Allocator al = counting.allocator();
      TextBuffer a, b;
      ASSERT_TRUE(assignConverted(&a, reinterpret_cast<const std::uint8_t*>(kSample.data()),
                                  static_cast<std::int32_t>(kSample.size()), findDecoder(4), al));
      ASSERT_TRUE(assignConverted(&b, source, 2, findDecoder(4), al));
      const Snapshot beforeA(a), beforeB(b);
      const int live = counting.live;
      counting.fail_at = counting.calls + k;
      const bool ok = op.run(&a, &b, al);
      if (!ok) {
        ++failures;
        EXPECT_EQ(Snapshot(a), beforeA);
        EXPECT_EQ(Snapshot(b), beforeB);
        EXPECT_EQ(counting.live, live);
      }
      al.release(al.context, a.data);
      al.release(al.context, b.data);
      EXPECT_EQ(counting.live, 0);
      if (ok) break;
    }
    EXPECT_GT(failures, 0);
  }
}

}  // namespace
}  // namespace mek
