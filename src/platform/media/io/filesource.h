#pragma once
// The File Source (Async): a file given to a graph as a byte stream that a
// parser pulls from.
//
// What a caller may rely on:
// - File Source (CLSID_AsyncReader): IFileSourceFilter::Load maps the name
//   (drive letters as every platform file function does) and opens the file
//   for reading; a missing file (or a folder) fails with VFW_E_NOT_FOUND, an
//   unreadable one with the file error. A source loads one file in its life
//   (a second Load fails with E_UNEXPECTED). Its one output pin, "Output",
//   offers MEDIATYPE_Stream / MEDIASUBTYPE_Avi and answers IAsyncReader;
//   the source itself streams nothing.

#include <cstdint>

#include "platform/com/classregistry.h"
#include "platform/media/core/interfaces.h"

namespace ronvix::media {

using DWORD_PTR = uintptr_t;

// The platform's pull interface of a file source's output pin. Sample times
// given to Request and SyncReadAligned are byte positions times 10^7.
// Thread-safe.
struct IAsyncReader : IUnknown {
    static constexpr GUID iid = RONVIX_GUID("{56A868AA-0AD4-11CE-B03A-0020AF0BA770}");
    using base = IUnknown;
    virtual HRESULT RequestAllocator(IMemAllocator* preferred, ALLOCATOR_PROPERTIES* props,
                                     IMemAllocator** actual) = 0;
    // Queues a read into `sample`; WaitForNext completes it.
    virtual HRESULT Request(IMediaSample* sample, DWORD_PTR user) = 0;
    // The oldest queued request, read; VFW_E_TIMEOUT when none came within
    // `timeout_ms`; VFW_E_WRONG_STATE for requests given back by a flush.
    virtual HRESULT WaitForNext(DWORD timeout_ms, IMediaSample** sample, DWORD_PTR* user) = 0;
    virtual HRESULT SyncReadAligned(IMediaSample* sample) = 0;
    // S_OK when all `length` bytes were read, S_FALSE when the file ended
    // first (the rest of `buffer` is zero-filled), a file error otherwise.
    virtual HRESULT SyncRead(LONGLONG position, LONG length, BYTE* buffer) = 0;
    virtual HRESULT Length(LONGLONG* total, LONGLONG* available) = 0;
    // Flushing gives back every queued request and wakes WaitForNext.
    virtual HRESULT BeginFlush() = 0;
    virtual HRESULT EndFlush() = 0;
};

com::ClassEntry FileSourceClassEntry();

// A new instance for callers that need no class registry.
HRESULT CreateFileSource(REFIID riid, void** out);

}  // namespace ronvix::media
