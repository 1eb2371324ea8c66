#pragma once
// TCustomSyncWSocket: waits that keep the message loop running until a flag is set, a
// time limit passes or the application ends.

#include "net/CustomLineWSocket.h"

#include <functional>
#include <string>

// The result of a wait that did not end by its flag.
constexpr int WaitTimeoutError = 12001;

class TCustomSyncWSocket : public TCustomLineWSocket {
public:
    // The longest a waiting loop sleeps in the kernel before it looks at the clock and
    // the application again.
    static constexpr DWORD WaitSliceMs = 50;

    explicit TCustomSyncWSocket(TComponent* AOwner);

    // Time limit of WaitUntilReady in milliseconds; 0 or less waits without limit.
    int Timeout() const { return FTimeout; }
    void SetTimeout(int Value) { FTimeout = Value; }

    // DoneFlag := false, runs Proc (when given) and waits for DoneFlag.
    virtual int Synchronize(const std::function<void()>& Proc, bool& DoneFlag);
    // 0 once DoneFlag is true; WaitTimeoutError on time-out, application end or a quit
    // message seen by the socket's own pump.
    virtual int WaitUntilReady(bool& DoneFlag);
    // In line mode: waits for the next line and returns it, line end included. 0 with
    // a line; WaitTimeoutError as for WaitUntilReady; WSAENOTCONN when the connection
    // is closed or ends before a line came.
    int ReadLine(std::string& Line);

private:
    int FTimeout = 0;
    DWORD FTimeStop = 0;
};
