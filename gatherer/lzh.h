// lzh.h - the container's coder: LZSS over a 4 KiB ring with an adaptive Huffman code.
//
// The bit stream is the classic LZSS/adaptive-Huffman one (the method LHA
// archives call -lh1-): literals and match lengths share one adaptive Huffman
// code of 314 symbols, match positions use a fixed prefix code for their upper
// six bits plus six verbatim bits. The stream has no header and no end marker:
// both lengths travel in the container's item header.
#pragma once

#include <cstdint>
#include <cstdio>

/// The lengths a caller and the coder exchange for one stream.
struct LzwComp {
  uint32_t orig_size;  ///< uncompressed bytes
  uint32_t comp_size;  ///< bytes of the coded stream
};

/// Return codes of LzH::Encode and LzH::Decode.
enum lzh_status {
  LZH_OK = 0,
  LZH_E_ARG = -1,        ///< null stream or record
  LZH_E_READ = -2,       ///< the input reported an error (or a stored copy ran short)
  LZH_E_WRITE = -3,      ///< the output reported an error
  LZH_E_EMPTY = -4,      ///< Encode: nothing to code
  LZH_E_TOO_LARGE = -5   ///< Encode: 4 GiB or more of input, or a stream that long
};

/// One coder object serves exactly one Encode or one Decode: its bit buffers
/// and ring are reset only by the constructor. The object is large (tables and
/// I/O buffers, about 170 KB): allocate it on the heap.
class LzH {
 public:
  static constexpr int N = 4096;           ///< ring buffer size
  static constexpr int F = 60;             ///< look-ahead size, longest match
  static constexpr int THRESHOLD = 2;      ///< longer matches than this are coded as matches
  static constexpr int NIL = N;            ///< absent node in the search trees
  static constexpr int N_CHAR = 256 - THRESHOLD + F;  ///< 314 symbols
  static constexpr int T = N_CHAR * 2 - 1;             ///< Huffman table size, 627
  static constexpr int R = T - 1;                      ///< Huffman root, 626
  static constexpr unsigned MAX_FREQ = 0x8000;         ///< root frequency that triggers a rebuild

  LzH();

  /// Codes every byte from the current position of `in` to its end onto
  /// `out` and fills `rec`. Returns LZH_OK or a negative lzh_status; on
  /// LZH_E_EMPTY nothing is written and `rec` is left unchanged.
  int Encode(FILE* in, FILE* out, LzwComp* rec);

  /// Writes exactly rec->orig_size bytes to `out`, reading at most
  /// rec->comp_size bytes from `in`. Equal lengths mean stored bytes, copied
  /// as they are. A coded stream that ends early reads as zero bits (see
  /// InputRanShort). Returns LZH_OK or a negative lzh_status.
  int Decode(FILE* in, FILE* out, LzwComp* rec);

  /// Codes a sequence of symbols (0..313) with the adaptive code alone, no
  /// match finding: lets tests reach code words of any depth, which real
  /// inputs rarely do. Returns the bytes written, or a negative lzh_status.
  long EncodeSymbols(const uint16_t* symbols, size_t count, FILE* out);

  /// After a coded Decode: true when the decoder needed bits past the end of
  /// the stream, i.e. the stream was truncated or damaged.
  bool InputRanShort() const { return ran_short_; }
  /// After a coded Decode: bits of the stream the decoder consumed. A whole
  /// stream uses all its bytes: (bits + 7) / 8 equals comp_size.
  uint64_t BitsUsed() const { return bits_taken - uint64_t(getlen); }

  /// Largest output a coded stream of `comp_size` bytes can produce: every
  /// step costs at least one bit per literal byte, or ten bits per match of at
  /// most 60 bytes. A larger recorded size marks a damaged item.
  static uint64_t MaxExpansion(uint32_t comp_size) { return uint64_t(comp_size) * 48u; }

 private:
  static constexpr int BUF_SIZE = 1 << 16;
  static constexpr int TEXT_PAD = 8;  // the 8-byte compare reads this far past the ring copy

  // Buffered byte input; reads stop at `limit` bytes.
  struct Source {
    FILE* file = nullptr;
    uint64_t limit = 0;
    size_t pos = 0, len = 0;
    bool eof = false, error = false;
  };
  // Buffered byte output.
  struct Sink {
    FILE* file = nullptr;
    size_t len = 0;
    uint64_t count = 0;
    bool error = false;
  };

  void InitVars();
  void InitTree();
  void InsertNode(int r);
  void DeleteNode(int p);
  void ReplaceNode(int p, int r);
  // The links of a node are read and written as one 32-bit word (left child
  // in the low half): a narrower store followed by the wider load of the
  // next search would stall store forwarding on every step.
  uint32_t LoadKids(int p) const;
  void StoreKids(int p, uint32_t v);
  int Kid(int p, int d) const { return int((LoadKids(p) >> (d << 4)) & 0xFFFF); }
  void SetKid(int p, int d, int v) {
    StoreKids(p, (LoadKids(p) & ~(0xFFFFu << (d << 4))) | (uint32_t(v) << (d << 4)));
  }
  void StartHuff();
  void reconst();
  void update(int c);
  void EncodeChar(unsigned c);
  void EncodePosition(unsigned c);
  void EncodeEnd();
  int DecodeChar();
  int DecodePosition();
  void Putcode(int l, uint32_t c);
  void PutBits(uint32_t code, int n);
  void FlushPutWords();
  void FillBits();

  bool Refill();
  int ReadInputByte();
  size_t ReadInput(uint8_t* dst, size_t n);
  void PutByte(uint8_t b);
  void FlushOutput();
  int CopyStored(LzwComp* rec);

  Source src_;
  Sink dst_;
  int64_t textsize;
  uint64_t codesize;
  int match_position, match_length;

  // Output bits: putbuf holds putlen pending bits, right-aligned.
  uint64_t putbuf;
  int putlen;
  // Input bits: getbuf holds getlen bits, left-aligned in 64 bits.
  uint64_t getbuf;
  int getlen;
  uint64_t bits_taken;  // bits loaded into getbuf, including zero bits past the end
  uint64_t stream_bits;
  bool ran_short_;

  const uint8_t* Fixp_len;
  const uint8_t* Fixp_code;
  const uint8_t* Fixd_code;
  const uint8_t* Fixd_len;

  uint8_t text_buf[N + F - 1 + TEXT_PAD];
  alignas(8) int16_t kids[N + 257][2];  // left and right subtree of each node
  int16_t dad[N + 257];
  uint16_t freq[T + 1];
  int16_t prnt[T + N_CHAR];
  int16_t son[T];

  uint8_t inbuf[BUF_SIZE];
  uint8_t outbuf[BUF_SIZE];
};
