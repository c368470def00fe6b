#pragma once
// ComPtr<T>: holds one reference to a platform object. Copying adds a
// reference, destruction releases it. Not thread-safe by itself: one holder
// per thread, or guard it.

#include <cstddef>
#include <utility>

#include "platform/com/unknwn.h"

namespace ronvix::com {

template <class T>
class ComPtr {
public:
    ComPtr() noexcept = default;
    ComPtr(std::nullptr_t) noexcept {}
    // Adds a reference to `p`.
    ComPtr(T* p) noexcept : m_ptr(p) {
        if (m_ptr)
            m_ptr->AddRef();
    }
    ComPtr(const ComPtr& other) noexcept : ComPtr(other.m_ptr) {}
    template <class U>
    ComPtr(const ComPtr<U>& other) noexcept : ComPtr(static_cast<T*>(other.Get())) {}
    ComPtr(ComPtr&& other) noexcept : m_ptr(std::exchange(other.m_ptr, nullptr)) {}
    ~ComPtr() { Reset(); }

    ComPtr& operator=(const ComPtr& other) noexcept {
        ComPtr(other).Swap(*this);
        return *this;
    }
    ComPtr& operator=(ComPtr&& other) noexcept {
        ComPtr(std::move(other)).Swap(*this);
        return *this;
    }
    ComPtr& operator=(T* p) noexcept {
        ComPtr(p).Swap(*this);
        return *this;
    }
    ComPtr& operator=(std::nullptr_t) noexcept {
        Reset();
        return *this;
    }

    // Takes over a reference the caller owns (no AddRef).
    static ComPtr Adopt(T* p) noexcept {
        ComPtr c;
        c.m_ptr = p;
        return c;
    }
    void Attach(T* p) noexcept {
        Reset();
        m_ptr = p;
    }
    // Gives the reference to the caller.
    [[nodiscard]] T* Detach() noexcept { return std::exchange(m_ptr, nullptr); }

    void Reset() noexcept {
        if (T* p = std::exchange(m_ptr, nullptr))
            p->Release();
    }
    void Swap(ComPtr& other) noexcept { std::swap(m_ptr, other.m_ptr); }

    T* Get() const noexcept { return m_ptr; }
    T* operator->() const noexcept { return m_ptr; }
    T& operator*() const noexcept { return *m_ptr; }
    explicit operator bool() const noexcept { return m_ptr != nullptr; }

    // For out-parameters: releases what is held and returns the slot.
    T** ReleaseAndGetAddressOf() noexcept {
        Reset();
        return &m_ptr;
    }
    T** GetAddressOf() noexcept { return &m_ptr; }
    void** OutVoid() noexcept { return reinterpret_cast<void**>(ReleaseAndGetAddressOf()); }

    // QueryInterface for U; an empty result on failure.
    template <class U>
    ComPtr<U> As() const noexcept {
        ComPtr<U> out;
        if (m_ptr)
            m_ptr->QueryInterface(U::iid, out.OutVoid());
        return out;
    }
    template <class U>
    HRESULT As(ComPtr<U>* out) const noexcept {
        if (!m_ptr)
            return E_POINTER;
        return m_ptr->QueryInterface(U::iid, out->OutVoid());
    }

    friend bool operator==(const ComPtr& a, const ComPtr& b) { return a.m_ptr == b.m_ptr; }
    friend bool operator==(const ComPtr& a, std::nullptr_t) { return a.m_ptr == nullptr; }

private:
    T* m_ptr = nullptr;
};

}  // namespace ronvix::com
