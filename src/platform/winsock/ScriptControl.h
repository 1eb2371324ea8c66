#pragma once
// The "wsock32-script.dll" variant of the socket library: no real socket at all. Every
// stream connection talks to a peer played from a script, one step per message on the
// connecting thread's queue, with WSAAsyncSelect's notification rules; every host name
// is found at 127.0.0.1 at once. Fuzz targets and tests load it by name like
// "wsock32.dll" and drive it through these entry points:
//
//   void VtScriptPlay(const unsigned char* data, int len);  // the script (copied)
//   const char* VtScriptSent(int* len);                      // all bytes the program sent
//   int VtScriptConnections();                               // connections made so far
//
// The script is one list of steps shared by all connections, each step an operation
// byte (taken modulo 8) and its operands; a cut operand takes what is left:
//
//   0 n bytes...   the peer sends n + 1 bytes (n one byte)
//   1              the peer closes gracefully; the connection's later steps follow on
//                  the next connection
//   2              the peer resets the connection; likewise
//   3 n            recv hands out at most n bytes per call from now on (0: no limit)
//   4              the next connect is refused (taken when a connect finds it next)
//   5              a pause: one step message passes without an event
//   6              the next lookup fails (taken when a lookup finds it next)
//   7 hi lo bytes  the peer sends (hi * 256 + lo) + 1 bytes
//
// When the script has run out, the peer closes every connection gracefully.

using VtScriptPlayProc = void (*)(const unsigned char* data, int len);
using VtScriptSentProc = const char* (*)(int* len);
using VtScriptConnectionsProc = int (*)();
