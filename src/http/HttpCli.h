#pragma once
// THttpCli: fetches one document at a time over HTTP/1.0, directly or through an HTTP
// proxy, on an owned TWSocket. Everything runs on the thread that created it, driven
// by window messages; completion is always reported from the message loop.

#include "http/HttpProt.h"
#include "net/WSocket.h"
#include "platform/messages/Messages.h"
#include "platform/runtime/Classes.h"
#include "platform/runtime/Exceptions.h"
#include "platform/runtime/Streams.h"
#include "platform/runtime/StringList.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

// The client's exception: a message and a 16-bit code (1 busy, 2 nothing to post,
// 4 line too long, otherwise the HTTP status code).
class EHttpException : public Exception {
public:
    EHttpException(const std::string& Msg, WORD ErrorCode)
        : Exception(Msg), FErrorCode(ErrorCode) {}
    WORD ErrorCode() const { return FErrorCode; }

private:
    WORD FErrorCode;
};

enum THttpRequest : std::uint8_t { rqNone, rqGet, rqPost, rqHead };

enum THttpState : std::uint8_t {
    hsReady,
    hsNotConnected,
    hsConnected,
    hsDnsLookup,
    hsDnsLookupDone,
    hsWaitingHeader,
    hsWaitingBody,
    hsAborting
};

using TOnCommand = std::function<void(TObject* Sender, std::string& S)>;
using TDocDataEvent = std::function<void(TObject* Sender, const void* Buffer, int Len)>;
using TCookieRcvdEvent =
    std::function<void(TObject* Sender, const std::string& Data, bool& Accept)>;
using THttpRequestDone = std::function<void(TObject* Sender, THttpRequest RqType, WORD Error)>;

// Messages of the client's hidden window.
constexpr UINT WM_HTTP_DONE = WM_USER + 1;
constexpr UINT WM_HTTP_READY = WM_USER + 2;
constexpr UINT WM_HTTP_RESTART = WM_USER + 3;

// RequestDoneError values of the client's own (socket errors are 10000 and up).
constexpr WORD httperrAborted = 3;
constexpr WORD httperrLineTooLong = 4;
constexpr WORD httperrIncomplete = 5;          // the connection ended before the document did
constexpr WORD httperrHeaderTooLarge = 6;      // a response header past MaxHeaderSize
constexpr WORD httperrBadStatusLine = 7;       // a status code that is not a number
constexpr WORD httperrWriteFailed = 8;         // RcvdStream refused document data
constexpr WORD httperrSendFailed = 9;          // the request could not be composed or sent
constexpr WORD httperrTooManyRelocations = 10; // more than MaxRelocations hops
constexpr WORD httperrBadRelocation = 11;      // a Location this client cannot follow

class THttpCli : public TComponent {
public:
    // Bytes received in one read, and the longest line of a response header.
    static constexpr int ReceiveBufferSize = 8192;
    // Bytes of one POST body piece.
    static constexpr int SendBufferSize = 8193;
    // The status and header lines of one response may hold this many bytes in all.
    static constexpr int MaxHeaderSize = 256 * 1024;
    // RcvdHeader and AuthenticateHeaders keep at most this many lines of earlier
    // responses (relocation hops, earlier requests), so endless redirects stay bounded.
    static constexpr int MaxKeptHeaderLines = 256;
    // Relocations one request follows at most, so a server that keeps redirecting
    // cannot keep the client busy for ever.
    static constexpr int MaxRelocations = 20;
    // Reads one data notification makes at most before it lets the loop run.
    static constexpr int MaxReadsPerPass = 64;

    explicit THttpCli(TComponent* AOwner);
    ~THttpCli() override;

    // Blocking requests: they keep the message loop running until the request is done
    // and raise EHttpException for a status of 400 or more (local failures are 404).
    void Get();
    void ExecuteRequest(THttpRequest Rq);
    // Ends the running request at once; while idle only closes a socket left open.
    void Abort();

    // --- published properties ---
    const std::string& URL() const { return FURL; }
    void SetURL(const std::string& Value) { FURL = Value; }
    const std::string& Proxy() const { return FProxy; }
    void SetProxy(const std::string& Value) { FProxy = Value; }
    const std::string& ProxyPort() const { return FProxyPort; }
    void SetProxyPort(const std::string& Value) { FProxyPort = Value; }
    const std::string& Sender() const { return FSender; }
    void SetSender(const std::string& Value) { FSender = Value; }
    const std::string& Agent() const { return FAgent; }
    void SetAgent(const std::string& Value) { FAgent = Value; }
    const std::string& Accept() const { return FAccept; }
    void SetAccept(const std::string& Value) { FAccept = Value; }
    const std::string& Reference() const { return FReference; }
    void SetReference(const std::string& Value) { FReference = Value; }
    const std::string& Username() const { return FUsername; }
    void SetUsername(const std::string& Value) { FUsername = Value; }
    const std::string& Password() const { return FPassword; }
    void SetPassword(const std::string& Value) { FPassword = Value; }
    const std::string& ProxyUsername() const { return FProxyUsername; }
    void SetProxyUsername(const std::string& Value) { FProxyUsername = Value; }
    const std::string& ProxyPassword() const { return FProxyPassword; }
    void SetProxyPassword(const std::string& Value) { FProxyPassword = Value; }
    bool NoCache() const { return FNoCache; }
    void SetNoCache(bool Value) { FNoCache = Value; }
    TDateTime ModifiedSince() const { return FModifiedSince; }
    void SetModifiedSince(TDateTime Value) { FModifiedSince = Value; }
    const std::string& Cookie() const { return FCookie; }
    void SetCookie(const std::string& Value) { FCookie = Value; }
    const std::string& ContentTypePost() const { return FContentTypePost; }
    void SetContentTypePost(const std::string& Value) { FContentTypePost = Value; }
    const std::string& ContentRangeBegin() const { return FContentRangeBegin; }
    void SetContentRangeBegin(const std::string& Value) { FContentRangeBegin = Value; }
    const std::string& ContentRangeEnd() const { return FContentRangeEnd; }
    void SetContentRangeEnd(const std::string& Value) { FContentRangeEnd = Value; }
    const std::string& AcceptRanges() const { return FAcceptRanges; }
    bool MultiThreaded() const { return FMultiThreaded; }
    void SetMultiThreaded(bool Value);

    // --- public state ---
    TStream* RcvdStream() const { return FRcvdStream; }
    void SetRcvdStream(TStream* Value) { FRcvdStream = Value; }
    TStream* SendStream() const { return FSendStream; }
    void SetSendStream(TStream* Value) { FSendStream = Value; }
    int StatusCode() const { return FStatusCode; }
    const std::string& ReasonPhrase() const { return FReasonPhrase; }
    // Byte counts are 64-bit so that documents past 2 GiB count right.
    std::int64_t ReceivedBytes() const { return FReceivedBytes; }
    std::int64_t SentCount() const { return FSentCount; }
    std::int64_t ContentLength() const { return FContentLength; }
    const std::string& ContentType() const { return FContentType; }
    const std::string& DocName() const { return FDocName; }
    const std::string& Location() const { return FLocation; }
    const TStringList& RcvdHeader() const { return FRcvdHeader; }
    const TStringList& AuthenticateHeaders() const { return FAuthenticateHeaders; }
    THttpState State() const { return FState; }
    THttpRequest RequestType() const { return FRequestType; }
    WORD RequestDoneError() const { return FRequestDoneError; }
    bool Connected() const { return FConnected; }
    const std::string& HostName() const { return FHostName; }
    const std::string& TargetHost() const { return FTargetHost; }
    const std::string& ConnectPort() const { return FConnectPort; }
    const std::string& Path() const { return FPath; }
    const std::string& LookupResult() const { return FLookupResult; }
    TWSocket* CtrlSocket() const { return FCtrlSocket; }
    HWND Handle() const { return FWindowHandle; }

    // --- events; each is skipped when empty ---
    TNotifyEvent OnStateChange;
    TNotifyEvent OnSessionConnected;
    TNotifyEvent OnRequestHeaderBegin;
    TNotifyEvent OnRequestHeaderEnd;
    TNotifyEvent OnHeaderBegin;
    TNotifyEvent OnHeaderEnd;
    TNotifyEvent OnHeaderData;
    TNotifyEvent OnDocBegin;
    TNotifyEvent OnDocEnd;
    TDocDataEvent OnDocData;
    TNotifyEvent OnSendBegin;
    TNotifyEvent OnSendEnd;
    TDocDataEvent OnSendData;
    TNotifyEvent OnTrace; // published for completeness; nothing raises it
    TOnCommand OnCommand;
    TCookieRcvdEvent OnCookie;
    TDataAvailable OnDataAvailable;
    THttpRequestDone OnRequestDone;
    TNotifyEvent OnLocationChange;

    // --- virtual operations, in slot order ---
protected:
    virtual void WriteRequestLine(const std::string& Line);
    virtual void BeginLookup();
    virtual void CloseConnection();
    virtual void RelocationClosed(TObject* Sender, WORD Error);
    virtual void FireCookie(const std::string& Data, bool& Accept);
    virtual void FireSessionConnected();
    virtual void FireRequestHeaderBegin();
    virtual void FireRequestHeaderEnd();
    virtual void FireHeaderBegin();
    virtual void FireHeaderEnd();
    virtual void FireDocBegin();
    virtual void FireDocData(const void* Buffer, int Len);
    virtual void FireDocEnd();
    virtual void FireSendBegin();
    virtual void FireSendData(const void* Buffer, int Len);
    virtual void FireSendEnd();

private:
    // How the current response ends once the bytes of this receive pass are handled.
    enum class TResponseEnd : std::uint8_t { None, Close, Relocate };

    // One blocking request waiting for its end; nested waits form a stack.
    struct TWaitRecord {
        std::uint32_t Serial = 0;
        bool Done = false;
        int StatusCode = 0;
        std::string ReasonPhrase;
        TWaitRecord* Outer = nullptr;
    };

    void WndProc(TMessage& Msg);
    void StartRequest(THttpRequest Rq);
    void SetState(THttpState Value);
    void ComposeRequest(const std::string& Method, const std::string& Version);
    void HandleLookupDone(TObject* Sender, WORD Error);
    void HandleConnected(TObject* Sender, WORD Error);
    void HandleDataSent(TObject* Sender, WORD Error);
    void HandleDataAvailable(TObject* Sender, WORD Error);
    void HandleSessionClosed(TObject* Sender, WORD Error);
    // One receive pass: reads until the socket holds nothing more (or a bound) and takes
    // as many buffered bytes as the state allows after each read.
    void ReceivePass(TObject* Sender, WORD Error, std::uint32_t Serial);
    int ReadReceived();
    void Advance(TObject* Sender, WORD Error, std::uint32_t Serial);
    // The next complete line of the buffer, taken out of it; false without one.
    bool TakeLine(const char*& Line, int& Len);
    void DropReceived();
    // The one place that closes after a receive pass: the response ended on purpose
    // (status, Location, failure) or the peer closed while the pass ran.
    void EndReceive();
    void HandleHeaderLine(const char* Data, int Len);
    void HandleHeaderEnd();
    void HandleBodyData(const char* Data, int Len);
    // Switches to the body and hands on what the buffer still holds after the header.
    void BeginBody(const std::string* FirstPiece);
    void HandleHeaderField(const std::string& Name, const std::string& Value);
    void SetRelocationTarget(const std::string& V);
    bool HandleStatusLine(const std::string& Line);
    // Records a failure of the client's own: status 404, reason, done error.
    void RecordFailure(const std::string& Reason, WORD Error);
    // RecordFailure, then ends the connection, which ends the request (after the
    // running receive pass when there is one).
    void FailRequest(const std::string& Reason, WORD Error);
    // Records why a connection that ended before its response did failed the request.
    void RecordEarlyEnd(WORD Error);
    // Writes out what RcvdStream holds back; a failure fails the request.
    void FlushDocument();
    bool ResponseIncomplete() const;
    // The header has ended and the announced document (if any) is all there.
    bool ResponseComplete() const;
    // The request Serial is over: aborted or finished (an event handler may do either),
    // or followed by another one.
    bool RequestEnded(std::uint32_t Serial) const;
    void AttachSessionClosed(bool Relocating);
    void KeepRecentLines(TStringList& List);
    // Basic credentials go only to the host they were given for.
    bool SendsCredentials() const;

    TWSocket* FCtrlSocket = nullptr; // owned through the component list
    HWND FWindowHandle = nullptr;
    bool FMultiThreaded = false;
    THttpState FState = hsReady;
    std::string FHostName;
    std::string FTargetHost;
    std::string FConnectPort;
    std::string FProxy;
    std::string FProxyPort = "80";
    std::string FUsername;
    std::string FPassword;
    std::string FProxyUsername;
    std::string FProxyPassword;
    std::string FLocation;
    bool FConnected = false;
    std::string FLookupResult;
    std::unique_ptr<char[]> FSendBuffer;
    THttpRequest FRequestType = rqNone;
    // Received bytes not yet handled live at [FReceiveStart, FReceiveStart +
    // FReceiveLength), followed by a zero byte.
    std::unique_ptr<char[]> FReceiveBuffer;
    int FReceiveStart = 0;
    int FReceiveLength = 0;
    std::string FLastResponse;
    int FHeaderLineCount = 0;
    int FBodyPieceCount = 0;
    bool FAllowedToSend = false;
    std::string FURL;
    std::string FPath;
    std::string FDocName;
    std::string FSender;
    std::string FReference;
    std::string FAgent = "Mozilla/3.0 (compatible)";
    std::string FAccept = "image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, */*";
    TDateTime FModifiedSince = 0;
    bool FNoCache = false;
    int FStatusCode = 0;
    std::string FReasonPhrase;
    std::int64_t FContentLength = -1;
    std::string FContentType;
    TStringList FAuthenticateHeaders;
    std::string FContentTypePost = "application/x-www-form-urlencoded";
    std::string FContentRangeBegin;
    std::string FContentRangeEnd;
    std::string FAcceptRanges;
    std::string FCookie;
    bool FLocationPending = false;
    TStringList FRcvdHeader;
    TStream* FRcvdStream = nullptr;
    std::int64_t FReceivedBytes = 0;
    std::int64_t FSentCount = 0;
    TStream* FSendStream = nullptr;
    TMemoryStream FRequestStream;
    WORD FRequestDoneError = 0;

    // Per response, for telling a complete document from a cut one.
    int FHeaderBytes = 0;
    std::int64_t FResponseLength = -1;
    std::int64_t FResponseBodyBytes = 0;
    bool FStatusSeen = false;
    // Bytes of the line end (LF or CR LF) of the line being handled.
    int FLineEndLength = 0;
    // The request already has its final status (a local failure or an abort).
    bool FRequestFailed = false;
    // WM_HTTP_READY was posted for the current request.
    bool FReadyPosted = false;
    // A relocation waits for its WM_HTTP_RESTART.
    bool FRestartPending = false;
    // Counts requests, so that code running after an event handler can tell that the
    // handler started a new request (which then owns the receive buffer).
    std::uint32_t FRequestSerial = 0;
    // A receive pass runs for the request FReceiveSerial. A notification that comes
    // while it runs (from a handler that pumps messages) returns at once: the running
    // pass reads on when the handler returns, so nothing reads inside an event.
    bool FInReceive = false;
    std::uint32_t FReceiveSerial = 0;
    TResponseEnd FResponseEnd = TResponseEnd::None;
    // The session closed while a receive pass ran: it ends after the pass.
    bool FClosePending = false;
    WORD FClosePendingError = 0;
    int FRelocations = 0;
    // The host (lower case) the server credentials were given for.
    std::string FCredentialHost;
    TWaitRecord* FWaits = nullptr;
};
