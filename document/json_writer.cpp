#include "document/json_writer.h"

namespace orvane {

namespace {

constexpr char kHex[] = "0123456789abcdef";

// Length of the valid UTF-8 sequence at the start of `text` (no overlongs,
// no surrogates, at most U+10FFFF), or 0 when it starts none.
std::size_t Utf8SequenceLength(std::string_view text) {
  const auto at = [&text](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = at(0);
  std::size_t length = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (text.size() < length) return 0;
  if (at(1) < low || at(1) > high) return 0;
  for (std::size_t i = 2; i < length; ++i) {
    if (at(i) < 0x80 || at(i) > 0xBF) return 0;
  }
  return length;
}

}  // namespace

std::string JsonWriter::Quoted(std::string_view bytes) {
  std::string out = "\"";
  out.reserve(bytes.size() + 2);
  while (!bytes.empty()) {
    const auto byte = static_cast<unsigned char>(bytes.front());
    const std::size_t length = Utf8SequenceLength(bytes);
    if (length == 0) {
      out += "\\udc";
      out += kHex[byte >> 4];
      out += kHex[byte & 15];
      bytes.remove_prefix(1);
      continue;
    }
    if (length > 1) {
      out.append(bytes.substr(0, length));
    } else if (byte == '"') {
      out += "\\\"";
    } else if (byte == '\\') {
      out += "\\\\";
    } else if (byte == '\n') {
      out += "\\n";
    } else if (byte == '\r') {
      out += "\\r";
    } else if (byte == '\t') {
      out += "\\t";
    } else if (byte < 0x20 || byte == 0x7F) {
      out += "\\u00";
      out += kHex[byte >> 4];
      out += kHex[byte & 15];
    } else {
      out += static_cast<char>(byte);
    }
    bytes.remove_prefix(length);
  }
  out += '"';
  return out;
}

void JsonWriter::BeforeValue() {
  if (afterKey_) {
    afterKey_ = false;
    return;
  }
  if (hasElement_.empty()) return;
  const bool first = !hasElement_.back();
  hasElement_.back() = true;
  if (!first) text_ += ',';
  text_ += hasElement_.size() == 1 ? "\n " : first ? "" : " ";
}

void JsonWriter::Close(char bracket) {
  const bool any = !hasElement_.empty() && hasElement_.back();
  const bool outermost = hasElement_.size() == 1;
  if (!hasElement_.empty()) hasElement_.pop_back();
  if (outermost && any) text_ += '\n';
  text_ += bracket;
  if (hasElement_.empty()) text_ += '\n';
}

JsonWriter& JsonWriter::BeginObject() {
  BeforeValue();
  text_ += '{';
  hasElement_.push_back(false);
  return *this;
}

JsonWriter& JsonWriter::EndObject() {
  Close('}');
  return *this;
}

JsonWriter& JsonWriter::BeginArray() {
  BeforeValue();
  text_ += '[';
  hasElement_.push_back(false);
  return *this;
}

JsonWriter& JsonWriter::EndArray() {
  Close(']');
  return *this;
}

JsonWriter& JsonWriter::Key(std::string_view name) {
  BeforeValue();
  text_ += Quoted(name);
  text_ += ": ";
  afterKey_ = true;
  return *this;
}

JsonWriter& JsonWriter::String(std::string_view bytes) {
  BeforeValue();
  text_ += Quoted(bytes);
  return *this;
}

JsonWriter& JsonWriter::Bool(bool value) {
  BeforeValue();
  text_ += value ? "true" : "false";
  return *this;
}

JsonWriter& JsonWriter::Raw(std::string_view json) {
  BeforeValue();
  while (json.ends_with('\n')) json.remove_suffix(1);
  text_ += json;
  return *this;
}

}  // namespace orvane
