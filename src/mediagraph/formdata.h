#pragma once
// The media components of the main window as its form data describes them:
// two graphs, nine filter components with their stored moniker blocks and
// two sample grabbers with their stored media type. Each stored block is a
// byte array read through the same "data" reader the components persist
// with, so what the form holds and what the components load are one format.
//
// The caller (the main window) owns what is made: every component is owned
// by `owner`. User interface thread only.

#include <QByteArray>
#include <QString>
#include <vector>

#include "mediagraph/filter.h"
#include "mediagraph/filtergraph.h"
#include "mediagraph/samplegrabber.h"

namespace ronvix::mediagraph {

// The stored "data" value of a TBaseFilter that holds the device moniker
// with `display_name` (4-byte count, moniker class id, byte count, UTF-16LE
// name with its terminating zero).
QByteArray StoredMonikerData(const QString& display_name);

// A stored filter component of the main window.
struct StoredFilter {
    const char* name;
    // "CaptureGraph", "OutGraph" or empty for none.
    const char* graph;
    // The moniker's display name; empty for an empty block.
    QString display_name;
};
// The nine, in the form's order.
const std::vector<StoredFilter>& MainFormFilters();

// The 72-byte stored media type of both grabbers: video, MJPG, VideoInfo,
// sample size 1, no format block.
QByteArray GrabberMediaTypeData();

// A graph as the form stores it: capture mode, published for graph editors.
TFilterGraph* CreateStoredGraph(QObject* owner, const QString& name);
// The filter component named `name` (one of MainFormFilters), its block read
// from its stored data, bound to `graph` (null for none).
TFilter* CreateStoredFilter(QObject* owner, const QString& name, TFilterGraph* graph);
// A sample grabber with the stored media type, bound to `graph`.
TSampleGrabber* CreateStoredGrabber(QObject* owner, const QString& name, TFilterGraph* graph);

// The capture side's components: its graph, the two sources, the sync
// filter, the preview renderer and the capture path's grabber.
struct CaptureMedia {
    TFilterGraph* CaptureGraph = nullptr;
    TFilter* VideoSourceFilter = nullptr;
    TFilter* AudioSourceFilter = nullptr;
    TFilter* sync = nullptr;
    TFilter* videowindow = nullptr;
    TSampleGrabber* SampleGrabber = nullptr;
};
// The tape output side's: its graph, the output devices, the splitter, the
// grabber before the video output and the two components the form keeps
// unbound.
struct TapeMedia {
    TFilterGraph* OutGraph = nullptr;
    TFilter* VideoDestFilter = nullptr;
    TFilter* AudioDestFilter = nullptr;
    TFilter* Splitter = nullptr;
    TSampleGrabber* OutGrabber = nullptr;
    TFilter* DestSync = nullptr;
    TFilter* VideoDestWindow = nullptr;
};
// Each made with their stored properties (Loaded() is left to the owner).
CaptureMedia CreateCaptureMedia(QObject* owner);
TapeMedia CreateTapeMedia(QObject* owner);

// Every non-visual media component of the main window.
struct MainFormMedia : CaptureMedia, TapeMedia {};
MainFormMedia CreateMainFormMedia(QObject* owner);

}  // namespace ronvix::mediagraph
