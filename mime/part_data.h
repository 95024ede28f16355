// The transfer-decoded bytes of a leaf part. Internal to mime/.
#pragma once

#include <gmime/gmime.h>

#include <cstddef>
#include <string>
#include <string_view>

namespace mime {

// The decoders look for a stop request (common/cancel.h) once per this many bytes; a decode cut
// short by one returns what it had, and the caller reports the stop.
inline constexpr std::size_t kCancelCheckBytes = std::size_t{1} << 20;

// While one lives on a thread, the decoders on that thread may give the memory of the input they
// have decoded back to the system, for parts within `bytes` of 16 MiB or more: a huge attachment
// then costs about its size once, not its encoded and its decoded size together. Only for bytes
// that nobody reads again once decoded (a message file's buffer, built into a model once), on
// memory from malloc (the pages read as zeros afterwards).
class ReleasableInput {
 public:
  explicit ReleasableInput(std::string_view bytes);
  ~ReleasableInput();
  ReleasableInput(const ReleasableInput&) = delete;
  ReleasableInput& operator=(const ReleasableInput&) = delete;
};

// A decoder's side of it: gives back the whole pages of `raw` up to what was consumed.
class InputRelease {
 public:
  explicit InputRelease(std::string_view raw);
  void Upto(const char* consumed);

 private:
  const char* released_ = nullptr;  // Null when `raw` may not be given back.
};

// Decodes `part` (borrowed) from base64, quoted-printable or uuencode; other encodings are copied
// as they are. Base64 cut off inside a group still yields the bytes its last characters carry.
std::string DecodedContent(GMimePart* part);

// Decodes `raw` as DecodedContent decodes a part whose transfer encoding is `encoding`.
std::string TransferDecode(std::string_view raw, GMimeContentEncoding encoding);

// Decodes base64 as GMime's decoder does, only faster: characters outside the alphabet are passed
// over, and the first "=" ends the data. A group ended by "=" or cut off still yields the bytes
// its two or three characters carry.
std::string Base64Decode(std::string_view raw);

// Decodes uuencoded data from its "begin" line (when there is one) to its "end" line.
std::string UuDecode(std::string_view raw);

}  // namespace mime
