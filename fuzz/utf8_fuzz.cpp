// utf8_fuzz.cpp - every text conversion and filter on arbitrary bytes and characters.
#include <memory>

#include "fuzz_support.h"
#include "utf8.h"

namespace {

/// What the UTF-8 writer promises to write for one character.
wchar_t expected_after_round_trip(wchar_t c) {
  long v = static_cast<long>(c);
  if (v >= 0 && v < 32 && v != 9 && v != 10 && v != 13) return L'?';
  if (v < 0 || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF) || v == 0xFFFE || v == 0xFFFF)
    return 0xFFFD;
  return c;
}

void check_round_trip(const wchar_t* wide) {
  std::unique_ptr<const char[]> utf8(wide_to_utf8(wide));
  std::unique_ptr<wchar_t[]> back(utf8_to_wide(reinterpret_cast<const unsigned char*>(utf8.get())));
  size_t i = 0;
  for (; wide[i]; ++i)
    if (back[i] != expected_after_round_trip(wide[i])) abort();
  if (back[i] != 0) abort();
}

void narrow_functions(const char* text, unsigned small) {
  std::unique_ptr<wchar_t[]> w(mbcs_to_wide(text));
  std::unique_ptr<char[]> m(wide_to_mbcs(w.get()));
  const unsigned char* u = reinterpret_cast<const unsigned char*>(text);
  std::unique_ptr<wchar_t[]> d(utf8_to_wide(u));
  check_round_trip(d.get());
  std::unique_ptr<wchar_t[]> buf(new wchar_t[small + 1]);
  utf8_to_wide(u, buf.get(), small + 1);
  std::unique_ptr<char[]> s(sanitised_ascii(text));
  std::unique_ptr<char[]> t(make_Teldrin_name(text));
  if (strlen(s.get()) != strlen(text) || strlen(t.get()) != strlen(text)) abort();
  std::string copy(text);
  filter_alphanumeric(&copy[0], '_');
  convert_to_uppercase(&copy[0]);
  (void)string_checksum(text);
}

void wide_functions(const wchar_t* wide, unsigned small) {
  check_round_trip(wide);
  std::unique_ptr<char[]> m(wide_to_mbcs(wide));
  // An exactly sized buffer: the address sanitiser sees any write past it.
  std::unique_ptr<unsigned char[]> out(new unsigned char[small + 1]);
  wide_to_utf8(wide, out.get(), small + 1);
  if (strlen(reinterpret_cast<char*>(out.get())) > small) abort();
  std::unique_ptr<wchar_t[]> s(wide_sanitised_ascii(wide));
  std::wstring copy(wide);
  filter_filename(&copy[0], L'_');
  (void)wide_string_checksum(wide);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool ready = setlocale(LC_ALL, "C.UTF-8") != nullptr;
  (void)ready;
  if (size == 0) return 0;
  unsigned small = data[0] % 16;
  ++data;
  --size;

  std::string text(reinterpret_cast<const char*>(data), size);
  narrow_functions(text.c_str(), small);

  std::vector<wchar_t> wide;
  for (size_t i = 0; i + 4 <= size; i += 4) {
    uint32_t v;
    memcpy(&v, data + i, 4);
    // Mostly plausible characters, sometimes any 32-bit value.
    wchar_t c = static_cast<wchar_t>((v & 0x80000000u) ? v : v % 0x120000u);
    if (c != 0) wide.push_back(c);
  }
  wide.push_back(0);
  wide_functions(wide.data(), small);
  return 0;
}
