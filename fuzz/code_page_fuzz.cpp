// Feeds arbitrary bytes to every code page function and checks the
// invariants the rest of the core relies on.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "catalog/code_page.h"
#include "catalog/name_charset.h"
#include "document/visible_text.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace orvane;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);

  // Names shown to the user are always UTF-8 in every charset, a UTF-8
  // site's valid names are kept as they are, and the escaped forms keep
  // different bytes apart (the terminal shows them apart).
  for (const NameCharset charset : kAllNameCharsets) {
    Check(IsValidUtf8(DecodeName(bytes, charset)));
    DecodeName(bytes, charset, InvalidBytes::kEscape);
  }
  if (IsValidUtf8(bytes)) Check(DecodeName(bytes, NameCharset::kUtf8) == bytes);
  if (IsAscii(bytes)) Check(IsValidUtf8(bytes));
  Check(IsValidUtf8(TerminalText(DecodeName(bytes, NameCharset::kUtf8, InvalidBytes::kEscape))));
  CCharsetDecider decider;
  decider.AddName(bytes);
  Check(decider.Decide(ServerUtf8::kUnknown) != NameCharset::kAuto);

  const std::string utf8 = Cp936ToUtf8(bytes);
  Check(IsValidUtf8(utf8));
  // Whatever decoded without loss encodes back to the same bytes.
  if (utf8.find("\xEF\xBF\xBD") == std::string::npos) Check(Utf8ToCp936(utf8) == bytes);

  // Folds keep the length, and fold again to themselves.
  std::string folded;
  FoldCp936(bytes, folded);
  Check(folded.size() == bytes.size());
  std::string twice;
  FoldCp936(folded, twice);
  Check(twice == folded);
  // Character boundaries are unchanged: every position starts a character of
  // the same length in both.
  for (std::size_t i = 0; i < size;) {
    const auto* in = data + i;
    const auto* out = reinterpret_cast<const unsigned char*>(folded.data()) + i;
    const std::size_t len = Cp936CharLength(in, size - i);
    Check(Cp936CharLength(out, size - i) == len);
    i += len;
  }

  FoldUtf8(bytes, folded);
  Check(folded.size() == bytes.size());
  Check(IsValidUtf8(folded) == IsValidUtf8(bytes));
  FoldUtf8(utf8, folded);
  Check(folded.size() == utf8.size());

  const std::string gbk = Utf8ToCp936(bytes);
  Check(IsValidUtf8(Cp936ToUtf8(gbk)));

  // The same bytes read as UTF-16LE code units, as a wide archive string.
  std::u16string units(size / 2, u'\0');
  for (std::size_t i = 0; i < units.size(); ++i)
    units[i] = static_cast<char16_t>(data[2 * i] | data[2 * i + 1] << 8);
  const std::string from_wide = Utf16ToCp936(units);
  Check(from_wide.size() <= units.size() * 2);
  const std::string wide_utf8 = Cp936ToUtf8(from_wide);
  Check(IsValidUtf8(wide_utf8));
  return 0;
}
