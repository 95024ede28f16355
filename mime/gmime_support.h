// Ownership helpers for GMime and GLib objects, and the one-time library set-up.
//
// Internal to mime/: nothing outside this folder sees a GMime type.
#pragma once

#include <gmime/gmime.h>

#include <memory>
#include <string_view>

namespace mime {

// Runs g_mime_init() once per process; cheap to call again. Safe from any thread.
void EnsureGMimeInitialized();

// Parser options shared by every parse: lenient about addresses, parameters and encoded words,
// and reading undeclared 8-bit header text as UTF-8, else windows-1252. Owned by this module;
// lives until the process ends.
GMimeParserOptions* SharedParserOptions();

// The type of a Content-Type value naming the media type "text" without a subtype, read as
// text/plain with its parameters (RFC 2045 reads a type that does not parse as text/plain, and
// these are text); null for any other value. GMime makes application/octet-stream of it and
// drops its charset. A new reference.
GMimeContentType* TextTypeOfBareText(std::string_view raw_value);

struct GObjectUnref {
  void operator()(void* p) const {
    if (p != nullptr) g_object_unref(p);
  }
};
// Holds one reference to a GObject. Wrap the result of every call that returns a new reference.
template <typename T>
using GObjectPtr = std::unique_ptr<T, GObjectUnref>;

struct GFree {
  void operator()(void* p) const { g_free(p); }
};
// Holds a string that GLib or GMime allocated and the caller must g_free.
using GCharPtr = std::unique_ptr<char, GFree>;

}  // namespace mime
