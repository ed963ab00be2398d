#include "detect/detector.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "convert/after_start.h"
#include "detect/marks.h"
#include "japanese/shift_jis.h"
#include "mek/detect.h"
#include "mek/registry.h"
#include "unicode/utf16.h"
#include "unicode/utf32.h"
#include "unicode/utf8.h"

namespace mek {

Detector::Detector() {
  const auto test = [](int code) {
    return StreamStage(findDecoder(code), ErrorKind::malformed, code, &findDecoderAfterStart);
  };
  tests_[kUtf32Be] = test(kCodeUtf32Be);
  tests_[kUtf32Le] = test(kCodeUtf32Le);
  tests_[kJis] = test(kCodeJis);
  tests_[kEucjp] = test(kCodeEucJp);
  tests_[kUtf8] = test(kCodeUtf8);
  tests_[kSjis] = test(kCodeSjis);
  tests_[kUtf16Le] = test(kCodeUtf16Le);
}

bool Detector::sjisPiece(std::uint8_t* begin, const std::uint8_t* end, bool last) {
  if (sjis_carrying_) *--begin = sjis_carry_;
  const std::uint8_t* stop = sjisTestStop(begin, end);
  if (stop == nullptr || (last && stop != end)) return false;
  sjis_carrying_ = stop != end;
  if (sjis_carrying_) sjis_carry_ = *stop;
  return true;
}

void Detector::tallyUtf16Le(const std::uint8_t* begin, const std::uint8_t* end) {
  if (size_ >= ScoredDetector::kScoredBytes) return;
  end = begin + std::min<std::uint64_t>(static_cast<std::uint64_t>(end - begin),
                                        ScoredDetector::kScoredBytes - size_);
  const std::uint8_t* p = begin;
  if (utf16le_waiting_ && p < end) {
    utf16le_tally_.add(static_cast<std::uint16_t>(*p++ << 8 | utf16le_odd_));
    utf16le_waiting_ = false;
  }
  for (; p + 1 < end; p += 2) utf16le_tally_.add(static_cast<std::uint16_t>(p[1] << 8 | p[0]));
  if (p < end) {
    utf16le_odd_ = *p;
    utf16le_waiting_ = true;
  }
}

void Detector::run(std::uint8_t* begin, std::uint8_t* end, bool last) {
  const std::size_t size = static_cast<std::size_t>(end - begin);
  if (!failed_[kUtf16Le]) tallyUtf16Le(begin, end);
  const std::size_t head = std::min(size, sizeof head_ - head_size_);
  if (head != 0) std::memcpy(head_ + head_size_, begin, head);
  head_size_ += head;
  size_ += size;
  if (!escape_seen_ && size != 0 && std::memchr(begin, 0x1B, size) != nullptr) escape_seen_ = true;
  for (int t = 0; t < kTests; ++t) {
    if (t == kSjis && lenient_waits_) continue;
    if (!failed_[t] && !tests_[t].check(begin, end, last)) failed_[t] = true;
  }
  if (sjis_failed_) return;
  const std::uint8_t carry = sjis_carry_;
  const std::size_t carried = sjis_carrying_ ? 1 : 0;
  if (sjisPiece(begin, end, last)) return;
  sjis_failed_ = true;
  // The Shift_JIS decoder's own test matters only once the strict test has
  // failed, and accepts all that the strict one accepted, ending on the same
  // carried byte; so it starts with the piece where the strict test failed.
  lenient_waits_ = false;
  tests_[kSjis].carryIn(&carry, carried);
  if (!tests_[kSjis].check(begin, end, last)) failed_[kSjis] = true;
}

void Detector::feed(std::uint8_t* begin, std::uint8_t* end) {
  run(begin, end, false);
}

CodeNumber codeOfMark(const std::uint8_t* begin, const std::uint8_t* end) {
  if (startsWithUtf8Mark(begin, end)) return kCodeUtf8;
  if (startsWithUtf16BeMark(begin, end)) return kCodeUtf16BeBom;
  if (startsWithUtf32BeMark(begin, end)) return kCodeUtf32BeBom;
  if (startsWithUtf32LeMark(begin, end)) return kCodeUtf32LeBom;
  if (startsWithUtf16LeMark(begin, end)) return kCodeUtf16LeBom;
  return kCodeAuto;
}

CodeNumber Detector::markAnswer() const {
  return codeOfMark(head_, head_ + head_size_);
}

bool Detector::settled() const {
  // Four bytes settle the marks; a mark decides before any test does.
  if (head_size_ == sizeof head_ && markAnswer() != kCodeAuto) return true;
  return std::all_of(std::begin(failed_), std::end(failed_), [](bool f) { return f; }) &&
         sjis_failed_;
}

CodeNumber Detector::finish() {
  final_.reserve(0);
  run(final_.data(), final_.data(), true);
  return answer();
}

CodeNumber Detector::answer() const {
  if (const CodeNumber mark = markAnswer(); mark != kCodeAuto) return mark;
  // The UTF-32 tests accept any input without a whole unit, so they only
  // count for input of four bytes or more; shorter text would otherwise be
  // taken for UTF-32 and converted to nothing. Empty input is UTF-8, as under
  // score.
  if (size_ == 0) return kCodeUtf8;
  // A test that passes only with a last sequence cut off by the end does not
  // pass: the text does not end there in that code. (ISO-2022-JP reads a
  // cut-off escape as characters.)
  const auto passed = [this](Test test) { return !failed_[test] && !tests_[test].cutOff(); };
  if (size_ >= 4 && passed(kUtf32Be)) return kCodeUtf32Be;
  if (size_ >= 4 && passed(kUtf32Le)) return kCodeUtf32Le;
  if (escape_seen_ && !failed_[kJis]) return kCodeJis;
  if (!sjis_failed_) return kCodeSjis;
  if (passed(kEucjp)) return kCodeEucJp;
  if (passed(kUtf8)) return kCodeUtf8;
  // Shift_JIS with half-width katakana fails the Shift_JIS test above; when
  // no other code takes the text either, the Shift_JIS decoder decides.
  if (!lenient_waits_ && passed(kSjis)) return kCodeSjis;
  // The last resort takes only input that is UTF-16LE to its last byte and
  // reads as text, not noise; anything else is no code that detection knows.
  if (size_ % 2 == 0 && passed(kUtf16Le) &&
      countsAsText(utf16le_tally_.characters, utf16le_tally_.noise, false)) {
    return kCodeUtf16Le;
  }
  return kCodeAuto;
}

CodeNumber Detector::detect(const std::uint8_t* begin, const std::uint8_t* end) {
  Detector detector;
  // One piece that is also the last carries nothing, so nothing is written
  // before `begin` and the input is only read.
  detector.run(const_cast<std::uint8_t*>(begin), const_cast<std::uint8_t*>(end), true);
  return detector.answer();
}

}  // namespace mek
