// lzh_reference.h - a plain, unoptimised LZSS/adaptive-Huffman coder used as the oracle.
//
// Written as directly as possible from the classic algorithm: bytes compared one
// at a time, bits written and read one at a time, everything in memory. The
// optimised coder in gatherer/lzh.cpp must produce the same streams bit for bit
// (the benchmark checks it; the unit tests pin the streams it gave).
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

namespace lzh_ref {

constexpr int N = 4096, F = 60, THRESHOLD = 2, NIL = N;
constexpr int N_CHAR = 256 - THRESHOLD + F, T = N_CHAR * 2 - 1, R = T - 1;
constexpr unsigned MAX_FREQ = 0x8000;

struct Coder {
  uint8_t text_buf[N + F - 1] = {};
  int lson[N + 1] = {}, rson[N + 257] = {}, dad[N + 1] = {};
  unsigned freq[T + 1] = {};
  int prnt[T + N_CHAR] = {}, son[T] = {};
  int match_position = 0, match_length = 0;
  uint8_t p_len[64] = {}, p_code[64] = {}, d_code[256] = {}, d_len[256] = {};

  std::vector<uint8_t> out;
  int out_bits = 0;  // bits used in out.back()
  const uint8_t* in = nullptr;
  size_t in_size = 0, in_pos = 0;
  size_t bit_pos = 0;  // decoder position in bits
  int deepest = 0;     // longest code word written

  Coder() {
    int code = 0;
    for (int u = 0; u < 64; u++) {
      int len = u == 0 ? 3 : u < 4 ? 4 : u < 12 ? 5 : u < 24 ? 6 : u < 48 ? 7 : 8;
      p_len[u] = uint8_t(len);
      p_code[u] = uint8_t(code);
      for (int b = code; b < code + (1 << (8 - len)); b++) d_code[b] = uint8_t(u), d_len[b] = uint8_t(len);
      code += 1 << (8 - len);
    }
  }

  void put_bit(int bit) {
    if (out_bits == 0) out.push_back(0);
    if (bit) out.back() |= uint8_t(0x80 >> out_bits);
    out_bits = (out_bits + 1) & 7;
  }
  int get_bit() {
    size_t byte = bit_pos >> 3;
    int bit = byte < in_size ? (in[byte] >> (7 - (bit_pos & 7))) & 1 : 0;
    bit_pos++;
    return bit;
  }

  void init_tree() {
    for (int i = N + 1; i <= N + 256; i++) rson[i] = NIL;
    for (int i = 0; i < N; i++) dad[i] = NIL;
  }
  void insert_node(int r) {
    int i, p, cmp = 1;
    uint8_t* key = &text_buf[r];
    p = N + 1 + key[0];
    rson[r] = lson[r] = NIL;
    match_length = 0;
    for (;;) {
      if (cmp >= 0) {
        if (rson[p] != NIL) p = rson[p];
        else { rson[p] = r; dad[r] = p; return; }
      } else {
        if (lson[p] != NIL) p = lson[p];
        else { lson[p] = r; dad[r] = p; return; }
      }
      for (i = 1; i < F; i++)
        if ((cmp = key[i] - text_buf[p + i]) != 0) break;
      if (i > THRESHOLD) {
        if (i > match_length) {
          match_position = ((r - p) & (N - 1)) - 1;
          if ((match_length = i) >= F) break;
        }
        if (i == match_length) {
          int c = ((r - p) & (N - 1)) - 1;
          if (c < match_position) match_position = c;
        }
      }
    }
    dad[r] = dad[p]; lson[r] = lson[p]; rson[r] = rson[p];
    dad[lson[p]] = r; dad[rson[p]] = r;
    if (rson[dad[p]] == p) rson[dad[p]] = r; else lson[dad[p]] = r;
    dad[p] = NIL;
  }
  void delete_node(int p) {
    int q;
    if (dad[p] == NIL) return;
    if (rson[p] == NIL) q = lson[p];
    else if (lson[p] == NIL) q = rson[p];
    else {
      q = lson[p];
      if (rson[q] != NIL) {
        do { q = rson[q]; } while (rson[q] != NIL);
        rson[dad[q]] = lson[q]; dad[lson[q]] = dad[q];
        lson[q] = lson[p]; dad[lson[p]] = q;
      }
      rson[q] = rson[p]; dad[rson[p]] = q;
    }
    dad[q] = dad[p];
    if (rson[dad[p]] == p) rson[dad[p]] = q; else lson[dad[p]] = q;
    dad[p] = NIL;
  }

  void start_huff() {
    int i, j;
    for (i = 0; i < N_CHAR; i++) { freq[i] = 1; son[i] = i + T; prnt[i + T] = i; }
    i = 0; j = N_CHAR;
    while (j <= R) { freq[j] = freq[i] + freq[i + 1]; son[j] = i; prnt[i] = prnt[i + 1] = j; i += 2; j++; }
    freq[T] = 0xFFFF;
    prnt[R] = 0;
  }
  void reconst() {
    int i, j, k;
    unsigned f;
    j = 0;
    for (i = 0; i < T; i++)
      if (son[i] >= T) { freq[j] = (freq[i] + 1) / 2; son[j] = son[i]; j++; }
    for (i = 0, j = N_CHAR; j < T; i += 2, j++) {
      f = freq[j] = freq[i] + freq[i + 1];
      for (k = j - 1; f < freq[k]; k--) {}
      k++;
      for (int m = j; m > k; m--) { freq[m] = freq[m - 1]; son[m] = son[m - 1]; }
      freq[k] = f;
      son[k] = i;
    }
    for (i = 0; i < T; i++) {
      if ((k = son[i]) >= T) prnt[k] = i;
      else prnt[k] = prnt[k + 1] = i;
    }
  }
  void update(int c) {
    int i, j, l;
    unsigned k;
    if (freq[R] == MAX_FREQ) reconst();
    c = prnt[c + T];
    do {
      k = ++freq[c];
      if (k > freq[l = c + 1]) {
        while (k > freq[++l]) {}
        l--;
        freq[c] = freq[l]; freq[l] = k;
        i = son[c]; prnt[i] = l; if (i < T) prnt[i + 1] = l;
        j = son[l]; son[l] = i;
        prnt[j] = c; if (j < T) prnt[j + 1] = c;
        son[c] = j;
        c = l;
      }
    } while ((c = prnt[c]) != 0);
  }
  void encode_char(unsigned c) {
    std::vector<int> path;  // leaf to root
    int k = prnt[c + T];
    do path.push_back(k & 1);
    while ((k = prnt[k]) != R);
    if (int(path.size()) > deepest) deepest = int(path.size());
    for (size_t n = path.size(); n-- > 0;) put_bit(path[n]);
    update(int(c));
  }
  void encode_position(unsigned c) {
    unsigned u = c >> 6;
    for (int b = 0; b < p_len[u]; b++) put_bit((p_code[u] >> (7 - b)) & 1);
    for (int b = 5; b >= 0; b--) put_bit((c >> b) & 1);
  }
  int decode_char() {
    int c = son[R];
    while (c < T) c = son[c + get_bit()];
    c -= T;
    update(c);
    return c;
  }
  int decode_position() {
    unsigned i = 0;
    for (int b = 0; b < 8; b++) i = (i << 1) | unsigned(get_bit());
    unsigned c = unsigned(d_code[i]) << 6;
    int j = d_len[i] - 2;
    while (j-- > 0) i = (i << 1) + unsigned(get_bit());
    return int(c | (i & 0x3F));
  }
  int next_byte() { return in_pos < in_size ? in[in_pos++] : -1; }

  std::vector<uint8_t> encode(const uint8_t* data, size_t size) {
    in = data; in_size = size; in_pos = 0;
    int i, c, len, r, s, last_match_length;
    start_huff();
    init_tree();
    s = 0;
    r = N - F;
    for (i = s; i < r; i++) text_buf[i] = ' ';
    for (len = 0; len < F && (c = next_byte()) != -1; len++) text_buf[r + len] = uint8_t(c);
    if (len == 0) return out;
    for (i = 1; i <= F; i++) insert_node(r - i);
    insert_node(r);
    do {
      if (match_length > len) match_length = len;
      if (match_length <= THRESHOLD) { match_length = 1; encode_char(text_buf[r]); }
      else { encode_char(unsigned(255 - THRESHOLD + match_length)); encode_position(unsigned(match_position)); }
      last_match_length = match_length;
      for (i = 0; i < last_match_length && (c = next_byte()) != -1; i++) {
        delete_node(s);
        text_buf[s] = uint8_t(c);
        if (s < F - 1) text_buf[s + N] = uint8_t(c);
        s = (s + 1) & (N - 1);
        r = (r + 1) & (N - 1);
        insert_node(r);
      }
      while (i++ < last_match_length) {
        delete_node(s);
        s = (s + 1) & (N - 1);
        r = (r + 1) & (N - 1);
        if (--len) insert_node(r);
      }
    } while (len > 0);
    return out;
  }

  std::vector<uint8_t> decode(const uint8_t* data, size_t size, size_t orig_size) {
    in = data; in_size = size; bit_pos = 0;
    std::vector<uint8_t> result;
    start_huff();
    for (int i = 0; i < N - F; i++) text_buf[i] = ' ';
    int r = N - F;
    while (result.size() < orig_size) {
      int c = decode_char();
      if (c < 256) {
        result.push_back(uint8_t(c));
        text_buf[r] = uint8_t(c);
        r = (r + 1) & (N - 1);
      } else {
        int i = (r - decode_position() - 1) & (N - 1);
        int j = c - 255 + THRESHOLD;
        for (int k = 0; k < j && result.size() < orig_size; k++) {
          uint8_t b = text_buf[(i + k) & (N - 1)];
          result.push_back(b);
          text_buf[r] = b;
          r = (r + 1) & (N - 1);
        }
      }
    }
    return result;
  }
};

/// Codes `data` with a fresh reference coder.
inline std::vector<uint8_t> encode(const std::vector<uint8_t>& data, int* deepest = nullptr) {
  Coder* c = new Coder;
  std::vector<uint8_t> out = c->encode(data.data(), data.size());
  if (deepest) *deepest = c->deepest;
  delete c;
  return out;
}

/// Codes symbols with the adaptive code alone; `deepest` gets the longest code.
inline std::vector<uint8_t> encode_symbols(const std::vector<uint16_t>& symbols, int* deepest) {
  Coder* c = new Coder;
  c->start_huff();
  for (uint16_t s : symbols) c->encode_char(s);
  std::vector<uint8_t> out = c->out;
  *deepest = c->deepest;
  delete c;
  return out;
}

/// Reads `count` symbols back from a stream made by encode_symbols.
inline std::vector<uint16_t> decode_symbols(const std::vector<uint8_t>& stream, size_t count) {
  Coder* c = new Coder;
  c->in = stream.data();
  c->in_size = stream.size();
  c->start_huff();
  std::vector<uint16_t> out;
  for (size_t i = 0; i < count; i++) out.push_back(uint16_t(c->decode_char()));
  delete c;
  return out;
}

/// Decodes a stream to `orig_size` bytes with a fresh reference coder.
inline std::vector<uint8_t> decode(const std::vector<uint8_t>& stream, size_t orig_size) {
  Coder* c = new Coder;
  std::vector<uint8_t> out = c->decode(stream.data(), stream.size(), orig_size);
  delete c;
  return out;
}

}  // namespace lzh_ref
