// The extension module mek._mek: the C++ layer (mek/mek.h) with its enums,
// and the safe output writer, for Python. The package mek wraps it with
// the Python-facing functions, exceptions and codecs; this module speaks in
// the C++ enums and plain tuples.
//
// Every conversion reads its input through the buffer protocol (bytes,
// bytearray, memoryview, mmap) without copying it, and runs with the
// interpreter lock released: the buffer stays exported, so nobody can
// resize it meanwhile.

#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "convert/huge_pages.h"
#include "files/output.h"
#include "mek/mek.h"

namespace py = pybind11;

namespace {

// A read-only view of a contiguous buffer, released when it goes (with the
// interpreter lock held, as its owner outlives any released section).
class InputView {
 public:
  explicit InputView(const py::object& data) {
    if (PyObject_GetBuffer(data.ptr(), &view_, PyBUF_SIMPLE) != 0) throw py::error_already_set();
  }
  ~InputView() { PyBuffer_Release(&view_); }
  InputView(const InputView&) = delete;
  InputView& operator=(const InputView&) = delete;

  [[nodiscard]] std::string_view text() const {
    return {static_cast<const char*>(view_.buf), static_cast<std::size_t>(view_.len)};
  }

 private:
  Py_buffer view_{};
};

const char* kindName(mek::ErrorKind kind) {
  switch (kind) {
    case mek::ErrorKind::malformed:
      return "malformed";
    case mek::ErrorKind::unmapped:
      return "unmapped";
    case mek::ErrorKind::too_large:
      return "too_large";
    case mek::ErrorKind::no_memory:
      return "no_memory";
    case mek::ErrorKind::output:
      return "output";
    case mek::ErrorKind::undetected:
      return "undetected";
    case mek::ErrorKind::none:
      break;
  }
  return "none";
}

// (kind, offset, line, column, bytes, character), or None for no error. For
// "undetected" the last is the name of the code that reads the text all but
// a few places (`near`), or None.
py::object errorTuple(const mek::Error& error, mek::Code near = mek::Code::autodetect) {
  if (error.kind == mek::ErrorKind::none) return py::none();
  py::object last = py::int_(static_cast<std::uint32_t>(error.character));
  if (error.kind == mek::ErrorKind::undetected) {
    last = near == mek::Code::autodetect ? py::object(py::none())
                                         : py::object(py::str(std::string(mek::name(near))));
  }
  return py::make_tuple(
      kindName(error.kind), error.offset, error.line, error.column,
      py::bytes(reinterpret_cast<const char*>(error.bytes.data()), error.byte_count), last);
}

// The undetected error of a text whose code cannot be detected.
py::object nearestError(std::string_view text) {
  mek::Undetected why;
  {
    py::gil_scoped_release unlocked;
    why = mek::NearestReading::of(text);
  }
  return errorTuple(why.first, why.code);
}

mek::Options makeOptions(mek::Errors errors, std::uint32_t replacement, bool fallback,
                         mek::Fold folds, mek::Detection detection, bool mimeDecode = false,
                         mek::Transfer mimeEncode = mek::Transfer::none, bool repair = false) {
  mek::Options options;
  options.mime_decode = mimeDecode;
  options.mime_encode = mimeEncode;
  options.repair = repair;
  options.errors = errors;
  options.replacement = static_cast<char32_t>(replacement);
  options.fallback = fallback;
  options.folds = folds;
  options.detection = detection;
  options.repair = repair;
  return options;
}

// The bytes of `text`; MemoryError when they cannot be had.
py::object bytesOf(std::string_view text) {
  PyObject* bytes = PyBytes_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
  if (bytes == nullptr) throw py::error_already_set();
  return py::reinterpret_steal<py::object>(bytes);
}

// (output, error, changes, first change): the output is None after a
// failure.
py::tuple resultTuple(const mek::Result& result, bool asText) {
  py::object output = py::none();
  if (result.ok()) {
    if (asText) {
      PyObject* text = PyUnicode_DecodeUTF8(result.bytes.data(),
                                            static_cast<Py_ssize_t>(result.bytes.size()), "strict");
      if (text == nullptr) throw py::error_already_set();
      output = py::reinterpret_steal<py::object>(text);
    } else {
      output = bytesOf(result.bytes);
    }
  }
  return py::make_tuple(output, errorTuple(result.error, result.from), result.changes,
                        errorTuple(result.first_change));
}

// The output of a conversion built in place in a bytes object: room for
// most outputs is taken at once (its pages are touched only as they are
// written) and given back at the end, so that the text is never copied.
class BytesOutput {
 public:
  explicit BytesOutput(std::size_t room)
      : object_(PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(room))),
        capacity_(object_ != nullptr ? room : 0) {
    if (object_ == nullptr) {
      PyErr_Clear();  // the caller takes the other way
      return;
    }
    mek::adviseHugePages(PyBytes_AS_STRING(object_), room);
  }
  ~BytesOutput() { Py_XDECREF(object_); }
  BytesOutput(const BytesOutput&) = delete;
  BytesOutput& operator=(const BytesOutput&) = delete;

  // Called without the interpreter lock: the object is nobody else's yet.
  bool append(std::string_view bytes) noexcept {
    if (bytes.size() > capacity_ - size_) return false;
    std::memcpy(PyBytes_AS_STRING(object_) + size_, bytes.data(), bytes.size());
    size_ += bytes.size();
    return true;
  }
  [[nodiscard]] bool ready() const { return object_ != nullptr; }

  // With the lock held: the bytes written, as the object.
  py::object take() {
    if (_PyBytes_Resize(&object_, static_cast<Py_ssize_t>(size_)) != 0) {
      throw py::error_already_set();
    }
    return py::reinterpret_steal<py::object>(std::exchange(object_, nullptr));
  }

 private:
  PyObject* object_;
  std::size_t capacity_;
  std::size_t size_ = 0;
};

// Room for the output of `input` bytes to `to`: four bytes for each (eight
// for UTF-32), which nearly every text stays below; one that does not takes
// the way through mek::convert.
std::size_t outputRoom(std::size_t input, mek::Code to) {
  const bool wide = to == mek::Code::utf32_be || to == mek::Code::utf32_le ||
                    to == mek::Code::utf32_be_bom || to == mek::Code::utf32_le_bom;
  return input * (wide ? 8 : 4) + 64;
}

// Converts straight into a bytes object, on the threads the tool uses,
// without placing anything; nullopt when the text failed, was changed or
// outgrew the room, which mek::convert then converts again and places.
std::optional<py::object> convertInPlace(std::string_view input, mek::Code from, mek::Code to,
                                         mek::LineEnding eol, const mek::Options& options) {
  BytesOutput output(outputRoom(input.size(), to));
  if (!output.ready()) return std::nullopt;
  bool converted = false;
  {
    py::gil_scoped_release unlocked;
    if (from == mek::Code::autodetect) from = mek::detect(input, options.detection);
    if (from != mek::Code::autodetect) {
      mek::StreamSettings settings;
      settings.threads = true;
      settings.locate = false;
      mek::Stream stream(
          from, to, eol, [&output](std::string_view bytes) { return output.append(bytes); },
          options, settings);
      converted = stream.feed(input) && stream.finish() && stream.changeCount() == 0;
    }
  }
  if (!converted) return std::nullopt;
  return output.take();
}

py::tuple convertData(const py::object& data, mek::Code from, mek::Code to, mek::LineEnding eol,
                      const mek::Options& options, bool asText) {
  const InputView input(data);
  if (!asText) {
    std::optional<py::object> bytes = convertInPlace(input.text(), from, to, eol, options);
    if (bytes) return py::make_tuple(*bytes, py::none(), 0, py::none());
  }
  mek::Result result;
  {
    py::gil_scoped_release unlocked;
    result = mek::convert(input.text(), from, to, eol, options);
  }
  return resultTuple(result, asText);
}

py::tuple encodeText(const py::str& text, mek::Code to, mek::LineEnding eol,
                     const mek::Options& options) {
  Py_ssize_t size = 0;
  // The UTF-8 form is kept by the string object itself.
  const char* utf8 = PyUnicode_AsUTF8AndSize(text.ptr(), &size);
  if (utf8 == nullptr) throw py::error_already_set();
  const std::string_view input(utf8, static_cast<std::size_t>(size));
  std::optional<py::object> bytes = convertInPlace(input, mek::Code::utf8, to, eol, options);
  if (bytes) return py::make_tuple(*bytes, py::none(), 0, py::none());
  mek::Result result;
  {
    py::gil_scoped_release unlocked;
    result = mek::convert(input, mek::Code::utf8, to, eol, options);
  }
  return resultTuple(result, false);
}

mek::Code detectCode(const py::object& data, mek::Detection detection) {
  const InputView input(data);
  py::gil_scoped_release unlocked;
  return mek::detect(input.text(), detection);
}

// (code, its line endings as `mek --guess` names them, error): the text is
// decoded whole, as `mek --guess` does, and its line endings are looked at
// in the decoded form (where CR and LF are always single bytes).
// Code.autodetect when no code takes the text.
py::tuple guessCode(const py::object& data, mek::Detection detection) {
  const InputView input(data);
  mek::Code code = mek::Code::autodetect;
  unsigned seen = 0;
  mek::Error error;
  {
    py::gil_scoped_release unlocked;
    code = mek::detect(input.text(), detection);
    if (code != mek::Code::autodetect) {
      // Decoded only: the text goes through the UTF-16 encoder, which takes
      // every character, and is dropped.
      mek::Stream stream(code, mek::Code::utf16_be, mek::LineEnding::keep,
                         [](std::string_view) { return true; });
      if (stream.feed(input.text()) && stream.finish()) {
        seen = stream.lineEndingsSeen();
      } else {
        error = stream.error();
      }
    }
  }
  if (code == mek::Code::autodetect) {
    return py::make_tuple(code, "NONE", nearestError(input.text()));
  }
  return py::make_tuple(code, std::string(mek::lineEndingsName(seen)), errorTuple(error));
}

py::list checkData(const py::object& data, mek::Code from, mek::Code to,
                   const mek::Options& options, std::size_t limit) {
  const InputView input(data);
  std::vector<mek::Error> problems;
  {
    py::gil_scoped_release unlocked;
    problems = mek::check(input.text(), from, to, options, limit);
  }
  // An undetected text names the code that reads it all but a few places.
  mek::Code near = mek::Code::autodetect;
  if (problems.size() == 1 && problems.front().kind == mek::ErrorKind::undetected) {
    py::gil_scoped_release unlocked;
    near = mek::NearestReading::of(input.text()).code;
  }
  py::list list;
  for (const mek::Error& problem : problems) list.append(errorTuple(problem, near));
  return list;
}

// A conversion over pieces: the output of each piece is handed back by the
// call that fed it. Threads that share one take turns (the stream's lock,
// taken without the interpreter lock).
class PyStream {
 public:
  PyStream(mek::Code from, mek::Code to, mek::LineEnding eol, const mek::Options& options)
      : stream_(from, to, eol, options) {}

  // (output, error): the output so far, or None with the error.
  py::tuple feed(const py::object& data) {
    const InputView input(data);
    return run([&] { return stream_.feed(input.text()); });
  }

  // (output, error): all that the pieces so far give, but for what a later
  // piece could change.
  py::tuple flush() {
    return run([&] { return stream_.flush(); });
  }

  py::tuple finish() {
    return run([&] { return stream_.finish(); });
  }

  // (held bytes, place) after a flush, for an incremental decoder's state.
  py::tuple state() const { return py::make_tuple(bytesOf(stream_.held()), stream_.place()); }
  bool resumeAt(std::uint32_t place) { return stream_.resumeAt(place); }

  [[nodiscard]] std::uint64_t changes() const { return stream_.changeCount(); }
  [[nodiscard]] py::object firstChange() const { return errorTuple(stream_.firstChange()); }

 private:
  template <class Step>
  py::tuple run(Step step) {
    bool ok = false;
    std::string output;
    mek::Error error;
    {
      py::gil_scoped_release unlocked;
      ok = step();
      output = stream_.takeOutput();
      if (!ok) error = stream_.error();
    }
    if (!ok) return py::make_tuple(py::none(), errorTuple(error));
    return py::make_tuple(bytesOf(output), py::none());
  }

  mek::Stream stream_;
};

// Writes `data` to `path` as the tool writes a named output: a temporary
// file beside it, flushed and renamed over it, with the old file's
// attributes; nothing is left when it fails. Raises OSError with the tool's
// message.
void writeFile(const std::string& path, const py::object& data) {
  if (path.empty()) throw py::value_error("an output path is needed");
  if (path.find('\0') != std::string::npos) throw py::value_error("a path must hold no NUL");
  const InputView input(data);
  std::string message;
  {
    py::gil_scoped_release unlocked;
    mek::Output output(path.c_str());
    const std::string_view bytes = input.text();
    if (output.write(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()) &&
        output.commit()) {
      return;
    }
    message = output.message();
    output.abandon();
  }
  PyErr_SetString(PyExc_OSError, (path + ": " + message).c_str());
  throw py::error_already_set();
}

// A path for the C library: one with a NUL would name another file.
const std::string& checkedPath(const std::string& path) {
  if (path.empty()) throw py::value_error("an output path is needed");
  if (path.find('\0') != std::string::npos) throw py::value_error("a path must hold no NUL");
  return path;
}

// A named output written as the tool writes one: pieces go to a temporary
// file beside the target, which commit() flushes and renames over it and
// abandon() removes. Raises OSError with the tool's message.
class PyOutput {
 public:
  explicit PyOutput(const std::string& path) : path_(checkedPath(path)), output_(path_.c_str()) {
    if (output_.error() != mek::OutputError::kNone) fail();
  }

  void write(const py::object& data) {
    const InputView input(data);
    bool ok = false;
    {
      py::gil_scoped_release unlocked;
      const std::string_view bytes = input.text();
      ok = output_.write(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    }
    if (!ok) fail();
  }

  void commit() {
    bool ok = false;
    {
      py::gil_scoped_release unlocked;
      ok = output_.commit();
    }
    if (!ok) fail();
  }

  void abandon() { output_.abandon(); }

 private:
  [[noreturn]] void fail() {
    const std::string message = output_.message();
    output_.abandon();
    PyErr_SetString(PyExc_OSError, (path_ + ": " + message).c_str());
    throw py::error_already_set();
  }

  std::string path_;
  mek::Output output_;
};

// The C++ enums with the names they have there; Code's values are named
// as the codes are, with autodetect for "auto".
void defineEnums(py::module_& module) {
  py::enum_<mek::Code> code(module, "Code");
  for (const mek::Code each : mek::codes()) {
    code.value(each == mek::Code::autodetect ? "autodetect" : mek::name(each).data(), each);
  }
  py::enum_<mek::LineEnding>(module, "LineEnding")
      .value("lf", mek::LineEnding::lf)
      .value("crlf", mek::LineEnding::crlf)
      .value("cr", mek::LineEnding::cr)
      .value("keep", mek::LineEnding::keep);
  py::enum_<mek::Errors>(module, "Errors")
      .value("strict", mek::Errors::strict)
      .value("replace", mek::Errors::replace)
      .value("skip", mek::Errors::skip)
      .value("html", mek::Errors::html);
  py::enum_<mek::Fold>(module, "Fold", py::arithmetic())
      .value("none", mek::Fold::none)
      .value("wide_kana", mek::Fold::wide_kana)
      .value("compose_kana", mek::Fold::compose_kana)
      .value("narrow_ascii", mek::Fold::narrow_ascii)
      .value("all", mek::Fold::all);
  py::enum_<mek::Detection>(module, "Detection")
      .value("first", mek::Detection::first)
      .value("score", mek::Detection::score);
  py::enum_<mek::Transfer>(module, "Transfer")
      .value("none", mek::Transfer::none)
      .value("base64", mek::Transfer::base64)
      .value("quoted_printable", mek::Transfer::quoted_printable);
  py::class_<mek::Options>(module, "Options")
      .def(py::init([](mek::Errors errors, std::uint32_t replacement, bool fallback,
                       mek::Fold folds, mek::Detection detection, bool mimeDecode,
                       mek::Transfer mimeEncode, bool repair) {
             return makeOptions(errors, replacement, fallback, folds, detection, mimeDecode,
                                mimeEncode, repair);
           }),
           py::arg("errors") = mek::Errors::strict, py::arg("replacement") = 0,
           py::arg("fallback") = false, py::arg("folds") = mek::Fold::none,
           py::arg("detection") = mek::Detection::score, py::arg("mime_decode") = false,
           py::arg("mime_encode") = mek::Transfer::none, py::arg("repair") = false);
}

}  // namespace

PYBIND11_MODULE(_mek, module) {
  module.doc() = "The C++ layer of mek; use the package mek instead.";
  defineEnums(module);
  module.def("code_for", &mek::codeFor, py::arg("name"));
  module.def(
      "name", [](mek::Code code) { return std::string(mek::name(code)); }, py::arg("code"));
  module.def(
      "convert",
      [](const py::object& data, mek::Code from, mek::Code to, mek::LineEnding eol,
         const mek::Options& options) { return convertData(data, from, to, eol, options, false); },
      py::arg("data"), py::arg("source"), py::arg("to"), py::arg("eol"), py::arg("options"));
  module.def(
      "decode",
      [](const py::object& data, mek::Code from, mek::LineEnding eol, const mek::Options& options) {
        return convertData(data, from, mek::Code::utf8, eol, options, true);
      },
      py::arg("data"), py::arg("source"), py::arg("eol"), py::arg("options"));
  module.def("encode", &encodeText, py::arg("text"), py::arg("to"), py::arg("eol"),
             py::arg("options"));
  module.def("detect", &detectCode, py::arg("data"), py::arg("detection"));
  module.def(
      "carries",
      [](mek::Code code, std::uint32_t character) {
        return mek::carries(code, static_cast<char32_t>(character));
      },
      py::arg("code"), py::arg("character"));
  module.def(
      "nearest",
      [](const py::object& data) {
        const InputView input(data);
        return nearestError(input.text());
      },
      py::arg("data"));
  module.def("guess", &guessCode, py::arg("data"), py::arg("detection"));
  module.def("check", &checkData, py::arg("data"), py::arg("source"), py::arg("to"),
             py::arg("options"), py::arg("limit"));
  module.def(
      "repair",
      [](const std::u32string& text) {
        mek::Repaired done = mek::repair(text);
        py::list repairs;
        for (const mek::Repair& r : done.repairs) {
          repairs.append(py::make_tuple(r.chain, r.start, r.end, r.line, r.lost));
        }
        return py::make_tuple(std::move(done.text), repairs);
      },
      py::arg("text"));
  module.def("write_file", &writeFile, py::arg("path"), py::arg("data"));
  py::class_<PyOutput>(module, "Output")
      .def(py::init<const std::string&>(), py::arg("path"))
      .def("write", &PyOutput::write, py::arg("data"))
      .def("commit", &PyOutput::commit)
      .def("abandon", &PyOutput::abandon);
  py::class_<PyStream>(module, "Stream")
      .def(py::init<mek::Code, mek::Code, mek::LineEnding, const mek::Options&>(),
           py::arg("source"), py::arg("to"), py::arg("eol"), py::arg("options"))
      .def("feed", &PyStream::feed, py::arg("data"))
      .def("flush", &PyStream::flush)
      .def("state", &PyStream::state)
      .def("resume_at", &PyStream::resumeAt, py::arg("place"))
      .def("finish", &PyStream::finish)
      .def_property_readonly("changes", &PyStream::changes)
      .def_property_readonly("first_change", &PyStream::firstChange);
}
