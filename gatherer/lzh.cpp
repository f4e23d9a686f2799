// lzh.cpp - LZSS/adaptive-Huffman coder of container items (the -lh1- bit stream).
//
// The algorithm follows the classic LZSS + adaptive Huffman program step for
// step, so its streams are bit-identical to it; the speed comes from block I/O,
// a 64-bit bit accumulator and 8-byte string comparison in the match finder.

#include "lzh.h"

#include <climits>
#include <cstring>

namespace {

// The fixed prefix code of the upper six bits of a match position: u = 0 gets
// 3 bits, 1..3 4 bits, 4..11 5 bits, 12..23 6 bits, 24..47 7 bits, 48..63 8 bits,
// assigned in increasing order and stored left-aligned in a byte; the decoding
// tables give, for any byte, the u whose code prefixes it and that code's length.
struct PositionTables {
  uint8_t p_len[64], p_code[64], d_code[256], d_len[256];
  constexpr PositionTables() : p_len(), p_code(), d_code(), d_len() {
    int code = 0;
    for (int u = 0; u < 64; u++) {
      int len = u < 1 ? 3 : u < 4 ? 4 : u < 12 ? 5 : u < 24 ? 6 : u < 48 ? 7 : 8;
      p_len[u] = uint8_t(len);
      p_code[u] = uint8_t(code);
      for (int b = code; b < code + (1 << (8 - len)); b++) {
        d_code[b] = uint8_t(u);
        d_len[b] = uint8_t(len);
      }
      code += 1 << (8 - len);
    }
  }
};

constexpr PositionTables kTables;

inline uint64_t Load64(const uint8_t* p) {
  uint64_t v;
  memcpy(&v, p, 8);
  return v;
}

// Index of the first differing byte of two unequal 8-byte chunks.
inline int DiffIndex(uint64_t x, uint64_t y) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  return __builtin_ctzll(x ^ y) >> 3;
#else
  return __builtin_clzll(x ^ y) >> 3;
#endif
}

// The chunk as a number whose most significant byte is the first one.
inline uint64_t ByteSwap(uint64_t v) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  return __builtin_bswap64(v);
#else
  return v;
#endif
}

}  // namespace

LzH::LzH() {
  // Zeroed once so that the match finder, which compares bytes beyond the
  // filled part of the ring on short inputs, gives the same stream every run.
  memset(text_buf, 0, sizeof text_buf);
  memset(kids, 0, sizeof kids);
  memset(dad, 0, sizeof dad);
  memset(freq, 0, sizeof freq);
  memset(prnt, 0, sizeof prnt);
  memset(son, 0, sizeof son);
  InitVars();
}

void LzH::InitVars() {
  src_ = Source();
  dst_ = Sink();
  textsize = 0;
  codesize = 0;
  match_position = match_length = 0;
  Fixp_len = kTables.p_len;
  Fixp_code = kTables.p_code;
  Fixd_code = kTables.d_code;
  Fixd_len = kTables.d_len;
  putbuf = 0;
  putlen = 0;
  getbuf = 0;
  getlen = 0;
  bits_taken = stream_bits = 0;
  ran_short_ = false;
}

// ---- buffered input and output ----

bool LzH::Refill() {
  src_.pos = src_.len = 0;
  if (src_.eof || src_.error || src_.limit == 0) return false;
  size_t want = src_.limit < BUF_SIZE ? size_t(src_.limit) : size_t(BUF_SIZE);
  size_t got = fread(inbuf, 1, want, src_.file);
  if (got < want) {
    if (ferror(src_.file)) src_.error = true;
    src_.eof = true;
  }
  src_.limit -= got;
  src_.len = got;
  return got > 0;
}

inline int LzH::ReadInputByte() {
  if (src_.pos == src_.len && !Refill()) return EOF;
  return inbuf[src_.pos++];
}

size_t LzH::ReadInput(uint8_t* dst, size_t n) {
  size_t done = 0;
  while (done < n) {
    if (src_.pos == src_.len && !Refill()) break;
    size_t take = src_.len - src_.pos;
    if (take > n - done) take = n - done;
    memcpy(dst + done, inbuf + src_.pos, take);
    src_.pos += take;
    done += take;
  }
  return done;
}

void LzH::FlushOutput() {
  if (dst_.len && !dst_.error && fwrite(outbuf, 1, dst_.len, dst_.file) != dst_.len)
    dst_.error = true;
  dst_.count += dst_.len;
  dst_.len = 0;
}

inline void LzH::PutByte(uint8_t b) {
  if (dst_.len == BUF_SIZE) FlushOutput();
  outbuf[dst_.len++] = b;
}

// ---- bit output ----

// Emits the low n bits of code (n <= 32), most significant first.
inline void LzH::PutBits(uint32_t code, int n) {
  putbuf = (putbuf << n) | code;
  putlen += n;
  if (putlen >= 32) {
    putlen -= 32;
    uint32_t w = uint32_t(putbuf >> putlen);
    if (dst_.len + 4 > size_t(BUF_SIZE)) FlushOutput();
    outbuf[dst_.len] = uint8_t(w >> 24);
    outbuf[dst_.len + 1] = uint8_t(w >> 16);
    outbuf[dst_.len + 2] = uint8_t(w >> 8);
    outbuf[dst_.len + 3] = uint8_t(w);
    dst_.len += 4;
    codesize += 4;
  }
}

// The classic interface: l bits of c, left-aligned in 16 bits.
void LzH::Putcode(int l, uint32_t c) { PutBits((c & 0xFFFF) >> (16 - l), l); }

void LzH::EncodeEnd() {
  // Whole bytes first, then the last one padded with zero bits.
  while (putlen >= 8) {
    putlen -= 8;
    PutByte(uint8_t(putbuf >> putlen));
    codesize++;
  }
  if (putlen > 0) {
    PutByte(uint8_t(putbuf << (8 - putlen)));
    codesize++;
    putlen = 0;
  }
}

// ---- bit input ----

// Tops getbuf up to at least 57 bits; bytes past the stream read as zero.
void LzH::FillBits() {
  while (getlen <= 56) {
    uint64_t b = 0;
    if (src_.pos < src_.len || Refill()) b = inbuf[src_.pos++];
    getbuf |= b << (56 - getlen);
    getlen += 8;
    bits_taken += 8;
  }
}

// ---- match finder: one binary search tree per first byte ----
//
// kids[p][0] and kid[1] are the left and right subtrees of the string at
// ring position p; kids[N + 1 + c][1] is the root of the tree of strings
// beginning with byte c.

// Both subtrees of p in one load: kid[0] in the low half, kid[1] in the high.
inline uint32_t LzH::LoadKids(int p) const {
  uint32_t v;
  memcpy(&v, kids[p], 4);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  v = (v >> 16) | (v << 16);
#endif
  return v;
}

inline void LzH::StoreKids(int p, uint32_t v) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  v = (v >> 16) | (v << 16);
#endif
  memcpy(kids[p], &v, 4);
}

void LzH::InitTree() {
  for (int i = N + 1; i <= N + 256; i++) SetKid(i, 1, NIL);
  for (int i = 0; i < N; i++) dad[i] = NIL;
}

// Inserts the string at r and finds its longest match among the strings on
// the search path; ties of length go to the smallest position (the nearest
// earlier string). Every node below a turn lies between the two nearest
// strings the search turned at, so it shares at least the shorter of their
// common prefixes with the key: comparison starts there. The result is the
// same as comparing from the second byte every time; only the work differs.
void LzH::InsertNode(int r) {
  const uint8_t* key = &text_buf[r];
  int p = N + 1 + key[0];
  StoreKids(r, uint32_t(NIL) | (uint32_t(NIL) << 16));
  unsigned lo = 1, hi = 1;  // common prefix with the nearest lower and upper bound
  unsigned best = 0;        // length << 12 | (4096 - distance) of the best match so far;
                            // candidates are not filtered by length here (see below)
  unsigned dir = 1;
  uint32_t both = LoadKids(p);
  for (;;) {
    unsigned q = uint16_t(both >> (dir << 4));
    if (q == unsigned(NIL)) {
      unsigned sh = dir << 4;
      StoreKids(p, (both & ~(0xFFFFu << sh)) | (uint32_t(r) << sh));
      dad[r] = int16_t(p);
      break;
    }
    p = int(q);
    both = LoadKids(p);
    // First difference in key[i .. F-1], eight bytes at a time; the order of
    // the two strings is that of the chunks read as big-endian numbers.
    unsigned i = lo < hi ? lo : hi;
    uint64_t x = Load64(key + i), y = Load64(&text_buf[p + i]);
    if (__builtin_expect(x == y, 0)) {
      do {
        i += 8;
        if (i >= unsigned(F)) break;
        x = Load64(key + i);
        y = Load64(&text_buf[p + i]);
      } while (x == y);
    }
    if (i < unsigned(F)) i += unsigned(DiffIndex(x, y));
    if (__builtin_expect(i >= unsigned(F), 0)) {  // no difference within the longest match
      unsigned cand = (unsigned(F) << 12) | unsigned((p - r) & (N - 1));
      if (cand > best) best = cand;
      ReplaceNode(p, r);
      break;
    }
    dir = ByteSwap(x) > ByteSwap(y);
    unsigned cand = (i << 12) | unsigned((p - r) & (N - 1));
    best = cand > best ? cand : best;
    if (dir)
      lo = i;
    else
      hi = i;
  }
  // Candidates of THRESHOLD bytes or fewer never become matches.
  match_length = int(best >> 12);
  if (match_length <= THRESHOLD) match_length = 0;
  else match_position = int(N - 1 - (best & (N - 1)));
}

// A full-length match: r takes p's place in the tree.
void LzH::ReplaceNode(int p, int r) {
  int parent = dad[p];
  uint32_t pk = LoadKids(p);
  StoreKids(r, pk);
  dad[r] = dad[p];
  dad[pk & 0xFFFF] = int16_t(r);
  dad[pk >> 16] = int16_t(r);
  SetKid(parent, Kid(parent, 1) == p, r);
  dad[p] = NIL;
}

void LzH::DeleteNode(int p) {
  if (dad[p] == NIL) return;
  uint32_t pk = LoadKids(p);
  int left = int(pk & 0xFFFF), right = int(pk >> 16);
  int q;
  if (right == NIL) {
    q = left;
  } else if (left == NIL) {
    q = right;
  } else {
    q = left;
    if (Kid(q, 1) != NIL) {
      do q = Kid(q, 1);
      while (Kid(q, 1) != NIL);
      int qd = dad[q], ql = Kid(q, 0);
      SetKid(qd, 1, ql);
      dad[ql] = int16_t(qd);
      SetKid(q, 0, left);
      dad[left] = int16_t(q);
    }
    SetKid(q, 1, right);
    dad[right] = int16_t(q);
  }
  int parent = dad[p];
  dad[q] = int16_t(parent);
  SetKid(parent, Kid(parent, 1) == p, q);
  dad[p] = NIL;
}

// ---- adaptive Huffman code ----

void LzH::StartHuff() {
  for (int i = 0; i < N_CHAR; i++) {
    freq[i] = 1;
    son[i] = int16_t(i + T);
    prnt[i + T] = int16_t(i);
  }
  for (int i = 0, j = N_CHAR; j <= R; i += 2, j++) {
    freq[j] = uint16_t(freq[i] + freq[i + 1]);
    son[j] = int16_t(i);
    prnt[i] = prnt[i + 1] = int16_t(j);
  }
  freq[T] = 0xFFFF;
  prnt[R] = 0;
}

// Rebuilds the tree from the leaves with halved frequencies.
void LzH::reconst() {
  int j = 0;
  for (int i = 0; i < T; i++) {
    if (son[i] >= T) {
      freq[j] = uint16_t((freq[i] + 1) / 2);
      son[j] = son[i];
      j++;
    }
  }
  for (int i = 0, j = N_CHAR; j < T; i += 2, j++) {
    unsigned f = unsigned(freq[i]) + freq[i + 1];
    freq[j] = uint16_t(f);
    int k = j - 1;
    while (f < freq[k]) k--;
    k++;
    size_t bytes = size_t(j - k) * sizeof freq[0];
    memmove(&freq[k + 1], &freq[k], bytes);
    freq[k] = uint16_t(f);
    memmove(&son[k + 1], &son[k], bytes);
    son[k] = int16_t(i);
  }
  for (int i = 0; i < T; i++) {
    int k = son[i];
    if (k >= T)
      prnt[k] = int16_t(i);
    else
      prnt[k] = prnt[k + 1] = int16_t(i);
  }
}

// Counts one more occurrence of symbol c and restores the sibling order.
inline void LzH::update(int c) {
  if (freq[R] == MAX_FREQ) reconst();
  c = prnt[c + T];
  do {
    unsigned k = ++freq[c];
    if (k > freq[c + 1]) {
      int l = c + 1;
      while (k > freq[++l]) {
      }
      l--;
      freq[c] = freq[l];
      freq[l] = uint16_t(k);
      int i = son[c];
      prnt[i] = int16_t(l);
      if (i < T) prnt[i + 1] = int16_t(l);
      int j = son[l];
      son[l] = int16_t(i);
      prnt[j] = int16_t(c);
      if (j < T) prnt[j + 1] = int16_t(c);
      son[c] = int16_t(j);
      c = l;
    }
  } while ((c = prnt[c]) != 0);
}

// The code of a symbol is the path from the root to its leaf. With a root
// frequency of up to 0x8000 a leaf can sit deeper than 16 levels, so the path
// is gathered in 64-bit words and written out in pieces.
void LzH::EncodeChar(unsigned c) {
  uint64_t words[(T + 63) / 64];
  int nwords = 0;
  uint64_t code = 0;
  int len = 0;
  int k = prnt[c + T];
  do {
    code |= uint64_t(k & 1) << len;
    if (++len == 64) {
      words[nwords++] = code;
      code = 0;
      len = 0;
    }
  } while ((k = prnt[k]) != R);
  // Root end first: the latest (partial) word, then the full ones.
  if (len > 32) {
    PutBits(uint32_t(code >> 32), len - 32);
    PutBits(uint32_t(code), 32);
  } else if (len > 0) {
    PutBits(uint32_t(code), len);
  }
  while (nwords > 0) {
    uint64_t w = words[--nwords];
    PutBits(uint32_t(w >> 32), 32);
    PutBits(uint32_t(w), 32);
  }
  update(int(c));
}

void LzH::EncodePosition(unsigned c) {
  unsigned u = c >> 6;
  int len = Fixp_len[u];
  PutBits(((uint32_t(Fixp_code[u]) >> (8 - len)) << 6) | (c & 0x3F), len + 6);
}

inline int LzH::DecodeChar() {
  int c = son[R];
  while (c < T) {
    if (getlen == 0) FillBits();
    c = son[c + int(getbuf >> 63)];
    getbuf <<= 1;
    getlen--;
  }
  c -= T;
  update(c);
  return c;
}

int LzH::DecodePosition() {
  if (getlen < 16) FillBits();
  unsigned b0 = unsigned(getbuf >> 56);
  int extra = Fixd_len[b0] - 2;
  unsigned b = unsigned(getbuf >> (64 - 8 - extra));  // the first byte plus the extra bits
  getbuf <<= 8 + extra;
  getlen -= 8 + extra;
  return int((unsigned(Fixd_code[b0]) << 6) | (b & 0x3F));
}

// ---- the two operations ----

int LzH::Encode(FILE* in, FILE* out, LzwComp* rec) {
  if (!in || !out || !rec) return LZH_E_ARG;
  // The length is measured first so that an empty input writes nothing; the
  // count actually read is what the record gets.
  off_t here = ftello(in);
  if (here >= 0 && fseeko(in, 0, SEEK_END) == 0) {
    off_t end = ftello(in);
    if (fseeko(in, here, SEEK_SET) != 0) return LZH_E_READ;
    if (end >= 0 && end - here >= off_t(0x100000000LL)) return LZH_E_TOO_LARGE;
  }
  src_.file = in;
  src_.limit = UINT64_MAX;
  dst_.file = out;

  textsize = 0;
  StartHuff();
  InitTree();
  int s = 0, r = N - F;
  memset(text_buf, ' ', size_t(r));
  int len = int(ReadInput(&text_buf[r], F));
  if (src_.error) return LZH_E_READ;
  if (len == 0) return LZH_E_EMPTY;
  textsize = len;
  for (int i = 1; i <= F; i++) InsertNode(r - i);
  InsertNode(r);
  do {
    if (match_length > len) match_length = len;
    if (match_length <= THRESHOLD) {
      match_length = 1;
      EncodeChar(text_buf[r]);
    } else {
      EncodeChar(unsigned(255 - THRESHOLD + match_length));
      EncodePosition(unsigned(match_position));
    }
    int last = match_length;
    int i = 0;
    for (; i < last; i++) {
      int c = ReadInputByte();
      if (c == EOF) break;
      DeleteNode(s);
      text_buf[s] = uint8_t(c);
      if (s < F - 1) text_buf[s + N] = uint8_t(c);
      s = (s + 1) & (N - 1);
      r = (r + 1) & (N - 1);
      InsertNode(r);
    }
    textsize += i;
    while (i++ < last) {
      DeleteNode(s);
      s = (s + 1) & (N - 1);
      r = (r + 1) & (N - 1);
      if (--len) InsertNode(r);
    }
    if (textsize > int64_t(UINT32_MAX) || codesize > UINT32_MAX) return LZH_E_TOO_LARGE;
  } while (len > 0);
  EncodeEnd();
  FlushOutput();
  if (src_.error) return LZH_E_READ;
  if (dst_.error || fflush(out) != 0) return LZH_E_WRITE;
  if (codesize > UINT32_MAX) return LZH_E_TOO_LARGE;
  rec->orig_size = uint32_t(textsize);
  rec->comp_size = uint32_t(codesize);
  return LZH_OK;
}

long LzH::EncodeSymbols(const uint16_t* symbols, size_t count, FILE* out) {
  if (!out || (!symbols && count)) return LZH_E_ARG;
  dst_.file = out;
  StartHuff();
  for (size_t i = 0; i < count; i++) {
    if (symbols[i] >= N_CHAR) return LZH_E_ARG;
    EncodeChar(symbols[i]);
  }
  EncodeEnd();
  FlushOutput();
  if (dst_.error || fflush(out) != 0) return LZH_E_WRITE;
  return long(codesize);
}

int LzH::CopyStored(LzwComp* rec) {
  uint64_t left = rec->orig_size;
  src_.limit = left;
  while (left > 0) {
    if (!Refill()) return LZH_E_READ;  // an error, or fewer bytes than recorded
    if (fwrite(inbuf, 1, src_.len, dst_.file) != src_.len) return LZH_E_WRITE;
    left -= src_.len;
  }
  return fflush(dst_.file) == 0 ? LZH_OK : LZH_E_WRITE;
}

int LzH::Decode(FILE* in, FILE* out, LzwComp* rec) {
  if (!in || !out || !rec) return LZH_E_ARG;
  src_.file = in;
  dst_.file = out;
  textsize = rec->orig_size;
  if (rec->orig_size == rec->comp_size) return CopyStored(rec);

  src_.limit = rec->comp_size;
  stream_bits = uint64_t(rec->comp_size) * 8;
  StartHuff();
  memset(text_buf, ' ', N - F);
  int r = N - F;
  uint64_t left = rec->orig_size;
  while (left > 0) {
    int c = DecodeChar();
    if (c < 256) {
      PutByte(uint8_t(c));
      text_buf[r] = uint8_t(c);
      r = (r + 1) & (N - 1);
      left--;
    } else {
      int i = (r - DecodePosition() - 1) & (N - 1);
      uint64_t j = uint64_t(c - (255 - THRESHOLD));
      if (j > left) j = left;  // a final match never runs past the recorded size
      left -= j;
      while (j-- > 0) {
        uint8_t byte = text_buf[i];
        i = (i + 1) & (N - 1);
        PutByte(byte);
        text_buf[r] = byte;
        r = (r + 1) & (N - 1);
      }
    }
  }
  // Bits consumed = bits loaded - bits still held; more than the stream has
  // means the decoder ran on made-up zero bits.
  ran_short_ = bits_taken - uint64_t(getlen) > stream_bits;
  FlushOutput();
  if (src_.error) return LZH_E_READ;
  if (dst_.error || fflush(out) != 0) return LZH_E_WRITE;
  return LZH_OK;
}
