// THttpCli's reception: cutting the received bytes into lines, the status and header
// lines, relocation targets and the document body.

#include "http/HttpCli.h"

#include "platform/runtime/SysUtils.h"

#include <cstring>

namespace {

// Restores a value when the scope ends, however it ends.
template <typename T> class TRestore {
public:
    explicit TRestore(T& Value) : FRef(Value), FSaved(Value) {}
    ~TRestore() { FRef = FSaved; }
    TRestore(const TRestore&) = delete;
    TRestore& operator=(const TRestore&) = delete;

private:
    T& FRef;
    T FSaved;
};

// "proto://host[:port]path", the port left out when it is the default one.
std::string AbsoluteAddress(const std::string& Proto, const std::string& Host,
                            const std::string& Port, const std::string& Path) {
    std::string address = (Proto.empty() ? "http" : Proto) + "://" + Host;
    if (!Port.empty() && Port != "80") address += ":" + Port;
    return address + Path;
}

bool StartsWithHtmlTag(const char* Data, int Len) {
    return Len >= 6 && UpperCase(std::string_view(Data, 6)) == "<HTML>";
}

} // namespace

void THttpCli::HandleDataAvailable(TObject* Sender, WORD Error) {
    // A handler that pumps messages brings us back here while a pass runs; that pass
    // reads on once the handler returns. A handler that started a new request has
    // taken over the buffer, and its data is read at once.
    if (FInReceive && FReceiveSerial == FRequestSerial) return;
    const std::uint32_t serial = FRequestSerial;
    {
        TRestore<bool> inReceive(FInReceive);
        TRestore<std::uint32_t> receiveSerial(FReceiveSerial);
        FInReceive = true;
        FReceiveSerial = serial;
        ReceivePass(Sender, Error, serial);
    }
    if (serial == FRequestSerial) EndReceive();
}

void THttpCli::ReceivePass(TObject* Sender, WORD Error, std::uint32_t Serial) {
    // Bounded, so a fast server cannot hold the loop; the last read re-armed the
    // notification for what is left.
    for (int reads = 0; reads < MaxReadsPerPass; ++reads) {
        if (ReadReceived() <= 0) return;
        Advance(Sender, Error, Serial);
        if (Serial != FRequestSerial || FResponseEnd != TResponseEnd::None || FClosePending) return;
    }
}

int THttpCli::ReadReceived() {
    char* buffer = FReceiveBuffer.get();
    if (FReceiveStart > 0) {
        std::memmove(buffer, buffer + FReceiveStart, static_cast<size_t>(FReceiveLength) + 1);
        FReceiveStart = 0;
    }
    const int room = ReceiveBufferSize - FReceiveLength;
    if (room <= 0) {
        // A full buffer without a line end: nothing more can be read, so the response
        // cannot be understood.
        if (FState == hsWaitingHeader && !FRequestFailed)
            FailRequest("HTTP line too long", httperrLineTooLong);
        DropReceived();
        return 0;
    }
    const int got = FCtrlSocket->Receive(buffer + FReceiveLength, room);
    if (got <= 0) return got;
    if (FRequestType == rqNone || FRequestFailed) {
        // No request, or one that has its result: what still comes is dropped.
        DropReceived();
        return got;
    }
    FReceiveLength += got;
    buffer[FReceiveLength] = '\0';
    return got;
}

void THttpCli::DropReceived() {
    // The bytes stay untouched: a handler may still be looking at its piece.
    FReceiveStart = 0;
    FReceiveLength = 0;
}

void THttpCli::Advance(TObject* Sender, WORD Error, std::uint32_t Serial) {
    while (FReceiveLength > 0 && Serial == FRequestSerial) {
        // A failed request, a relocation or a refused response wants nothing more.
        if (FRequestFailed || FResponseEnd == TResponseEnd::Relocate ||
            (FResponseEnd == TResponseEnd::Close && FState != hsWaitingHeader)) {
            DropReceived();
            return;
        }
        const char* line = nullptr;
        int length = 0;
        switch (FState) {
        case hsWaitingBody: {
            // Each block goes on whole; the buffer is free again before the events.
            std::string_view block(FReceiveBuffer.get() + FReceiveStart,
                                   static_cast<size_t>(FReceiveLength));
            FReceiveStart = 0;
            FReceiveLength = 0;
            HandleBodyData(block.data(), static_cast<int>(block.size()));
            break;
        }
        case hsWaitingHeader:
            if (!TakeLine(line, length)) return;
            HandleHeaderLine(line, length);
            break;
        default:
            if (!TakeLine(line, length)) return;
            FLastResponse.assign(line, static_cast<size_t>(length));
            if (OnDataAvailable) OnDataAvailable(Sender, Error);
            break;
        }
    }
}

bool THttpCli::TakeLine(const char*& Line, int& Len) {
    const char* line = FReceiveBuffer.get() + FReceiveStart;
    // The line search treats the buffer as text: it ends at a zero byte.
    int lf = 0;
    while (lf < FReceiveLength && line[lf] != '\n' && line[lf] != '\0')
        ++lf;
    if (lf >= FReceiveLength || line[lf] != '\n') return false; // wait for more data
    Len = lf > 0 && line[lf - 1] == '\r' ? lf - 1 : lf;
    Line = line;
    FLineEndLength = lf + 1 - Len;
    FReceiveStart += lf + 1;
    FReceiveLength -= lf + 1;
    if (FReceiveLength == 0) FReceiveStart = 0;
    return true;
}

void THttpCli::EndReceive() {
    const TResponseEnd end = std::exchange(FResponseEnd, TResponseEnd::None);
    const bool peerClosed = std::exchange(FClosePending, false);
    if (FState == hsReady || FState == hsAborting) return; // ended from a handler
    const bool open = FCtrlSocket->State() != wsClosed;
    if (end == TResponseEnd::Relocate) {
        AttachSessionClosed(true);
        if (open)
            FCtrlSocket->Close(); // its session-closed report follows the relocation
        else
            RelocationClosed(FCtrlSocket, 0);
    } else if (end == TResponseEnd::Close && open) {
        CloseConnection(); // its session-closed report ends the request
    } else if (peerClosed || end == TResponseEnd::Close) {
        HandleSessionClosed(FCtrlSocket, FClosePendingError);
    }
}

void THttpCli::KeepRecentLines(TStringList& List) {
    const int excess = List.Count() - MaxKeptHeaderLines;
    if (excess <= 0) return;
    TStringList recent;
    for (int i = excess; i < List.Count(); ++i)
        recent.Add(List.Strings(i));
    List = std::move(recent);
}

// ---------------------------------------------------------------- header

void THttpCli::HandleHeaderLine(const char* Data, int Len) {
    // Only the copy is used from here on: event handlers may refill the buffer.
    FLastResponse.assign(Data, static_cast<size_t>(Len));
    const std::string& line = FLastResponse;
    if (FHeaderLineCount == 0) {
        // A new response: earlier hops keep only their most recent lines.
        KeepRecentLines(FRcvdHeader);
        KeepRecentLines(FAuthenticateHeaders);
        const std::uint32_t serial = FRequestSerial;
        FireHeaderBegin();
        if (RequestEnded(serial)) return; // the handler aborted it or started another one
    }
    ++FHeaderLineCount;
    FHeaderBytes += Len + FLineEndLength;
    if (FHeaderBytes > MaxHeaderSize) {
        FailRequest("HTTP header too large", httperrHeaderTooLarge);
        return;
    }

    if (StartsWithHtmlTag(line.data(), Len)) {
        // A document without a header: this line, with its line end, begins it.
        if (FContentType.empty()) FContentType = "text/html";
        const std::string first = line + (FLineEndLength == 2 ? "\r\n" : "\n");
        BeginBody(&first);
        return;
    }

    if (Len == 0) {
        HandleHeaderEnd();
        return;
    }

    FRcvdHeader.Add(line);
    if (Len >= 8 && (line.compare(0, 8, "HTTP/1.0") == 0 || line.compare(0, 8, "HTTP/1.1") == 0)) {
        if (!HandleStatusLine(line)) return;
    } else {
        const size_t colon = line.find(':');
        if (colon != std::string::npos) {
            size_t start = colon + 1;
            while (start + 1 < line.size() && line[start] == ' ')
                ++start; // the last character of the line is never skipped
            HandleHeaderField(LowerCase(std::string_view(line).substr(0, colon)),
                              line.substr(std::min(start, line.size())));
            if (FRequestFailed) return;
        }
    }
    if (OnHeaderData) OnHeaderData(this);
    // A refusal ends the connection; the header lines already received are still
    // read, its body is not.
    if (FStatusCode >= 400 && FResponseEnd == TResponseEnd::None)
        FResponseEnd = TResponseEnd::Close;
}

void THttpCli::HandleHeaderEnd() {
    if (FResponseEnd == TResponseEnd::Close) {
        DropReceived(); // the body of a refusal is not wanted
        return;
    }
    if (FLocationPending) {
        const std::uint32_t serial = FRequestSerial;
        FireHeaderEnd();
        if (RequestEnded(serial) || FRequestFailed) return;
        DropReceived(); // the rest of this response is not wanted
        FHeaderLineCount = 0;
        FBodyPieceCount = 0;
        if (++FRelocations > MaxRelocations) {
            FailRequest("Too many relocations (more than " + std::to_string(MaxRelocations) + ")",
                        httperrTooManyRelocations);
            return;
        }
        FResponseEnd = TResponseEnd::Relocate;
        return;
    }
    if (LowerCase(ExtractFileExt(FDocName)) == ".exe" && FContentType == "text/html")
        SetExtension(FDocName, "htm");
    BeginBody(nullptr);
}

void THttpCli::BeginBody(const std::string* FirstPiece) {
    const std::uint32_t serial = FRequestSerial;
    SetState(hsWaitingBody);
    if (RequestEnded(serial)) return;
    FireHeaderEnd();
    if (RequestEnded(serial) || FRequestFailed) return;
    if (FirstPiece != nullptr) {
        // One piece, so that nothing received later can come between the two parts.
        std::string piece = *FirstPiece;
        piece.append(FReceiveBuffer.get() + FReceiveStart, static_cast<size_t>(FReceiveLength));
        DropReceived();
        HandleBodyData(piece.data(), static_cast<int>(piece.size()));
    }
    // Otherwise the receive pass hands on what the buffer still holds.
}

bool THttpCli::HandleStatusLine(const std::string& Line) {
    int code = 0;
    if (!TryStrToInt(Copy(Line, 10, 3), code)) {
        // Without a status the response means nothing; taking it as a success would
        // hand on whatever follows as the document.
        FailRequest("Bad HTTP status line", httperrBadStatusLine);
        return false;
    }
    FStatusCode = code;
    FReasonPhrase = Copy(Line, 14, static_cast<int>(Line.size()));
    FStatusSeen = true;
    return true;
}

void THttpCli::HandleHeaderField(const std::string& Name, const std::string& Value) {
    if (Name == "location") {
        if (FResponseEnd == TResponseEnd::Close) return; // a refusal is not followed
        FLocationPending = true;
        SetRelocationTarget(Value);
    } else if (Name == "content-length") {
        // A length that is not a number tells nothing; the document ends at the close.
        std::int64_t length = 0;
        if (TryStrToInt64(Value, length)) {
            FContentLength = length;
            FResponseLength = length;
        }
    } else if (Name == "content-range") {
        const int dash = Pos("-", Value);
        const int slash = Pos("/", Value);
        FContentRangeBegin = Copy(Value, 7, dash - 7);
        FContentRangeEnd = Copy(Value, dash + 1, slash - dash - 1);
    } else if (Name == "accept-ranges") {
        FAcceptRanges = Value;
    } else if (Name == "content-type") {
        FContentType = LowerCase(Value);
    } else if (Name == "www-authenticate") {
        FAuthenticateHeaders.Add(Value);
    } else if (Name == "set-cookie") {
        bool accept = true;
        FireCookie(Value, accept);
    }
}

void THttpCli::SetRelocationTarget(const std::string& V) {
    std::string proto, user, pass, host, port, path;
    SplitURL(V, proto, user, pass, host, port, path);

    if (FProxy.empty()) {
        if (!V.empty() && V[0] == '/') {
            FPath = V;
            FLocation = AbsoluteAddress("http", FHostName, FConnectPort, FPath);
        } else if (!proto.empty() && !host.empty()) {
            // Only plain HTTP can be fetched on a direct connection; anything else
            // would go out as plain text to the wrong port.
            if (LowerCase(proto) != "http") {
                FailRequest("Can't follow the relocation to " + proto + ": protocol not supported",
                            httperrBadRelocation);
                return;
            }
            FHostName = FTargetHost = host;
            FConnectPort = port.empty() ? "80" : port;
            FPath = path.empty() ? "/" : path;
            FLocation = AbsoluteAddress(proto, host, port, path);
        } else {
            if (!port.empty()) FConnectPort = port;
            if (path.empty()) {
                FLocation = AbsoluteAddress(proto, FTargetHost, FConnectPort, "/" + host);
                FHostName = FTargetHost;
                FPath = FLocation; // the next request line carries the absolute address
            } else if (host.empty()) {
                FPath = path;
                FLocation = AbsoluteAddress(proto, FTargetHost, FConnectPort, FPath);
                FHostName = FTargetHost;
            } else {
                FHostName = FTargetHost = host;
                FPath = path;
            }
        }
        return;
    }

    // Through a proxy the request line carries the absolute address, port included,
    // so that the proxy fetches from the server that was meant; every form of Location
    // gives a new address, so the proxy is never simply sent the same one again.
    std::string curProto, curUser, curPass, curHost, curPort, curPath;
    SplitURL(FPath, curProto, curUser, curPass, curHost, curPort, curPath);
    if (!V.empty() && V[0] == '/') {
        FLocation = AbsoluteAddress(curProto, curHost, curPort, V);
    } else if (!proto.empty() && !host.empty()) {
        FTargetHost = host;
        FLocation = AbsoluteAddress(proto, host, port, path);
    } else if (path.empty()) {
        FLocation = AbsoluteAddress(proto, curHost, curPort, "/" + host);
    } else if (host.empty()) {
        FLocation = AbsoluteAddress(proto.empty() ? curProto : proto, curHost, curPort, path);
    } else {
        FTargetHost = host;
        FLocation = AbsoluteAddress(proto, host, port, path);
    }
    FPath = FLocation;
}

// ---------------------------------------------------------------- body

void THttpCli::HandleBodyData(const char* Data, int Len) {
    if (FBodyPieceCount == 0) {
        const std::uint32_t serial = FRequestSerial;
        FireDocBegin();
        // A handler that aborted: nothing more is written. One that started a new
        // request has also reused the buffer Data points into.
        if (RequestEnded(serial)) return;
    }
    ++FBodyPieceCount;
    FReceivedBytes += Len;
    FResponseBodyBytes += Len;
    if (FRcvdStream != nullptr && Len > 0) {
        std::string failure;
        try {
            if (FRcvdStream->Write(Data, Len) != Len) failure = "Stream write error";
        } catch (Exception& E) {
            failure = E.Message();
        }
        if (!failure.empty()) {
            // A document with a hole in it is no document.
            FailRequest("Can't write the document: " + failure, httperrWriteFailed);
            return;
        }
    }
    FireDocData(Data, Len);
}
