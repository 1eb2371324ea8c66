#pragma once
// TCustomWSocket: a non-blocking TCP/UDP socket driven by the messages of its own
// hidden window on the thread that created it. Base of the socket component chain.

#include "net/SocketException.h"
#include "net/WSocketBuffer.h"
#include "net/Winsock32.h"
#include "platform/messages/Messages.h"
#include "platform/runtime/Classes.h"
#include "platform/runtime/StringList.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <variant>
#include <vector>

enum TSocketState {
    wsInvalidState,
    wsOpened,
    wsBound,
    wsConnecting,
    wsConnected,
    wsAccepting,
    wsListening,
    wsClosed
};

enum TSocketSendFlags { wsSendNormal, wsSendUrgent };
enum TSocketLingerOnOff { wsLingerOff, wsLingerOn, wsLingerNoSet };
enum TWSocketOption { wsoNoReceiveLoop };

// A set of TWSocketOption.
class TWSocketOptions {
public:
    constexpr TWSocketOptions() = default;
    constexpr TWSocketOptions(std::initializer_list<TWSocketOption> options) {
        for (auto o : options)
            FBits |= Bit(o);
    }
    constexpr bool Contains(TWSocketOption o) const { return (FBits & Bit(o)) != 0; }
    constexpr void Include(TWSocketOption o) { FBits |= Bit(o); }
    constexpr void Exclude(TWSocketOption o) { FBits &= ~Bit(o); }
    constexpr bool operator==(const TWSocketOptions&) const = default;

private:
    static constexpr std::uint32_t Bit(TWSocketOption o) { return 1u << static_cast<int>(o); }
    std::uint32_t FBits = 0;
};

// Event types. Error is a 16-bit Winsock code, 0 for success.
using TDataAvailable = std::function<void(TObject* Sender, WORD Error)>;
using TDataSent = std::function<void(TObject* Sender, WORD Error)>;
using TSessionClosed = std::function<void(TObject* Sender, WORD Error)>;
using TSessionAvailable = std::function<void(TObject* Sender, WORD Error)>;
using TSessionConnected = std::function<void(TObject* Sender, WORD Error)>;
using TDnsLookupDone = std::function<void(TObject* Sender, WORD Error)>;
using TSendData = std::function<void(TObject* Sender, int BytesSent)>;
using TChangeState =
    std::function<void(TObject* Sender, TSocketState OldState, TSocketState NewState)>;
using TBgExceptionEvent = std::function<void(TObject* Sender, Exception& E, bool& CanClose)>;

// Messages of the socket's hidden window.
constexpr UINT WM_SOCKET_SELECT = WM_USER + 1;
constexpr UINT WM_SOCKET_HOST_BY_NAME = WM_USER + 2;
constexpr UINT WM_SOCKET_HOST_BY_ADDR = WM_USER + 3;
constexpr UINT WM_SOCKET_CLOSE_LATER = WM_USER + 4;
constexpr UINT WM_SOCKET_FREE_LATER = WM_USER + 5;
constexpr UINT WM_SOCKET_TEST = WM_USER + 6;

// One argument of RaiseErrorFmt: "%d" takes an int, "%s" a string.
using TFmtArg = std::variant<int, std::string>;

class TCustomWSocket : public TComponent {
public:
    static constexpr int SendBlockSize = 1514;
    static constexpr int LookupBufferSize = 1025;

    explicit TCustomWSocket(TComponent* AOwner);
    ~TCustomWSocket() override;
    TCustomWSocket(const TCustomWSocket&) = delete;
    TCustomWSocket& operator=(const TCustomWSocket&) = delete;

    // --- virtual operations, in slot order ---
protected:
    virtual void HandleWindowMessage(TMessage& Msg);
    virtual void ResetToDefaults();
    virtual void InternalClose(bool Shut, WORD Error);

public:
    virtual void SetPort(const std::string& Value);
    virtual void SetProto(const std::string& Value);
    virtual int RcvdCount();

protected:
    // Received bytes a layer keeps for the reader outside the socket's own queue.
    virtual int BufferedCount();
    virtual void BindLocal();
    virtual int RawSend(const void* Data, int Len);
    virtual void RaiseErrorFmt(const std::string& Format, const std::vector<TFmtArg>& Args);
    virtual void RaiseError(const std::string& Msg);
    virtual void HandleBackgroundException(Exception& E);
    virtual bool DoDataAvailable(WORD Error);
    virtual void DoSessionAvailable(WORD Error);
    virtual void DoSessionConnected(WORD Error);
    virtual void DoSessionClosed(WORD Error);
    virtual void DoDataSent(WORD Error);
    virtual void DoChangeState(TSocketState OldState, TSocketState NewState);
    virtual void DoDnsLookupDone(WORD Error);
    virtual void DoError();
    virtual int RawReceive(void* Buffer, int BufferSize, int Flags);
    virtual int RawReceiveFrom(void* Buffer, int BufferSize, TSockAddrIn& From, int& FromLen);

public:
    virtual void Connect();
    virtual void Close();
    virtual void CloseLater();
    virtual void FreeLater();
    virtual void Abort();
    virtual void Flush();
    virtual void WaitUntilClosed();
    virtual void Listen();
    virtual SOCKET Accept();
    virtual int Receive(void* Buffer, int BufferSize);
    virtual std::string ReceiveString();
    virtual int ReceiveFrom(void* Buffer, int BufferSize, TSockAddrIn& From, int& FromLen);
    virtual int Send(const void* Data, int Len);
    virtual int SendTo(const TSockAddrIn& Dest, int DestLen, const void* Data, int Len);
    virtual int SendString(const std::string& Str);
    virtual void DnsLookup(const std::string& HostName);
    virtual void AddressLookup(const std::string& HostAddr);
    virtual void CancelLookup();
    virtual std::string PeerAddr();
    virtual std::string PeerPort();
    virtual int GetPeerName(TSockAddrIn& Name, int NameLen);
    virtual std::string GetBoundPort();
    virtual bool TimevalIsSet(const TTimeVal& T);
    virtual void TimevalClear(TTimeVal& T);
    virtual bool TimevalCompare(const TTimeVal& T, const TTimeVal& U, bool IsEqual);
    virtual int GetSockName(TSockAddrIn& Name, int& NameLen);
    virtual void Dup(SOCKET NewHandle);
    virtual void Shutdown(int How);
    virtual void Pause();
    virtual void Resume();
    virtual void PumpMessages();

    // --- non-virtual public surface ---
    // Serves the calling thread's own queue until it is empty; a WM_QUIT sets
    // Terminated instead of being dispatched.
    void PumpOwnMessages();

    const std::string& Addr() const { return FAddrStr; }
    void SetAddr(const std::string& Value);
    const std::string& Port() const { return FPortStr; }
    const std::string& Proto() const { return FProtoStr; }
    const std::string& LocalAddr() const { return FLocalAddr; }
    void SetLocalAddr(const std::string& Value);
    const std::string& LocalPort() const { return FLocalPortStr; }
    void SetLocalPort(const std::string& Value);
    const std::string& DnsResult() const { return FDnsResult; }
    const TStringList& DnsResultList() const { return FDnsResultList; }
    TSocketState State() const { return FState; }
    int ReadCount() const { return FReadCount; }
    int LastError() const { return FLastError; }
    bool MultiThreaded() const { return FMultiThreaded; }
    void SetMultiThreaded(bool Value) { FMultiThreaded = Value; }
    TWSocketOptions ComponentOptions() const { return FComponentOptions; }
    void SetComponentOptions(TWSocketOptions Value) { FComponentOptions = Value; }
    int FlushTimeout() const { return FFlushTimeout; }
    void SetFlushTimeout(int Value) { FFlushTimeout = Value; }
    TSocketSendFlags SendFlags();
    void SetSendFlags(TSocketSendFlags Value);
    TSocketLingerOnOff LingerOnOff() const { return FLingerOnOff; }
    void SetLingerOnOff(TSocketLingerOnOff Value) { FLingerOnOff = Value; }
    int LingerTimeout() const { return FLingerTimeout; }
    void SetLingerTimeout(int Value) { FLingerTimeout = Value; }

    SOCKET SocketHandle() const { return FSocketHandle; }
    HWND WindowHandle() const { return FWindowHandle; }
    bool Terminated() const { return FTerminated; }
    SOCKET AcceptedHandle() const { return FAcceptedHandle; }

    // Events; each is skipped when empty.
    TChangeState OnChangeState;
    TSessionConnected OnSessionConnected;
    TSessionAvailable OnSessionAvailable;
    TDataAvailable OnDataAvailable;
    TDataSent OnDataSent;
    TSendData OnSendData;
    TSessionClosed OnSessionClosed;
    TDnsLookupDone OnDnsLookupDone;
    TNotifyEvent OnError;
    TBgExceptionEvent OnBgException;
    TNotifyEvent OnLineTooLong; // stored and published; this layer never raises it

protected:
    void ChangeState(TSocketState NewState);
    // Formats the failure of a Winsock call named Function and reports it via RaiseError.
    void ReportSocketError(const std::string& Function);
    void ApplyLinger();
    void TryToSend();
    void AppendToSendBuffer(const void* Data, int Len);
    void ClearSendBuffer();
    // Offers received data to DoDataAvailable while it is taken; Draining (at FD_CLOSE)
    // lifts the per-notification bound.
    void DispatchReceive(WORD Error, bool Draining = false);
    bool IsDestroying() const { return (ComponentState() & csDestroying) != 0; }
    int SendFlagsValue() const { return FSendFlagsValue; }

    // Fields the subclasses work on (SOCKS redirects the connection target).
    SOCKET FSocketHandle = INVALID_SOCKET;
    HWND FWindowHandle = nullptr;
    TSocketState FState = wsClosed;
    bool FTerminated = false;
    int FLastError = 0;
    TSockAddrIn FRemoteAddress{};
    int FAddressFamily = 2;
    int FSocketType = 1;
    int FProtocolNumber = 6;
    int FPortNumber = 0;      // host byte order
    int FLocalPortNumber = 0; // host byte order
    bool FAddrAssigned = false;
    bool FAddrResolved = false;
    bool FPortAssigned = false;
    bool FPortResolved = false;
    bool FProtoAssigned = true;
    bool FProtoResolved = false;
    bool FLocalPortResolved = false;
    bool FCloseInvoked = false;
    std::string FAddrStr;
    std::string FPortStr;
    std::string FProtoStr = "tcp";

private:
    void WndProc(TMessage& Msg);
    void HandleSelect(TMessage& Msg);
    void ServeSelect(WORD Events, WORD Error, SOCKET Handle);
    // FD_CLOSE: the last data first, then the report, then the handle goes.
    void ServeClose(WORD Error, SOCKET Handle);
    void HandleHostByName(TMessage& Msg);
    void HandleHostByAddr(TMessage& Msg);
    void ResolveForConnect(bool WithLocalPort);
    void BeginLookup();
    std::unique_ptr<TBuffer> NewSendBlock();
    std::string BoundPortOf(const TSockAddrIn& Address) const;

    std::deque<std::unique_ptr<TBuffer>> FSendBuffers;
    // Drained blocks kept for reuse, so a steady stream allocates nothing.
    std::vector<std::unique_ptr<TBuffer>> FSpareBuffers;
    bool FAllSent = true;
    bool FPaused = false;
    long FSelectEventMask = 0;
    HANDLE FLookupHandle = nullptr;
    std::unique_ptr<char[]> FLookupBuffer;
    SOCKET FAcceptedHandle = INVALID_SOCKET;
    std::string FLocalAddr = "0.0.0.0";
    std::string FLocalPortStr = "0";
    std::string FDnsResult;
    TStringList FDnsResultList;
    int FReadCount = 0;
    // What the socket's own last read showed of its queue: a read that got less than
    // it asked for emptied it, so the receive loop needs no query to stop.
    enum class TRecvOutcome { None, Filled, Drained };
    TRecvOutcome FRecvOutcome = TRecvOutcome::None;
    bool FMultiThreaded = false;
    // The connection whose notification is being served, and a close that came in
    // while one of its handlers pumped messages.
    SOCKET FSelectRunning = INVALID_SOCKET;
    bool FCloseDeferred = false;
    WORD FCloseDeferredError = 0;
    TWSocketOptions FComponentOptions;
    int FFlushTimeout = 60;
    int FSendFlagsValue = 0;
    TSocketLingerOnOff FLingerOnOff = wsLingerOn;
    int FLingerTimeout = 0;
};
