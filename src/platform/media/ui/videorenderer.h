#pragma once
// The video renderer: draws RGB32 video in a window, under two class ids
// ("videowindow", which the system's forms name by moniker, and the classic
// Video Renderer, which graph building finds by merit). Both are the same
// filter.
//
// What a caller may rely on:
// - One input pin, "Input", taking RGB32 video with a VideoInfo block
//   (bottom-up when biHeight is positive, top-down when negative).
// - IVideoWindow. Every call fails with VFW_E_NOT_CONNECTED while the input
//   is unconnected. Calls are made on the user interface thread, which owns
//   the window; the window is a widget registered as window class
//   "VideoRenderer" whose title is the caption, so FindWindowEx finds it.
// - Window styles (WS_ bits) map to the widget as follows: with an owner the
//   window is a child widget of the owner (put_Owner adds WS_CHILD, as the
//   platform does; clearing the owner removes it); without an owner it is a
//   top-level window, decorated when WS_CAPTION or WS_THICKFRAME is set and
//   kept on top with WS_EX_TOPMOST. Other bits are kept and reported back.
// - Positions are in the owner's coordinates (the screen's without one).
// - Auto-show (on by default): the window shows itself when the graph
//   leaves Stopped.
// - The message drain: with a drain window set, mouse and key input on the
//   video window is posted to the drain as WM_ messages (client coordinates
//   in lparam) instead of being handled.
// - The picture keeps its aspect: it fills the window's width or height and
//   black bars fill the rest (letterbox), never stretched. The input pin
//   answers IVideoDrawSize with the size it is drawn at, and takes frames
//   smaller than the connection's that carry their own RGB32 type.
// - Frames: a streaming thread makes each frame once at the size it is
//   drawn (a copy, or one scaling) in a one-frame mailbox and, unless a
//   delivery is already queued, queues a call to the user interface thread,
//   which paints the latest frame as it is. A
//   streaming thread never waits for the user interface thread: frames that
//   come faster than the interface paints replace each other in the mailbox.
//   A timed frame is presented at its time on the graph's clock (at once
//   when late, as live preview frames are).
// - If the owner is destroyed, the window goes with it; the renderer makes a
//   new top-level window when it next needs one.

#include "platform/com/classregistry.h"
#include "platform/media/core/interfaces.h"

namespace ronvix::media {

inline constexpr GUID CLSID_VideoRenderer = RONVIX_GUID("{70E102B0-5556-11CE-97C0-00AA0055595A}");
inline constexpr GUID CLSID_VideoWindowRenderer =
    RONVIX_GUID("{11C012C1-5563-11D3-8D66-00AA00A01893}");

// Window style bits of IVideoWindow.
inline constexpr LONG WS_CHILD = 0x40000000;
inline constexpr LONG WS_VISIBLE = 0x10000000;
inline constexpr LONG WS_CLIPSIBLINGS = 0x04000000;
inline constexpr LONG WS_CLIPCHILDREN = 0x02000000;
inline constexpr LONG WS_CAPTION = 0x00C00000;
inline constexpr LONG WS_THICKFRAME = 0x00040000;
inline constexpr LONG WS_OVERLAPPEDWINDOW = 0x00CF0000;
inline constexpr LONG WS_EX_TOPMOST = 0x00000008;
inline constexpr LONG OATRUE = -1;
inline constexpr LONG OAFALSE = 0;

// Mouse key flags in the wparam of forwarded mouse messages.
inline constexpr uintptr_t MK_LBUTTON = 0x1;
inline constexpr uintptr_t MK_RBUTTON = 0x2;
inline constexpr uintptr_t MK_SHIFT = 0x4;
inline constexpr uintptr_t MK_CONTROL = 0x8;
inline constexpr uintptr_t MK_MBUTTON = 0x10;

com::ClassEntry VideoRendererClassEntry();
com::ClassEntry VideoWindowRendererClassEntry();

// Registers both renderer classes (general filter category; the classic
// renderer with a merit that lets graph building pick it). Idempotent and
// thread-safe.
void RegisterRendererClasses();

}  // namespace ronvix::media
