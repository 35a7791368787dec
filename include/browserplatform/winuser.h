// Window messages, as far as a message pump uses them: window classes, message-only windows,
// per-thread message queues with posted messages, WM_QUIT and window timers, the peek /
// translate / dispatch calls and the wait for objects or input.
//
// Model. Each thread gets a message queue the first time it calls one of these functions (or
// creates a window). A window belongs to the thread that created it; its messages go to that
// thread's queue, and only that thread may peek them, dispatch them, set its timers or destroy
// it. Any thread may post to any window. When a thread ends, its windows are destroyed and its
// queue is dropped. Window handles live in a table: a destroyed or forged HWND is refused with
// ERROR_INVALID_WINDOW_HANDLE and never touches freed memory.
//
// Order of retrieval, as on Windows: posted messages first-in first-out; WM_QUIT only when no
// posted message matching the filter is pending; WM_TIMER, synthesised for a due timer, only
// after those. Sent messages (SendMessage), hooks, input devices and painting do not exist
// here: QS_SENDMESSAGE, QS_KEY, QS_MOUSE*, QS_PAINT, QS_HOTKEY and QS_RAWINPUT are never
// reported, and no creation or destruction messages (WM_NCCREATE, WM_CREATE, WM_DESTROY) are
// sent to a window procedure.
//
// Thread safety: every call may be made from any thread; the calls that act on "the calling
// thread's queue" affect only that thread. Window procedures run on the window's thread,
// inside DispatchMessageW, with no lock of this layer held: they may call any of these
// functions.
#pragma once

#include "browserplatform/types.h"

using WPARAM = UINT_PTR;
using LPARAM = LONG_PTR;
using LRESULT = LONG_PTR;
using ATOM = WORD;
using HICON = void*;
using HCURSOR = void*;
using HBRUSH = void*;
using HMENU = void*;

using WNDPROC = LRESULT (*)(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
using TIMERPROC = void (*)(HWND hwnd, UINT message, UINT_PTR id, DWORD ticks);

struct POINT {
  LONG x;
  LONG y;
};

struct MSG {
  HWND hwnd;  // null for a thread message (WM_QUIT, PostMessageW to null)
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  DWORD time;  // GetTickCount() when the message was posted (or synthesised)
  POINT pt;    // always {0, 0}: there is no cursor
  DWORD lPrivate;
};
using LPMSG = MSG*;

// The layout is this platform's own (80 bytes on x86-64, not the 48 bytes of 32-bit Windows):
// callers set cbSize to sizeof(WNDCLASSEXW).
struct WNDCLASSEXW {
  UINT cbSize;
  UINT style;
  WNDPROC lpfnWndProc;
  int cbClsExtra;
  int cbWndExtra;
  HINSTANCE hInstance;
  HICON hIcon;
  HCURSOR hCursor;
  HBRUSH hbrBackground;
  LPCWSTR lpszMenuName;
  LPCWSTR lpszClassName;
  HICON hIconSm;
};

constexpr WORD LOWORD(DWORD value) { return static_cast<WORD>(value & 0xFFFFu); }
constexpr WORD HIWORD(DWORD value) { return static_cast<WORD>(value >> 16); }
// A class atom in place of a class name.
inline LPCWSTR MAKEINTATOM(ATOM atom) { return reinterpret_cast<LPCWSTR>(uintptr_t{atom}); }

// The parent of message-only windows.
inline HWND const HWND_MESSAGE = reinterpret_cast<HWND>(static_cast<intptr_t>(-3));

constexpr UINT WM_NULL = 0x0000;
constexpr UINT WM_QUIT = 0x0012;
constexpr UINT WM_NCCREATE = 0x0081;
constexpr UINT WM_TIMER = 0x0113;
constexpr UINT WM_MOUSEFIRST = 0x0200;
constexpr UINT WM_MOUSELAST = 0x020D;
constexpr UINT WM_USER = 0x0400;

// PeekMessageW's `remove`.
constexpr UINT PM_NOREMOVE = 0x0000;
constexpr UINT PM_REMOVE = 0x0001;
constexpr UINT PM_NOYIELD = 0x0002;

// Queue status bits (GetQueueStatus, MsgWaitForMultipleObjectsEx).
constexpr UINT QS_KEY = 0x0001;
constexpr UINT QS_MOUSEMOVE = 0x0002;
constexpr UINT QS_MOUSEBUTTON = 0x0004;
constexpr UINT QS_POSTMESSAGE = 0x0008;
constexpr UINT QS_TIMER = 0x0010;
constexpr UINT QS_PAINT = 0x0020;
constexpr UINT QS_SENDMESSAGE = 0x0040;
constexpr UINT QS_HOTKEY = 0x0080;
constexpr UINT QS_ALLPOSTMESSAGE = 0x0100;
constexpr UINT QS_RAWINPUT = 0x0400;
constexpr UINT QS_MOUSE = QS_MOUSEMOVE | QS_MOUSEBUTTON;
constexpr UINT QS_INPUT = QS_MOUSE | QS_KEY | QS_RAWINPUT;
constexpr UINT QS_ALLEVENTS = QS_INPUT | QS_POSTMESSAGE | QS_TIMER | QS_PAINT | QS_HOTKEY;
constexpr UINT QS_ALLINPUT = QS_ALLEVENTS | QS_SENDMESSAGE;  // 0x4FF

// MsgWaitForMultipleObjectsEx's `flags`.
constexpr DWORD MWMO_WAITALL = 0x0001;
constexpr DWORD MWMO_ALERTABLE = 0x0002;
constexpr DWORD MWMO_INPUTAVAILABLE = 0x0004;

constexpr UINT USER_TIMER_MINIMUM = 0x0000000A;
constexpr UINT USER_TIMER_MAXIMUM = 0x7FFFFFFF;

// ---------------------------------------------------------------------------------------------
// Window classes. Classes are process-wide and named case-insensitively (ASCII letters fold);
// the instance handle is not part of a class's identity.

// Registers the class described by `wc` and returns its atom (0xC000 and above). Only the
// window procedure and the name are kept; the other fields are accepted and ignored. Fails
// with 0 and ERROR_INVALID_PARAMETER for a null `wc`, cbSize != sizeof(WNDCLASSEXW), a null
// window procedure, or a name that is null, an atom, empty or longer than 256 characters;
// ERROR_CLASS_ALREADY_EXISTS when the name is registered; ERROR_NOT_ENOUGH_MEMORY when every
// atom is in use.
BROWSER_EXTERN_C ATOM RegisterClassExW(const WNDCLASSEXW* wc);

// Removes a class named by name or MAKEINTATOM(atom); `instance` is ignored. FALSE with
// ERROR_CLASS_DOES_NOT_EXIST for an unknown class (or a null name), ERROR_CLASS_HAS_WINDOWS
// while windows of the class exist.
BROWSER_EXTERN_C BOOL UnregisterClassW(LPCWSTR class_name, HINSTANCE instance);

// ---------------------------------------------------------------------------------------------
// Windows. Only message-only windows exist: `parent` must be HWND_MESSAGE. The window belongs
// to the calling thread (whose queue is created if needed). Styles, position, size, title,
// menu, instance and `param` are accepted and ignored. Returns the new window, or null with
// ERROR_CANNOT_FIND_WND_CLASS for an unknown class (name or atom), ERROR_NOT_SUPPORTED for any
// other parent.
BROWSER_EXTERN_C HWND CreateWindowExW(DWORD ex_style, LPCWSTR class_name, LPCWSTR window_name,
                                      DWORD style, int x, int y, int width, int height, HWND parent,
                                      HMENU menu, HINSTANCE instance, LPVOID param);

// Destroys a window of the calling thread; its pending posted messages and its timers go with
// it. FALSE with ERROR_INVALID_WINDOW_HANDLE for a handle that is not a window,
// ERROR_ACCESS_DENIED for a window of another thread.
BROWSER_EXTERN_C BOOL DestroyWindow(HWND hwnd);

// ---------------------------------------------------------------------------------------------
// Posting and retrieving.

// Appends a message to the queue of the window's thread and wakes that thread if it waits for
// posted input. A null `hwnd` posts a thread message to the calling thread's own queue. Any
// thread. FALSE with ERROR_INVALID_WINDOW_HANDLE for a handle that is not a window,
// ERROR_NOT_ENOUGH_QUOTA when the queue already holds 10000 posted messages.
BROWSER_EXTERN_C BOOL PostMessageW(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);

// Marks the calling thread's queue as quitting: once no posted message is pending, a peek
// returns WM_QUIT (hwnd null, wParam = exit_code). Removing that WM_QUIT clears the mark;
// another call before that only replaces the exit code.
BROWSER_EXTERN_C void PostQuitMessage(int exit_code);

// Looks at the calling thread's queue for a message that matches the filter and, if there is
// one, copies it to *msg and returns TRUE, removing it with PM_REMOVE (PM_NOYIELD and the
// upper 16 bits are ignored). Filter: `hwnd` null matches every message of the thread,
// (HWND)-1 only thread messages, a window only that window's messages; `first`/`last` both 0
// match every message number, otherwise only those in [first, last]. WM_QUIT matches only a
// null or (HWND)-1 filter. A removed WM_TIMER restarts its timer's period. Returns FALSE when
// nothing matches (last error untouched), or FALSE with ERROR_INVALID_PARAMETER for a null
// `msg` and ERROR_INVALID_WINDOW_HANDLE for a filter window that does not exist.
BROWSER_EXTERN_C BOOL PeekMessageW(LPMSG msg, HWND hwnd, UINT first, UINT last, UINT remove);

// Which kinds of input (QS_* bits within `flags`) the calling thread's queue holds (high
// word) and which of them arrived since the last GetQueueStatus or PeekMessageW (low word);
// the latter are then marked as seen for `flags`. 0 with ERROR_INVALID_FLAGS for bits outside
// QS_ALLINPUT | QS_ALLPOSTMESSAGE.
BROWSER_EXTERN_C DWORD GetQueueStatus(UINT flags);

// Waits until one of `handles` is signalled (WAIT_OBJECT_0 + its index; the lowest index wins)
// or the calling thread's queue has input of a kind in `wake_mask` (WAIT_OBJECT_0 + count), or
// `milliseconds` pass (WAIT_TIMEOUT; INFINITE never). Input means input that arrived since the
// queue was last looked at (GetQueueStatus, PeekMessageW); with MWMO_INPUTAVAILABLE, any input
// in the queue. A timer that falls due during the wait counts as arriving input (QS_TIMER).
// MWMO_ALERTABLE is accepted and has no effect (there are no APCs). WAIT_FAILED with
// ERROR_INVALID_PARAMETER for count > 63, a null `handles` with count > 0, or unknown flags;
// ERROR_NOT_SUPPORTED for MWMO_WAITALL; ERROR_INVALID_HANDLE for a handle that cannot be
// waited on.
BROWSER_EXTERN_C DWORD MsgWaitForMultipleObjectsEx(DWORD count, const HANDLE* handles,
                                                   DWORD milliseconds, DWORD wake_mask,
                                                   DWORD flags);

// No keyboard exists, so there is nothing to translate: always FALSE.
BROWSER_EXTERN_C BOOL TranslateMessage(const MSG* msg);

// Calls the window procedure of msg->hwnd with the message and returns its result. 0 for a
// thread message (null hwnd). 0 with ERROR_INVALID_PARAMETER for a null `msg`,
// ERROR_INVALID_WINDOW_HANDLE when the window does not exist, ERROR_WINDOW_OF_OTHER_THREAD for
// a window of another thread. A WM_TIMER goes to the window procedure too (timer procedures
// are not supported, so lParam is never called).
BROWSER_EXTERN_C LRESULT DispatchMessageW(const MSG* msg);

// Default processing: TRUE for WM_NCCREATE, 0 for everything else (message-only windows need
// no more).
BROWSER_EXTERN_C LRESULT DefWindowProcW(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);

// No message hooks exist: always FALSE (the message was not consumed).
BROWSER_EXTERN_C BOOL CallMsgFilterW(LPMSG msg, int code);

// ---------------------------------------------------------------------------------------------
// Window timers. A timer is keyed by (window, id); the window's thread gets WM_TIMER (wParam =
// id, lParam = 0) each time the period has passed, synthesised when it peeks, at most one
// pending per timer.

// Starts or restarts (same window and id) a timer of `elapse` milliseconds, clamped to
// [USER_TIMER_MINIMUM, USER_TIMER_MAXIMUM]. Returns a non-zero value (`id`, or 1 for id 0).
// 0 with ERROR_INVALID_WINDOW_HANDLE for a handle that is not a window, ERROR_ACCESS_DENIED for
// a window of another thread, ERROR_NOT_SUPPORTED for a null window (thread timers) or a
// non-null timer procedure.
BROWSER_EXTERN_C UINT_PTR SetTimer(HWND hwnd, UINT_PTR id, UINT elapse, TIMERPROC timer_proc);

// Stops a timer; a WM_TIMER it had pending is not delivered. FALSE with
// ERROR_INVALID_WINDOW_HANDLE for a handle that is not a window, ERROR_ACCESS_DENIED for a
// window of another thread, ERROR_INVALID_PARAMETER when the window has no such timer.
BROWSER_EXTERN_C BOOL KillTimer(HWND hwnd, UINT_PTR id);
