#pragma once
// Fault injection of the "wsock32-fault.dll" variant of the socket library, which tests
// load by name exactly like "wsock32.dll". The variant exports two more entry points:
//
//   int VtFaultSet(const char* key, long value);  // 0 when the key is known, -1 otherwise
//   void VtFaultReset();                           // every knob back to 0 (off)
//
// Knobs (0 turns a knob off; they stay set until changed, also across WSACleanup):
//   "send.max"          N > 0: send/sendto transfer at most N bytes per call.
//   "send.wouldblock"   1: every other send/sendto fails with WSAEWOULDBLOCK (the first
//                       one after setting fails); FD_WRITE follows as for a real one.
//   "recv.reset.after"  N > 0: a TCP connection is reset (the peer sees the reset, recv and
//                       send answer WSAECONNRESET, FD_CLOSE carries it) once recv has
//                       returned N bytes on it.
//   "lookup.error"      code: WSAAsyncGetHostByName/ByAddr answer with this error and
//                       gethostbyname fails with it, without asking any resolver.
//   "lookup.delay"      N > 0: the look-up workers wait N ms before answering, so a test
//                       can cancel a look-up that is certainly still running.
//   "startup.error"     code: WSAStartup returns this code and does not start.
//   "socket.error"      code: socket() fails with this code.
//
// A third variant, "wsock32-noentry.dll", lacks the entry point WSAAsyncSelect.

using VtFaultSetProc = int (*)(const char* key, long value);
using VtFaultResetProc = void (*)();
