#include "mediagraph/filter.h"

#include <cstring>

#include "framework/exceptions.h"
#include "platform/com/stream.h"

namespace ronvix::mediagraph {

using com::ComPtr;
using namespace media;

// --------------------------------------------------------- TPersistentMemory

void TPersistentMemory::Resize(uint32_t size) {
    m_block.clear();
    m_block.shrink_to_fit();
    if (size != 0)
        m_block.assign(size, 0);
}

void TPersistentMemory::Assign(const TPersistentMemory& source) {
    if (&source == this)
        return;
    Resize(source.BlockSize());
    if (!source.m_block.empty())
        std::memcpy(m_block.data(), source.m_block.data(), source.m_block.size());
}

void TPersistentMemory::AssignFrom(const QObject* source) {
    const QString from =
        source ? QString::fromLatin1(source->metaObject()->className()) : QStringLiteral("nil");
    throw fw::EConvertError(from, ClassName());
}

bool TPersistentMemory::SameContent(const TPersistentMemory& other) const {
    return other.BlockSize() != 0 && other.BlockSize() == BlockSize() &&
           std::memcmp(other.m_block.data(), m_block.data(), m_block.size()) == 0;
}

void TPersistentMemory::ReadData(std::span<const uint8_t> data) {
    if (data.size() < 4) {
        Resize(0);
        throw fw::Exception(QStringLiteral("Stream read error"));
    }
    const uint32_t count = uint32_t(data[0]) | uint32_t(data[1]) << 8 | uint32_t(data[2]) << 16 |
                           uint32_t(data[3]) << 24;
    if (count > data.size() - 4) {
        Resize(0);
        throw fw::Exception(QStringLiteral("Stream read error"));
    }
    Resize(count);
    if (count != 0)
        std::memcpy(m_block.data(), data.data() + 4, count);
}

QByteArray TPersistentMemory::WriteData() const {
    QByteArray out(4, '\0');
    const uint32_t size = BlockSize();
    for (int i = 0; i < 4; ++i)
        out[i] = static_cast<char>(size >> (8 * i));
    out.append(reinterpret_cast<const char*>(m_block.data()), static_cast<qsizetype>(size));
    return out;
}

// --------------------------------------------------------------- TBaseFilter

void TBaseFilter::AssignMoniker(com::IMoniker* moniker) {
    if (!moniker) {
        Resize(0);
        return;
    }
    ComPtr<com::IStream> stream;
    com::CreateStreamOnHGlobal(nullptr, com::TRUE, stream.ReleaseAndGetAddressOf());
    if (!stream) {
        Resize(0);
        return;
    }
    com::OleSaveToStream(moniker, stream.Get());
    const std::vector<uint8_t> bytes = com::ReadWholeStream(stream.Get());
    Resize(static_cast<uint32_t>(bytes.size()));
    if (!bytes.empty())
        std::memcpy(MutableBlock(), bytes.data(), bytes.size());
}

ComPtr<com::IMoniker> TBaseFilter::StoredMoniker() const {
    ComPtr<com::IMoniker> moniker;
    if (BlockSize() == 0)
        return moniker;
    ComPtr<com::IStream> stream;
    com::CreateMemoryStream(std::span(Block(), BlockSize()), stream.ReleaseAndGetAddressOf());
    if (stream)
        com::OleLoadFromStream(stream.Get(), com::IMoniker::iid, moniker.OutVoid());
    return moniker;
}

ComPtr<IBaseFilter> TBaseFilter::BindFilter() const {
    ComPtr<IBaseFilter> filter;
    ComPtr<com::IMoniker> moniker = StoredMoniker();
    if (moniker)
        moniker->BindToObject(nullptr, nullptr, IBaseFilter::iid, filter.OutVoid());
    return filter;
}

// -------------------------------------------------------------------- TFilter

TFilter::TFilter(QObject* owner, const QString& name) : fw::TComponent(owner, name) {}

TFilter::~TFilter() {
    SetFilterGraph(nullptr);
}

void TFilter::SetFilterGraph(TFilterGraph* graph) {
    if (graph == m_graph)
        return;
    QObject::disconnect(m_graph_watch);
    if (m_graph)
        m_graph->RemoveFilterLink(this);
    if (graph)
        graph->AddFilterLink(this);
    m_graph = graph;
    if (graph)
        m_graph_watch = connect(graph, &QObject::destroyed, this, [this] { GraphDestroyed(); });
}

void TFilter::GraphDestroyed() {
    // The graph's own destruction already removed the filter from the
    // platform graph; only the reference goes.
    m_graph = nullptr;
}

HRESULT TFilter::QueryInterface(com::REFIID riid, void** out) {
    if (!out)
        return com::E_POINTER;
    *out = nullptr;
    if (riid == com::IUnknown::iid || riid == IFilterLink::iid) {
        *out = static_cast<IFilterLink*>(this);
        return com::S_OK;
    }
    if (m_filter)
        return m_filter->QueryInterface(riid, out);
    return com::E_NOINTERFACE;
}

void TFilter::LinkNotify(int operation, int) {
    switch (operation) {
        case BeforeAdd:
            m_filter = m_base_filter.BindFilter();
            break;
        case AfterAdd:
            break;
        case BeforeRemove:
            if (m_filter)
                m_filter->Stop();
            break;
        case AfterRemove:
            m_filter = nullptr;
            break;
        case Rejoin:
            if (m_graph) {
                TFilterGraph* graph = m_graph;
                graph->RemoveFilterLink(this);
                graph->AddFilterLink(this);
            }
            break;
        default:
            break;
    }
}

}  // namespace ronvix::mediagraph
