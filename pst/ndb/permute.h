// The "compressible" encoding of external block data: a fixed byte-for-byte substitution.
//
// It hides text from a casual look at the file and nothing more. Only the data bytes of external
// data blocks are encoded; trees, pages, trailers and padding are stored as they are.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pst::ndb {

// Writes the encoded form of in[0..n) to out[0..n). `in` and `out` may be the same buffer.
void PermuteEncode(const std::uint8_t* in, std::uint8_t* out, std::size_t n);

// The same as PermuteEncode by single-byte lookups only (the fast path uses vector permutes
// where the processor has them); kept as a cross-check.
void PermuteEncodePortable(const std::uint8_t* in, std::uint8_t* out, std::size_t n);

// The inverse of PermuteEncode.
void PermuteDecode(const std::uint8_t* in, std::uint8_t* out, std::size_t n);

}  // namespace pst::ndb
