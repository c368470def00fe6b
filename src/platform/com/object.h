#pragma once
// ComObject<Interfaces...>: the one reference-counting base of the engine.
// The count starts at one (the creator's reference), is atomic, and the
// object deletes itself when it reaches zero. Objects are neither copied nor
// moved. QueryInterface answers every listed interface and every interface
// each of them extends; subclasses add dynamic answers through
// QueryInterfaceExtra.

#include <atomic>
#include <cassert>
#include <new>
#include <type_traits>
#include <utility>

#include "platform/com/comptr.h"
#include "platform/com/unknwn.h"

namespace ronvix::com {

namespace detail {
// IUnknown ends every chain; QueryInterface answers it itself, through the
// first interface, because an object of several interfaces holds several.
template <class Self, class I>
bool FindInChain(Self* self, REFIID riid, void** out) {
    if constexpr (std::is_void_v<I> || std::is_same_v<I, IUnknown>) {
        return false;
    } else {
        if (riid == I::iid) {
            *out = static_cast<I*>(self);
            return true;
        }
        return FindInChain<Self, typename I::base>(self, riid, out);
    }
}
}  // namespace detail

template <class First, class... Rest>
class ComObject : public First, public Rest... {
public:
    ComObject() = default;
    ComObject(const ComObject&) = delete;
    ComObject& operator=(const ComObject&) = delete;

    HRESULT QueryInterface(REFIID riid, void** out) override {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        if (riid == IUnknown::iid) {
            *out = static_cast<IUnknown*>(static_cast<First*>(this));
        } else if (!(detail::FindInChain<ComObject, First>(this, riid, out) ||
                     (detail::FindInChain<ComObject, Rest>(this, riid, out) || ...))) {
            return QueryInterfaceExtra(riid, out);
        }
        AddRef();
        return S_OK;
    }
    ULONG AddRef() override {
        ULONG n = m_refs.fetch_add(1, std::memory_order_relaxed) + 1;
        assert(n > 1 && "AddRef on a destroyed object");
        return n;
    }
    ULONG Release() override {
        ULONG n = m_refs.fetch_sub(1, std::memory_order_acq_rel) - 1;
        assert(n != 0xFFFFFFFFu && "Release without a reference");
        if (n == 0) {
            m_refs.store(0xDEAD, std::memory_order_relaxed);
            delete this;
        }
        return n;
    }

    // The current count, for tests that check teardown.
    ULONG RefCountForTest() const { return m_refs.load(); }

protected:
    virtual ~ComObject() = default;

    // Answers interfaces that are not in the static list. On success it must
    // write an AddRef'd pointer and return S_OK.
    virtual HRESULT QueryInterfaceExtra(REFIID, void** out) {
        *out = nullptr;
        return E_NOINTERFACE;
    }

private:
    std::atomic<ULONG> m_refs{1};
};

// Creates T with a count of one and hands that reference to the ComPtr.
template <class T, class... Args>
ComPtr<T> MakeCom(Args&&... args) {
    return ComPtr<T>::Adopt(new T(std::forward<Args>(args)...));
}

// Writes `p` AddRef'd as interface I into `out`.
template <class I>
HRESULT ReturnInterface(I* p, void** out) {
    if (!out)
        return E_POINTER;
    *out = p;
    if (!p)
        return E_NOINTERFACE;
    p->AddRef();
    return S_OK;
}

}  // namespace ronvix::com
