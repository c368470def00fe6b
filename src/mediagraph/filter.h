#pragma once
// Filter components chosen by moniker.
//
// TPersistentMemory is a byte block stored with the form as the binary
// property "data" (a 4-byte little-endian count, then the bytes).
// TBaseFilter's block holds one saved moniker; it makes filters from it.
// TFilter puts a fresh instance of that filter into its TFilterGraph each
// time the graph becomes active, under the component's name, and answers
// interface requests for the instance while it exists.
//
// User interface thread only.

#include <QByteArray>
#include <QPointer>
#include <cstdint>
#include <span>
#include <vector>

#include "framework/component.h"
#include "mediagraph/filtergraph.h"
#include "mediagraph/links.h"
#include "platform/com/objidl.h"

namespace ronvix::mediagraph {

class TPersistentMemory {
public:
    TPersistentMemory() = default;
    TPersistentMemory(const TPersistentMemory&) = delete;
    TPersistentMemory& operator=(const TPersistentMemory&) = delete;
    virtual ~TPersistentMemory() = default;

    // The class name the framework's conversion error shows.
    virtual QString ClassName() const { return QStringLiteral("TPersistentMemory"); }

    const uint8_t* Block() const { return m_block.empty() ? nullptr : m_block.data(); }
    uint32_t BlockSize() const { return static_cast<uint32_t>(m_block.size()); }
    // Frees the block; then, for a non-zero size, a new zero-filled block.
    void Resize(uint32_t size);
    // Copies another block (nothing when it is this one).
    void Assign(const TPersistentMemory& source);
    // Any other source: EConvertError ("Cannot assign a X to a Y").
    void AssignFrom(const QObject* source);
    void AssignTo(TPersistentMemory& dest) const { dest.Assign(*this); }
    // True only for a non-empty `other` with the same bytes.
    bool SameContent(const TPersistentMemory& other) const;

    // The stored "data" value. A count larger than the bytes that follow is
    // a damaged value: it raises "Stream read error" and leaves the block
    // empty rather than reading or allocating past the data.
    void ReadData(std::span<const uint8_t> data);
    void ReadData(const QByteArray& data) {
        ReadData(std::span(reinterpret_cast<const uint8_t*>(data.constData()),
                           static_cast<size_t>(data.size())));
    }
    QByteArray WriteData() const;

protected:
    uint8_t* MutableBlock() { return m_block.empty() ? nullptr : m_block.data(); }

private:
    std::vector<uint8_t> m_block;
};

class TBaseFilter : public TPersistentMemory {
public:
    QString ClassName() const override { return QStringLiteral("TBaseFilter"); }

    // Saves `moniker` into the block; null empties it.
    void AssignMoniker(com::IMoniker* moniker);
    // The moniker the block holds; null when empty or when it does not load.
    com::ComPtr<com::IMoniker> StoredMoniker() const;
    // A new filter instance from the stored moniker, or null.
    com::ComPtr<media::IBaseFilter> BindFilter() const;
};

class TFilter : public fw::TComponent, public IFilterLink {
    Q_OBJECT
public:
    explicit TFilter(QObject* owner = nullptr, const QString& name = {});
    ~TFilter() override;

    TFilterGraph* FilterGraph() const { return m_graph; }
    // Leaves the old graph and joins the new one (nothing when unchanged).
    void SetFilterGraph(TFilterGraph* graph);
    TBaseFilter& BaseFilter() { return m_base_filter; }
    const TBaseFilter& BaseFilter() const { return m_base_filter; }

    // The component's own interfaces (IUnknown, IFilterLink), then the
    // filter instance's. References are not counted.
    HRESULT QueryInterface(com::REFIID riid, void** out) override;
    com::ULONG AddRef() override { return 1; }
    com::ULONG Release() override { return 1; }
    template <class I>
    com::ComPtr<I> Query() {
        com::ComPtr<I> out;
        QueryInterface(I::iid, out.OutVoid());
        return out;
    }

    // IFilterLink
    com::ComPtr<media::IBaseFilter> LinkedFilter() override { return m_filter; }
    QString LinkedName() override { return Name(); }
    void LinkNotify(int operation, int param) override;

private:
    void GraphDestroyed();

    QPointer<TFilterGraph> m_graph;
    TBaseFilter m_base_filter;
    com::ComPtr<media::IBaseFilter> m_filter;
    QMetaObject::Connection m_graph_watch;
};

}  // namespace ronvix::mediagraph
