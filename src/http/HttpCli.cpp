// THttpCli: construction, the start of a request, lookup, connection, the request
// header, the POST body pump, completion, Get and Abort. Reception is in
// HttpCliReceive.cpp.

#include "http/HttpCli.h"

#include "net/WSocketErrorText.h"
#include "platform/messages/Application.h"
#include "platform/runtime/SysUtils.h"

namespace {

// The longest a waiting Get sleeps in the kernel before it looks at the state again.
constexpr DWORD WaitSliceMs = 50;
// What the socket layer reports for a host name it cannot even start to look up.
constexpr WORD LookupNotStarted = 10022; // WSAEINVAL
// What a request reports when the socket library cannot be loaded or started.
constexpr WORD LibraryNotReady = 10091; // WSASYSNOTREADY

std::string ErrorWithNumber(int Error) {
    return WSocketErrorText(Error) + " (Error #" + std::to_string(Error) + ")";
}

// The document name of a request path: its last segment, without the query. The
// query goes first, so that a "/" inside it never makes the name.
std::string DocNameOf(const std::string& Path) {
    if (Path.empty() || Path == "/") return "document.htm";
    std::string name = Path.substr(0, Path.find('?'));
    if (!name.empty() && name.back() == '/') name.pop_back();
    const size_t slash = name.rfind('/');
    if (slash != std::string::npos) name.erase(0, slash + 1);
    if (name.size() > 255) name.resize(255);
    return name.empty() ? "document.htm" : name;
}

} // namespace

THttpCli::THttpCli(TComponent* AOwner) : TComponent(AOwner) {
    FWindowHandle = AllocateHWnd([this](TMessage& Msg) { WndProc(Msg); });
    FCtrlSocket = new TWSocket(this);
    FSendBuffer = std::make_unique<char[]>(SendBufferSize);
    FReceiveBuffer = std::make_unique<char[]>(ReceiveBufferSize + 1);
    FReceiveBuffer[0] = '\0';
    AttachSessionClosed(false);
    FCtrlSocket->OnDataAvailable = [this](TObject* S, WORD E) { HandleDataAvailable(S, E); };
    FCtrlSocket->OnSessionConnected = [this](TObject* S, WORD E) { HandleConnected(S, E); };
    FCtrlSocket->OnDataSent = [this](TObject* S, WORD E) { HandleDataSent(S, E); };
    FCtrlSocket->OnDnsLookupDone = [this](TObject* S, WORD E) { HandleLookupDone(S, E); };
}

THttpCli::~THttpCli() {
    // The socket reports nothing more to a client that is going away.
    FCtrlSocket->OnSessionClosed = nullptr;
    FCtrlSocket->OnDataAvailable = nullptr;
    FCtrlSocket->OnSessionConnected = nullptr;
    FCtrlSocket->OnDataSent = nullptr;
    FCtrlSocket->OnDnsLookupDone = nullptr;
    delete FCtrlSocket;
    DeallocateHWnd(FWindowHandle);
}

void THttpCli::SetMultiThreaded(bool Value) {
    FMultiThreaded = Value;
    FCtrlSocket->SetMultiThreaded(Value);
}

void THttpCli::WndProc(TMessage& Msg) {
    switch (Msg.Msg) {
    case WM_HTTP_DONE:
        // The request's own kind and result travel with the message, so a request
        // started before it is handled cannot change what is reported.
        if (OnRequestDone)
            OnRequestDone(this, static_cast<THttpRequest>(Msg.WParam),
                          static_cast<WORD>(Msg.LParam));
        break;
    case WM_HTTP_READY:
        // Only for the request that posted it: after an Abort a new request may
        // already run, and a late report of the old one must not end it.
        if (static_cast<std::uint32_t>(Msg.WParam) == FRequestSerial) SetState(hsReady);
        break;
    case WM_HTTP_RESTART:
        // An Abort or a new request since the relocation cancels the restart.
        if (FRestartPending) {
            FRestartPending = false;
            BeginLookup();
        }
        break;
    default:
        Msg.Result = DefWindowProc(FWindowHandle, Msg.Msg, Msg.WParam, Msg.LParam);
        break;
    }
}

void THttpCli::SetState(THttpState Value) {
    if (Value == FState) return;
    FState = Value;
    if (Value == hsReady) {
        // The result belongs to the request that ends here, even when a handler starts
        // the next one before its Get has looked.
        for (TWaitRecord* wait = FWaits; wait != nullptr; wait = wait->Outer)
            if (wait->Serial == FRequestSerial && !wait->Done) {
                wait->Done = true;
                wait->StatusCode = FStatusCode;
                wait->ReasonPhrase = FReasonPhrase;
            }
    }
    // Taken before the event: its handler may start the next request.
    const auto doneType = static_cast<WPARAM>(FRequestType);
    const auto doneError = static_cast<LPARAM>(FRequestDoneError);
    if (OnStateChange) OnStateChange(this);
    // Posted after the event, so that a handler pumping messages never sees
    // OnRequestDone before its own OnStateChange has returned.
    if (Value == hsReady) PostMessage(FWindowHandle, WM_HTTP_DONE, doneType, doneError);
}

void THttpCli::AttachSessionClosed(bool Relocating) {
    if (Relocating)
        FCtrlSocket->OnSessionClosed = [this](TObject* S, WORD E) { RelocationClosed(S, E); };
    else
        FCtrlSocket->OnSessionClosed = [this](TObject* S, WORD E) { HandleSessionClosed(S, E); };
}

// ---------------------------------------------------------------- starting a request

void THttpCli::StartRequest(THttpRequest Rq) {
    if (FState != hsReady) throw EHttpException("HTTP component is busy", 1);
    if (Rq == rqPost && FSendStream == nullptr)
        throw EHttpException("HTTP component has nothing to post", 2);

    FRcvdHeader.Clear();
    KeepRecentLines(FAuthenticateHeaders);
    FRequestType = Rq;
    ++FRequestSerial;
    FRequestDoneError = 0;
    FRequestFailed = false;
    FReadyPosted = false;
    FRestartPending = false;
    FLocationPending = false; // a Location of a failed earlier response is not followed
    FRelocations = 0;
    AttachSessionClosed(false);
    const std::uint32_t serial = FRequestSerial;
    SetState(hsNotConnected);
    if (RequestEnded(serial)) return; // its handler aborted it

    FDocName.clear();
    FStatusCode = 0;
    FReceivedBytes = 0;
    FSentCount = 0;
    FHeaderLineCount = 0;
    FBodyPieceCount = 0;
    FContentLength = -1;
    FContentType.clear();
    FAllowedToSend = false;
    FLocation = FURL;

    std::string proto, user, pass, host, port, path;
    SplitURL(FURL, proto, user, pass, host, port, path);
    FTargetHost = host;
    FCredentialHost = LowerCase(host);
    if (!user.empty()) FUsername = user;
    if (!pass.empty()) FPassword = pass;
    if (FProxy.empty()) {
        FPath = path;
        FHostName = host;
        FConnectPort = port.empty() ? "80" : port;
    } else {
        FPath = (proto.empty() ? "http" : proto) + "://" + host + (port.empty() ? "" : ":" + port) +
                path;
        std::string proxyProto, proxyUser, proxyPass, proxyHost, proxyPort, proxyPath;
        SplitURL(FProxy, proxyProto, proxyUser, proxyPass, proxyHost, proxyPort, proxyPath);
        FHostName = proxyHost;
        FConnectPort = proxyPort.empty() ? FProxyPort : proxyPort;
    }
    if (FPath.empty()) FPath = "/";
    FDocName = DocNameOf(path);
    BeginLookup();
}

void THttpCli::BeginLookup() {
    FLookupResult.clear();
    // Every connection reads its response into an empty buffer: bytes left over from
    // an earlier response must not be taken for the start of this one.
    DropReceived();
    FResponseEnd = TResponseEnd::None;
    FClosePending = false;
    const std::uint32_t serial = FRequestSerial;
    SetState(hsDnsLookup);
    if (RequestEnded(serial)) return;
    try {
        FCtrlSocket->DnsLookup(FHostName);
    } catch (ESocketException& E) {
        // A name that cannot even be looked up (an address without a host) fails the
        // request like a failed lookup instead of leaving it stuck in hsDnsLookup.
        if (FState != hsDnsLookup) throw;
        if (FHostName.empty()) {
            HandleLookupDone(FCtrlSocket, LookupNotStarted);
            return;
        }
        // A socket library that cannot be loaded or started: its own error says what
        // is wrong, not a failed look-up.
        RecordFailure(E.Message(), LibraryNotReady);
        HandleSessionClosed(FCtrlSocket, LibraryNotReady);
    }
}

void THttpCli::HandleLookupDone(TObject* Sender, WORD Error) {
    // After an abort (the cancelled lookup reports too) the request is over.
    if (FState != hsDnsLookup) return;
    if (Error != 0) {
        RecordFailure("can't resolve hostname to IP address", Error);
        HandleSessionClosed(Sender, Error);
        return;
    }
    FLookupResult = FCtrlSocket->DnsResult();
    const std::uint32_t serial = FRequestSerial;
    SetState(hsDnsLookupDone);
    if (RequestEnded(serial)) return;
    try {
        FCtrlSocket->SetAddr(FLookupResult);
        FCtrlSocket->SetPort(FConnectPort);
        FCtrlSocket->SetProto("tcp");
        FCtrlSocket->Connect();
    } catch (Exception& E) {
        const int error = FCtrlSocket->LastError() != 0 ? FCtrlSocket->LastError() : WSAEINVAL;
        // A port or address that cannot be resolved says so in its message; the error
        // text of its code alone would not name the cause.
        const std::string prefix = "connect: ";
        const std::string& message = E.Message();
        RecordFailure("can't connect: " + (message.starts_with(prefix)
                                               ? message.substr(prefix.size()) + " (Error #" +
                                                     std::to_string(error) + ")"
                                               : ErrorWithNumber(error)),
                      static_cast<WORD>(error));
        try {
            FCtrlSocket->Close();
        } catch (Exception&) {
        }
        HandleSessionClosed(Sender, static_cast<WORD>(error));
    }
}

void THttpCli::HandleConnected(TObject* Sender, WORD Error) {
    if (FState != hsDnsLookupDone) return; // aborted while connecting
    if (Error != 0) {
        RecordFailure(ErrorWithNumber(Error), Error);
        HandleSessionClosed(Sender, Error);
        return;
    }
    // A fresh response begins on every connection.
    FHeaderBytes = 0;
    FResponseLength = -1;
    FResponseBodyBytes = 0;
    FStatusSeen = false;
    // Each event below may abort the request: nothing of it goes on after that.
    const std::uint32_t serial = FRequestSerial;
    try {
        FConnected = true;
        SetState(hsConnected);
        if (RequestEnded(serial)) return;
        FireSessionConnected();
        if (RequestEnded(serial)) return;
        SetState(hsWaitingHeader);
        if (RequestEnded(serial)) return;
        switch (FRequestType) {
        case rqGet:
            ComposeRequest("GET", "1.0");
            break;
        case rqPost:
            ComposeRequest("POST", "1.0");
            if (RequestEnded(serial)) return;
            FireSendBegin();
            if (RequestEnded(serial)) return;
            FAllowedToSend = true;
            HandleDataSent(FCtrlSocket, 0);
            break;
        case rqHead:
            ComposeRequest("HEAD", "1.0");
            break;
        case rqNone:
            break;
        }
    } catch (std::exception& E) {
        // A request that never left must not end as a success.
        if (!RequestEnded(serial))
            FailRequest(std::string("Can't send the request: ") + E.what(), httperrSendFailed);
    }
}

// ---------------------------------------------------------------- the request header

void THttpCli::ComposeRequest(const std::string& Method, const std::string& Version) {
    FRequestStream.Clear();
    const std::uint32_t serial = FRequestSerial;
    FireRequestHeaderBegin();
    const bool post = Method == "POST";
    WriteRequestLine(Method + " " + FPath + " HTTP/" + Version);
    if (!FSender.empty()) WriteRequestLine("From: " + FSender);
    if (!FAccept.empty()) WriteRequestLine("Accept: " + FAccept);
    if (!FReference.empty()) WriteRequestLine("Referer: " + FReference);
    if (post && !FContentTypePost.empty()) WriteRequestLine("Content-Type: " + FContentTypePost);
    if (!FAgent.empty()) WriteRequestLine("User-Agent: " + FAgent);
    WriteRequestLine("Host: " + FTargetHost);
    if (FNoCache) WriteRequestLine("Pragma: no-cache");
    // The body is sent from the stream's position on (a relocated POST is not
    // rewound), so the length announced is what is left from there.
    if (post)
        WriteRequestLine("Content-Length: " +
                         std::to_string(FSendStream->Size() - FSendStream->Position()));
    if (FModifiedSince != 0)
        WriteRequestLine("If-Modified-Since: " + FormatRfc1123Date(FModifiedSince) + " GMT");
    if (!FUsername.empty() && SendsCredentials())
        WriteRequestLine("Authorization: Basic " + EncodeBase64(FUsername + ":" + FPassword));
    if (!FProxy.empty() && !FProxyUsername.empty())
        WriteRequestLine("Proxy-Authorization: Basic " +
                         EncodeBase64(FProxyUsername + ":" + FProxyPassword));
    if (!FCookie.empty()) WriteRequestLine("Cookie: " + FCookie);
    if (!FContentRangeBegin.empty() || !FContentRangeEnd.empty()) {
        WriteRequestLine("Range: bytes=" + FContentRangeBegin + "-" + FContentRangeEnd);
        FContentRangeBegin.clear();
        FContentRangeEnd.clear();
    }
    FAcceptRanges.clear();
    FireRequestHeaderEnd();
    WriteRequestLine("");
    if (RequestEnded(serial)) return; // a handler aborted it: nothing is sent
    FCtrlSocket->Send(FRequestStream.Memory(), static_cast<int>(FRequestStream.Size()));
    FRequestStream.Clear();
}

void THttpCli::WriteRequestLine(const std::string& Line) {
    std::string line = Line;
    if (OnCommand) OnCommand(this, line);
    if (!line.empty()) FRequestStream.WriteBuffer(line.data(), static_cast<int>(line.size()));
    FRequestStream.WriteBuffer("\r\n", 2);
}

void THttpCli::HandleDataSent(TObject* Sender, WORD Error) {
    if (!FAllowedToSend) return;
    const std::uint32_t serial = FRequestSerial;
    try {
        const int count = FSendStream->Read(FSendBuffer.get(), SendBufferSize);
        if (count > 0) {
            FSentCount += count;
            FireSendData(FSendBuffer.get(), count);
            if (RequestEnded(serial)) return;
            FCtrlSocket->Send(FSendBuffer.get(), count);
        } else {
            FAllowedToSend = false;
            FireSendEnd();
        }
    } catch (std::exception& E) {
        FAllowedToSend = false;
        if (!FRequestFailed)
            FailRequest(std::string("Can't send the request: ") + E.what(), httperrSendFailed);
    }
}

void THttpCli::CloseConnection() {
    FCtrlSocket->Close();
    FConnected = false;
}

// ---------------------------------------------------------------- ending a request

bool THttpCli::SendsCredentials() const {
    return LowerCase(FTargetHost) == FCredentialHost;
}

void THttpCli::RecordFailure(const std::string& Reason, WORD Error) {
    FStatusCode = 404;
    FReasonPhrase = Reason;
    FRequestDoneError = Error;
    FRequestFailed = true;
}

void THttpCli::FailRequest(const std::string& Reason, WORD Error) {
    RecordFailure(Reason, Error);
    if (FInReceive && FReceiveSerial == FRequestSerial)
        FResponseEnd = TResponseEnd::Close; // the receive pass closes when it is done
    else if (FCtrlSocket->State() != wsClosed)
        CloseConnection(); // its session-closed report ends the request
    else
        HandleSessionClosed(FCtrlSocket, 0);
}

bool THttpCli::RequestEnded(std::uint32_t Serial) const {
    return Serial != FRequestSerial || FState == hsReady || FState == hsAborting;
}

bool THttpCli::ResponseComplete() const {
    if (!FStatusSeen || FState != hsWaitingBody) return false;
    if (FRequestType == rqHead || FStatusCode < 200 || FStatusCode == 204 || FStatusCode == 304)
        return true;
    return FResponseLength >= 0 && FResponseBodyBytes >= FResponseLength;
}

bool THttpCli::ResponseIncomplete() const {
    if (!FStatusSeen || FRequestType == rqHead || FResponseLength < 0) return false;
    // These answers carry no body whatever their Content-Length says.
    if (FStatusCode < 200 || FStatusCode == 204 || FStatusCode == 304) return false;
    return FResponseBodyBytes < FResponseLength;
}

void THttpCli::HandleSessionClosed(TObject* Sender, WORD Error) {
    if (FState == hsReady) return; // a socket left open was closed: nothing to end
    if (FInReceive && FReceiveSerial == FRequestSerial && FState != hsAborting) {
        // The bytes of the running receive pass come first; it ends the request.
        FClosePending = true;
        FClosePendingError = Error;
        return;
    }
    FConnected = false;
    if (!FRequestFailed) FlushDocument();
    if (!FRequestFailed) RecordEarlyEnd(Error);
    if (FBodyPieceCount > 0) FireDocEnd();
    // Abort finishes the request itself; one report per request is enough.
    if (FState != hsAborting && !FReadyPosted) {
        FReadyPosted = true;
        PostMessage(FWindowHandle, WM_HTTP_READY, static_cast<WPARAM>(FRequestSerial), 0);
    }
}

void THttpCli::FlushDocument() {
    // A stream that gathers writes reports a failed one only now; the document has a
    // hole then, as when a write fails at once.
    if (FRcvdStream == nullptr || FBodyPieceCount == 0) return;
    try {
        FRcvdStream->Flush();
    } catch (Exception& E) {
        RecordFailure("Can't write the document: " + E.Message(), httperrWriteFailed);
    }
}

void THttpCli::RecordEarlyEnd(WORD Error) {
    // A status of 400 or more closed the connection on purpose; anything else that
    // ends the transfer early loses the document and must not pass for success.
    if (FStatusCode >= 400) return;
    switch (FState) {
    case hsWaitingHeader:
    case hsWaitingBody:
        // A reset after the whole announced document took nothing from it.
        if (Error != 0 && !ResponseComplete())
            RecordFailure("Connection lost: " + ErrorWithNumber(Error), Error);
        else if (FState == hsWaitingHeader && FHeaderLineCount == 0)
            RecordFailure("Connection closed without a response", httperrIncomplete);
        else if (FState == hsWaitingHeader)
            RecordFailure("Header incomplete: the connection closed before its end",
                          httperrIncomplete);
        else if (ResponseIncomplete())
            RecordFailure("Document incomplete: " + std::to_string(FResponseBodyBytes) + " of " +
                              std::to_string(FResponseLength) + " bytes received",
                          httperrIncomplete);
        break;
    case hsAborting:
        break;
    default:
        // Closed before the request went out (a proxy that hung up while negotiating).
        if (Error != 0)
            RecordFailure(
                "Connection closed before the request was sent: " + ErrorWithNumber(Error), Error);
        else
            RecordFailure("Connection closed before the request was sent", httperrIncomplete);
        break;
    }
}

void THttpCli::RelocationClosed(TObject* Sender, WORD Error) {
    FConnected = false;
    FLocationPending = false;
    AttachSessionClosed(false);
    // Armed before the event, so that a handler's Abort cancels the restart; posted
    // after it, so that a handler pumping messages does not run into the next hop.
    FRestartPending = true;
    if (OnLocationChange) OnLocationChange(this);
    if (FRestartPending) PostMessage(FWindowHandle, WM_HTTP_RESTART, 0, 0);
}

void THttpCli::Get() {
    ExecuteRequest(rqGet);
}

void THttpCli::ExecuteRequest(THttpRequest Rq) {
    StartRequest(Rq);
    TWaitRecord wait;
    wait.Serial = FRequestSerial;
    wait.Outer = FWaits;
    wait.Done = FState == hsReady;
    wait.StatusCode = FStatusCode;
    wait.ReasonPhrase = FReasonPhrase;
    FWaits = &wait;
    try {
        while (!wait.Done) {
            if (FMultiThreaded)
                FCtrlSocket->PumpOwnMessages();
            else
                Application.ProcessMessages();
            if (wait.Done) break;
            // Sleeps in the kernel until the next message, timer or socket event.
            WaitMessageTimeout(WaitSliceMs);
        }
    } catch (...) {
        FWaits = wait.Outer;
        throw;
    }
    FWaits = wait.Outer;
    if (wait.StatusCode >= 400)
        throw EHttpException(wait.ReasonPhrase, static_cast<WORD>(wait.StatusCode));
}

void THttpCli::Abort() {
    if (FState == hsReady) {
        if (FCtrlSocket->State() != wsClosed) FCtrlSocket->Close();
        return;
    }
    const bool lookingUp = FState == hsDnsLookup;
    SetState(hsAborting);
    FRestartPending = false;
    if (lookingUp) {
        try {
            FCtrlSocket->CancelLookup();
        } catch (Exception&) {
        }
    }
    RecordFailure("Connection aborted on request", httperrAborted);
    DropReceived();
    // A socket that is already closed has had its session-closed report (OnDocEnd
    // included); closing it again reports nothing.
    if (lookingUp)
        HandleSessionClosed(this, 0);
    else
        FCtrlSocket->Close();
    FConnected = false;
    SetState(hsReady);
}

// ---------------------------------------------------------------- events

void THttpCli::FireCookie(const std::string& Data, bool& Accept) {
    if (OnCookie) OnCookie(this, Data, Accept);
}
void THttpCli::FireSessionConnected() {
    if (OnSessionConnected) OnSessionConnected(this);
}
void THttpCli::FireRequestHeaderBegin() {
    if (OnRequestHeaderBegin) OnRequestHeaderBegin(this);
}
void THttpCli::FireRequestHeaderEnd() {
    if (OnRequestHeaderEnd) OnRequestHeaderEnd(this);
}
void THttpCli::FireHeaderBegin() {
    if (OnHeaderBegin) OnHeaderBegin(this);
}
void THttpCli::FireHeaderEnd() {
    if (OnHeaderEnd) OnHeaderEnd(this);
}
void THttpCli::FireDocBegin() {
    if (OnDocBegin) OnDocBegin(this);
}
void THttpCli::FireDocData(const void* Buffer, int Len) {
    if (OnDocData) OnDocData(this, Buffer, Len);
}
void THttpCli::FireDocEnd() {
    if (OnDocEnd) OnDocEnd(this);
}
void THttpCli::FireSendBegin() {
    if (OnSendBegin) OnSendBegin(this);
}
void THttpCli::FireSendData(const void* Buffer, int Len) {
    if (OnSendData) OnSendData(this, Buffer, Len);
}
void THttpCli::FireSendEnd() {
    if (OnSendEnd) OnSendEnd(this);
}
