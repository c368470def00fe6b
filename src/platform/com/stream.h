#pragma once
// Growable memory streams and object persistence through streams.

#include <cstdint>
#include <span>
#include <vector>

#include "platform/com/objidl.h"

namespace ronvix::com {

// A new, empty, growable memory stream positioned at 0. `hglobal` must be
// null (this platform has no global memory handles; E_INVALIDARG
// otherwise); `delete_on_release` is accepted for the platform's signature:
// the memory always belongs to the stream. Each stream object is
// thread-safe; clones share the bytes but keep their own position.
using HGLOBAL = void*;
HRESULT CreateStreamOnHGlobal(HGLOBAL hglobal, BOOL delete_on_release, IStream** out);

// A memory stream holding a copy of `bytes`, positioned at 0.
HRESULT CreateMemoryStream(std::span<const uint8_t> bytes, IStream** out);

// Everything from the stream's start to its end; the position is left at the
// end. Empty on failure.
std::vector<uint8_t> ReadWholeStream(IStream* stream);

// Writes the object's class id (16 bytes, binary layout) and then the
// object's own data at the stream's position.
HRESULT OleSaveToStream(IPersistStream* object, IStream* stream);

// Reads a class id, creates that class through the class registry, loads it
// from the stream and returns interface `riid`. On any failure `*out` is null
// and nothing created survives; a stream that ends early fails with
// STG_E_READFAULT.
HRESULT OleLoadFromStream(IStream* stream, REFIID riid, void** out);

// Reads exactly `cb` bytes or fails with STG_E_READFAULT.
HRESULT ReadExact(IStream* stream, void* pv, ULONG cb);

}  // namespace ronvix::com
