// The text-buffer operations, driven by the input bytes, on three buffers
// checked after every step against a model: a std::vector of bytes and the
// capacity the exact-growth rule gives. Any allocation can be made to fail;
// a failed operation must leave every buffer exactly as it was.

#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz/fuzz_support.h"
#include "mek/text_buffer.h"

namespace {

using mek::TextBuffer;
using mek::fuzz::Bytes;

// Copies its input unchanged, so that buffers can hold any bytes at all (odd
// lengths, lone surrogates), which no registry converter produces.
class CopyConverter : public mek::Converter {
 public:
  bool measure(mek::ConversionBuffer& b) const override {
    b.stop = b.in_end;
    b.size = static_cast<std::int32_t>(b.in_end - b.in_begin);
    return true;
  }
  bool convert(mek::ConversionBuffer& b) const override {
    measure(b);
    if (b.size > 0) std::memcpy(b.out, b.in_begin, static_cast<std::size_t>(b.size));
    return true;
  }
};
const CopyConverter kCopy;

// Reads operation parameters from the input; zero once it is used up.
class Reader {
 public:
  Reader(const std::uint8_t* data, std::size_t size) : p_(data), end_(data + size) {}
  bool done() const { return p_ == end_; }
  std::uint8_t byte() { return p_ < end_ ? *p_++ : 0; }
  Bytes bytes(std::size_t n) {
    if (n > static_cast<std::size_t>(end_ - p_)) n = static_cast<std::size_t>(end_ - p_);
    Bytes b(p_, p_ + n);
    p_ += n;
    return b;
  }

 private:
  const std::uint8_t* p_;
  const std::uint8_t* end_;
};

// Fails the allocation numbered `fail_at` (counted from 0 within one
// operation) and records that it did.
struct FailingHeap {
  int fail_at = -1;
  int count = 0;
  bool failed = false;
  int live = 0;
};

void* failingAllocate(void* context, std::size_t bytes) {
  auto* heap = static_cast<FailingHeap*>(context);
  if (heap->count++ == heap->fail_at) {
    heap->failed = true;
    return nullptr;
  }
  ++heap->live;
  return std::malloc(bytes == 0 ? 1 : bytes);
}

void failingRelease(void* context, void* block) {
  if (block == nullptr) return;
  --static_cast<FailingHeap*>(context)->live;
  std::free(block);
}

// Texts stay below this length: repeated appends of a buffer to itself would
// otherwise double it at every step.
constexpr std::size_t kMaxText = 4096;

struct Model {
  Bytes text;
  std::int32_t capacity = 0;
};

// The character rule on the model: bytes of the character at `at`, 0 if none.
std::int64_t characterAt(const Bytes& t, std::int64_t at) {
  const std::int64_t left = static_cast<std::int64_t>(t.size()) - at;
  if (left < 2) return 0;
  if (t[at] < 0xD8 || t[at] > 0xDB) return 2;
  if (left < 4) return 0;
  return t[at + 2] >= 0xDC && t[at + 2] <= 0xDF ? 4 : 2;
}

std::int64_t offsetOf(const Bytes& t, std::int64_t start, std::int64_t count) {
  if (count <= 0) return 0;
  if (start < 0) return -1;
  std::int64_t at = start;
  for (std::int64_t i = 0; i < count; ++i) {
    const std::int64_t n = characterAt(t, at);
    if (n == 0) return -1;
    at += n;
  }
  return at - start;
}

std::int32_t countOf(const Bytes& t) {
  std::int32_t count = 0;
  for (std::int64_t at = 0, n; (n = characterAt(t, at)) != 0; at += n) ++count;
  return count;
}

// A converter's output computed directly, for the model.
bool convertDirectly(const mek::Converter& converter, const Bytes& input, Bytes& output) {
  mek::ConversionBuffer b;
  b.in_begin = input.data();
  b.in_end = input.data() + input.size();
  if (!converter.measure(b)) return false;
  output.assign(static_cast<std::size_t>(b.size), 0);
  b.out = output.data();
  return converter.convert(b);
}

struct Snapshot {
  std::uint8_t* data;
  std::int32_t length;
  std::int32_t capacity;
  Bytes text;
};

Snapshot snapshot(const TextBuffer& b) {
  Snapshot s{b.data, b.length, b.capacity, {}};
  if (b.length > 0) s.text.assign(b.data, b.data + b.length);
  return s;
}

bool same(const TextBuffer& b, const Snapshot& s) {
  return b.data == s.data && b.length == s.length && b.capacity == s.capacity &&
         (b.length == 0 || std::memcmp(b.data, s.text.data(), s.text.size()) == 0);
}

void checkAgainstModel(const TextBuffer& b, const Model& m) {
  MEK_FUZZ_CHECK(b.length >= 0 && b.length <= b.capacity);
  MEK_FUZZ_CHECK(static_cast<std::size_t>(b.length) == m.text.size());
  MEK_FUZZ_CHECK(b.capacity == m.capacity);
  MEK_FUZZ_CHECK(b.length == 0 || std::memcmp(b.data, m.text.data(), m.text.size()) == 0);
  // Every byte of the capacity is part of the block.
  if (b.capacity > 0) {
    volatile std::uint8_t sink = b.data[b.capacity - 1];
    (void)sink;
  }
}

class Session {
 public:
  explicit Session(Reader& in) : in_(in), allocator_{&failingAllocate, &failingRelease, &heap_} {}

  ~Session() {
    for (TextBuffer& b : buffers_) failingRelease(&heap_, b.data);
    MEK_FUZZ_CHECK(heap_.live == 0);
  }

  void step() {
    const std::uint8_t failure = in_.byte();
    heap_.fail_at = failure < 48 ? failure % 3 : -1;
    heap_.count = 0;
    heap_.failed = false;
    for (int i = 0; i < 3; ++i) before_[i] = snapshot(buffers_[i]);

    const bool expectedOk = run(in_.byte() % 16);

    if (!ok_) {
      // Either the operation was refused, or an allocation failed; both
      // leave every buffer as it was.
      MEK_FUZZ_CHECK(!expectedOk || heap_.failed);
      for (int i = 0; i < 3; ++i) MEK_FUZZ_CHECK(same(buffers_[i], before_[i]));
    } else {
      MEK_FUZZ_CHECK(expectedOk);
      for (int i = 0; i < 3; ++i) models_[i] = next_[i];
    }
    for (int i = 0; i < 3; ++i) checkAgainstModel(buffers_[i], models_[i]);
  }

 private:
  int pick() { return in_.byte() % 3; }
  const mek::Converter* converter() {
    const std::uint8_t c = in_.byte();
    if (c < 64) return &kCopy;
    return mek::fuzz::stageConverter(c % 3, 1 + (c / 3) % 12);
  }
  // Index or count in a small range around the text, negatives included.
  std::int32_t position(const Model& m) {
    return static_cast<std::int32_t>(in_.byte() % (countOf(m.text) + 4)) - 1;
  }

  // Runs one operation, sets ok_ and next_ (the models after success) and
  // answers whether the model says it succeeds.
  bool run(int op) {
    for (int i = 0; i < 3; ++i) next_[i] = models_[i];
    ok_ = true;
    switch (op) {
      case 0: {  // allocate
        const int b = pick();
        const std::int32_t capacity = static_cast<std::int32_t>(in_.byte() % 24) - 2;
        ok_ = mek::allocate(&buffers_[b], capacity, allocator_);
        next_[b] = {Bytes(), capacity};
        return capacity >= 0;
      }
      case 1: {  // assignConverted
        const int b = pick();
        const mek::Converter* c = converter();
        if (c == nullptr) return ok_ = false, false;
        const Bytes source = in_.bytes(in_.byte() % 32);
        ok_ = mek::assignConverted(&buffers_[b], source.data(),
                                   static_cast<std::int32_t>(source.size()), c, allocator_);
        Bytes out;
        if (!convertDirectly(*c, source, out)) return false;
        next_[b] = {out, static_cast<std::int32_t>(out.size())};
        return true;
      }
      case 2: {  // convertInPlace
        const int b = pick();
        const mek::Converter* c = converter();
        if (c == nullptr) return ok_ = false, false;
        // A converter writes at most a few bytes per input byte.
        if (models_[b].text.size() > kMaxText / 4) return true;
        ok_ = mek::convertInPlace(&buffers_[b], c, allocator_);
        Bytes out;
        if (!convertDirectly(*c, models_[b].text, out)) return false;
        next_[b].capacity =
            out.empty() ? models_[b].capacity : static_cast<std::int32_t>(out.size());
        next_[b].text = out;
        return true;
      }
      case 3: {  // measuredSize and convertInto
        const int b = pick();
        const mek::Converter* c = converter();
        if (c == nullptr) return ok_ = false, false;
        Bytes out;
        const bool accepted = convertDirectly(*c, models_[b].text, out);
        const std::int32_t measured = mek::measuredSize(&buffers_[b], c);
        MEK_FUZZ_CHECK(measured == (accepted ? static_cast<std::int32_t>(out.size()) : -1));
        if (accepted) {
          auto* area = static_cast<std::uint8_t*>(std::malloc(out.empty() ? 1 : out.size()));
          MEK_FUZZ_CHECK(mek::convertInto(&buffers_[b], area, c) == measured);
          MEK_FUZZ_CHECK(out.empty() || std::memcmp(area, out.data(), out.size()) == 0);
          std::free(area);
        }
        return true;
      }
      case 4: {  // copy
        const int d = pick(), s = pick();
        ok_ = mek::copy(&buffers_[d], &buffers_[s], allocator_);
        grow(next_[d], static_cast<std::int32_t>(models_[s].text.size()));
        next_[d].text = models_[s].text;
        return true;
      }
      case 5: {  // append
        const int d = pick(), s = pick();
        if (models_[d].text.size() + models_[s].text.size() > kMaxText) return true;
        ok_ = mek::append(&buffers_[d], &buffers_[s], allocator_);
        Bytes text = models_[d].text;
        text.insert(text.end(), models_[s].text.begin(), models_[s].text.end());
        grow(next_[d], static_cast<std::int32_t>(text.size()));
        next_[d].text = text;
        return true;
      }
      case 6: {  // prefixEqual, characterCount
        const int a = pick(), b = pick();
        const Bytes& x = models_[a].text;
        const Bytes& y = models_[b].text;
        const std::size_t n = std::min(x.size(), y.size());
        MEK_FUZZ_CHECK(mek::prefixEqual(&buffers_[a], &buffers_[b]) ==
                       (n == 0 || std::memcmp(x.data(), y.data(), n) == 0));
        MEK_FUZZ_CHECK(mek::characterCount(&buffers_[a]) == countOf(x));
        return true;
      }
      case 7: {  // byteOffset
        const int b = pick();
        const Bytes& t = models_[b].text;
        const std::int32_t start = static_cast<std::int32_t>(in_.byte() % (t.size() + 5)) - 2;
        const std::int32_t count = static_cast<std::int32_t>(in_.byte() % 10) - 1;
        MEK_FUZZ_CHECK(mek::byteOffset(&buffers_[b], start, count) == offsetOf(t, start, count));
        return true;
      }
      case 8: {  // insert
        const int d = pick(), s = pick();
        const std::int32_t index = position(models_[d]);
        if (models_[d].text.size() + models_[s].text.size() > kMaxText) return true;
        ok_ = mek::insert(&buffers_[d], &buffers_[s], index, allocator_);
        const std::int64_t p = offsetOf(models_[d].text, 0, index);
        if (p < 0) return false;
        Bytes text = models_[d].text;
        text.insert(text.begin() + p, models_[s].text.begin(), models_[s].text.end());
        grow(next_[d], static_cast<std::int32_t>(text.size()));
        next_[d].text = text;
        return true;
      }
      case 9: {  // erase
        const int b = pick();
        const std::int32_t index = position(models_[b]);
        const std::int32_t count = position(models_[b]);
        ok_ = mek::erase(&buffers_[b], index, count);
        std::int64_t p, n;
        if (!locate(models_[b].text, index, count, p, n)) return false;
        next_[b].text.erase(next_[b].text.begin() + p, next_[b].text.begin() + p + n);
        return true;
      }
      case 10: {  // extract
        const int b = pick(), d = pick();
        const std::int32_t index = position(models_[b]);
        const std::int32_t count = position(models_[b]);
        ok_ = mek::extract(&buffers_[b], &buffers_[d], index, count, allocator_);
        std::int64_t p, n;
        if (!locate(models_[b].text, index, count, p, n)) return false;
        const Bytes part(models_[b].text.begin() + p, models_[b].text.begin() + p + n);
        grow(next_[d], static_cast<std::int32_t>(n));
        next_[d].text = part;
        return true;
      }
      case 11: {  // exchange
        const int b = pick(), o = pick();
        const std::int32_t index = position(models_[b]);
        const std::int32_t count = position(models_[b]);
        if (models_[b].text.size() + models_[o].text.size() > kMaxText) return true;
        ok_ = mek::exchange(&buffers_[b], &buffers_[o], index, count, allocator_);
        std::int64_t p, n;
        if (b == o || !locate(models_[b].text, index, count, p, n)) return false;
        const Bytes removed(models_[b].text.begin() + p, models_[b].text.begin() + p + n);
        Bytes text = models_[b].text;
        text.erase(text.begin() + p, text.begin() + p + n);
        text.insert(text.begin() + p, models_[o].text.begin(), models_[o].text.end());
        grow(next_[b], static_cast<std::int32_t>(text.size()));
        next_[b].text = text;
        next_[o] = {removed, static_cast<std::int32_t>(n)};
        return true;
      }
      case 12: {  // createTextBuffer
        const std::int32_t capacity = static_cast<std::int32_t>(in_.byte() % 24) - 2;
        TextBuffer* made = mek::createTextBuffer(capacity, allocator_);
        ok_ = made != nullptr;
        if (made != nullptr) {
          checkAgainstModel(*made, {Bytes(), capacity});
          mek::destroyTextBuffer(made, allocator_);
        }
        return capacity >= 0;
      }
      case 13: {  // createConverted
        const mek::Converter* c = converter();
        if (c == nullptr) return ok_ = false, false;
        const Bytes source = in_.bytes(in_.byte() % 32);
        TextBuffer* made = mek::createConverted(
            source.data(), static_cast<std::int32_t>(source.size()), c, allocator_);
        return created(made, *c, source);
      }
      case 14: {  // createFromString
        const mek::Converter* c = converter();
        if (c == nullptr) return ok_ = false, false;
        const Bytes raw = in_.bytes(in_.byte() % 32);
        const std::string text(raw.begin(), raw.end());
        TextBuffer* made = mek::createFromString(text.c_str(), c, allocator_);
        const std::size_t zero = text.find('\0');
        const Bytes source(raw.begin(), zero == std::string::npos ? raw.end() : raw.begin() + zero);
        return created(made, *c, source);
      }
      default: {  // exchange with itself is refused
        const int b = pick();
        ok_ = mek::exchange(&buffers_[b], &buffers_[b], 0, 0, allocator_);
        MEK_FUZZ_CHECK(!ok_);
        return false;
      }
    }
  }

  bool created(TextBuffer* made, const mek::Converter& c, const Bytes& source) {
    ok_ = made != nullptr;
    Bytes out;
    const bool accepted = convertDirectly(c, source, out);
    if (made != nullptr) {
      MEK_FUZZ_CHECK(accepted);
      checkAgainstModel(*made, {out, static_cast<std::int32_t>(out.size())});
      mek::destroyTextBuffer(made, allocator_);
    }
    return accepted;
  }

  static void grow(Model& m, std::int32_t length) {
    if (m.capacity < length) m.capacity = length;
  }

  static bool locate(const Bytes& t, std::int32_t index, std::int32_t count, std::int64_t& p,
                     std::int64_t& n) {
    p = offsetOf(t, 0, index);
    if (p < 0) return false;
    n = offsetOf(t, p, count);
    return n >= 0;
  }

  Reader& in_;
  FailingHeap heap_;
  mek::Allocator allocator_;
  TextBuffer buffers_[3];
  Model models_[3];
  Model next_[3];
  Snapshot before_[3];
  bool ok_ = true;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Reader in(data, size);
  Session session(in);
  for (int steps = 0; steps < 64 && !in.done(); ++steps) session.step();
  return 0;
}
