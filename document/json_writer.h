// A small writer of one JSON document, for orvane-cli's --json output and
// the window's exports.
//
// Strings are bytes: valid UTF-8 is written as it is (with '"', '\' and
// control bytes escaped), and every byte that is not part of a valid UTF-8
// sequence is written as the lone surrogate escape "\udcXX", XX being the
// byte (the rule of Python's "surrogateescape"). The document stays valid
// JSON whatever the bytes are, and no byte is lost: a reader maps U+DC80 to
// U+DCFF back to the bytes 0x80 to 0xFF.
//
// The elements of the outermost array or object each start a line of their
// own, so that a listing stays readable and greppable; everything inside
// them is on that line.
#pragma once

#include <concepts>
#include <string>
#include <string_view>
#include <vector>

namespace orvane {

class JsonWriter {
 public:
  JsonWriter& BeginObject();
  JsonWriter& EndObject();
  JsonWriter& BeginArray();
  JsonWriter& EndArray();
  // The next member's name, inside an object.
  JsonWriter& Key(std::string_view name);
  JsonWriter& String(std::string_view bytes);
  template <std::integral T>
  JsonWriter& Number(T value) {
    BeforeValue();
    text_ += std::to_string(value);
    return *this;
  }
  JsonWriter& Bool(bool value);
  // A value written elsewhere (another writer's Text()), taken as it is.
  JsonWriter& Raw(std::string_view json);

  // The document so far; complete once every container is closed. A
  // finished document ends with a line end.
  const std::string& Text() const { return text_; }
  bool Empty() const { return text_.empty(); }

  // `bytes` as a JSON string literal, quotes included.
  static std::string Quoted(std::string_view bytes);

 private:
  void BeforeValue();
  void Close(char bracket);

  std::string text_;
  // Per open container: whether it holds an element yet.
  std::vector<bool> hasElement_;
  bool afterKey_ = false;
};

}  // namespace orvane
