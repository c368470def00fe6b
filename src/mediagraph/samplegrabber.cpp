#include "mediagraph/samplegrabber.h"

#include <QCoreApplication>
#include <QMetaObject>

#include "framework/application.h"
#include "framework/exceptions.h"
#include "platform/com/classregistry.h"

namespace ronvix::mediagraph {

using com::ComPtr;
using namespace media;

namespace {

// Hands a handler's failure to the user interface thread for the report.
void ReportLater(const QString& message) {
    if (QCoreApplication* app = QCoreApplication::instance())
        QMetaObject::invokeMethod(
            app, [message] { fw::ReportMessage(message); }, Qt::QueuedConnection);
}

}  // namespace

TSampleGrabber::TSampleGrabber(QObject* owner, const QString& name)
    : fw::TComponent(owner, name), m_media_type(MEDIATYPE_Video) {
    m_media_type.SetSubtype(MEDIASUBTYPE_RGB24);
    m_media_type.SetFormatType(FORMAT_VideoInfo);
}

TSampleGrabber::~TSampleGrabber() {
    SetFilterGraph(nullptr);
}

void TSampleGrabber::SetFilterGraph(TFilterGraph* graph) {
    if (graph == m_graph)
        return;
    QObject::disconnect(m_graph_watch);
    if (m_graph)
        m_graph->RemoveFilterLink(this);
    if (graph)
        graph->AddFilterLink(this);
    m_graph = graph;
    if (graph)
        m_graph_watch = connect(graph, &QObject::destroyed, this, [this] { m_graph = nullptr; });
}

void TSampleGrabber::ApplyMediaType() {
    if (!m_grabber)
        return;
    if (m_filter)
        m_filter->Stop();
    if (m_in_pin)
        m_in_pin->Disconnect();
    m_grabber->SetMediaType(&m_media_type.MediaRecord());
}

HRESULT TSampleGrabber::QueryInterface(com::REFIID riid, void** out) {
    if (!out)
        return com::E_POINTER;
    *out = nullptr;
    if (riid == com::IUnknown::iid || riid == IFilterLink::iid) {
        *out = static_cast<IFilterLink*>(this);
        return com::S_OK;
    }
    if (riid == ISampleGrabberCB::iid) {
        *out = static_cast<ISampleGrabberCB*>(this);
        return com::S_OK;
    }
    if (m_filter)
        return m_filter->QueryInterface(riid, out);
    return com::E_NOINTERFACE;
}

void TSampleGrabber::LinkNotify(int operation, int) {
    switch (operation) {
        case BeforeAdd:
            com::CoCreateInstance(CLSID_SampleGrabber, nullptr, com::CLSCTX_INPROC_SERVER,
                                  IBaseFilter::iid, m_filter.OutVoid());
            break;
        case AfterAdd: {
            if (!m_filter)
                break;
            m_filter->QueryInterface(ISampleGrabber::iid, m_grabber.OutVoid());
            ComPtr<IEnumPins> pins;
            m_filter->EnumPins(pins.ReleaseAndGetAddressOf());
            if (pins) {
                pins->Next(1, m_in_pin.ReleaseAndGetAddressOf(), nullptr);
                pins->Next(1, m_out_pin.ReleaseAndGetAddressOf(), nullptr);
            }
            ApplyMediaType();
            if (m_grabber) {
                m_grabber->SetBufferSamples(com::TRUE);
                if (OnBuffer)
                    m_grabber->SetCallback(this, 1);
            }
            break;
        }
        case BeforeRemove:
            if (!m_filter)
                break;
            m_filter->Stop();
            if (m_in_pin)
                m_in_pin->Disconnect();
            if (m_out_pin)
                m_out_pin->Disconnect();
            break;
        case AfterRemove:
            if (m_grabber) {
                m_grabber->SetCallback(nullptr, 1);
                m_grabber->SetBufferSamples(com::FALSE);
            }
            m_grabber = nullptr;
            m_in_pin = nullptr;
            m_out_pin = nullptr;
            m_filter = nullptr;
            break;
        case Rejoin:
            ApplyMediaType();
            break;
        default:
            break;
    }
}

HRESULT TSampleGrabber::SampleCB(double, IMediaSample*) {
    return com::S_OK;
}

HRESULT TSampleGrabber::BufferCB(double sample_time, BYTE* buffer, com::LONG length) {
    if (!OnBuffer)
        return com::S_OK;
    std::lock_guard guard(m_buffer_lock);
    try {
        OnBuffer(this, sample_time, buffer, static_cast<int>(length));
    } catch (const fw::Exception& e) {
        ReportLater(e.Message());
    } catch (const std::exception& e) {
        ReportLater(QString::fromUtf8(e.what()));
    } catch (...) {
        ReportLater(QStringLiteral("Unknown error in a buffer handler"));
    }
    return com::S_OK;
}

}  // namespace ronvix::mediagraph
