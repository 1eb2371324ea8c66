#include "net/CustomSocksWSocket.h"

#include "net/WSocketResolve.h"
#include "platform/runtime/SysUtils.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <cxxabi.h>
#include <memory>
#include <typeinfo>
#include <utility>

namespace {

constexpr BYTE Socks4Version = 4;
constexpr BYTE Socks4ReplyVersion = 0;
constexpr BYTE Socks5Version = 5;
constexpr BYTE SocksAuthVersion = 1;
constexpr BYTE SocksCmdConnect = 1;
constexpr BYTE Socks5AddrIPv4 = 1;
constexpr BYTE Socks5AddrDomain = 3;
constexpr BYTE SocksMethodNone = 0;
constexpr BYTE SocksMethodUserPass = 2;
constexpr int Socks4ReplySize = 8;
// Bytes of a SOCKS 5 reply that decide its full length (up to the name's length byte).
constexpr int Socks5ReplyHead = 5;
constexpr int Socks5ReplySizeIPv4 = 10;
constexpr int Socks5ReplySizeDomainBase = 7;

// The class name of an exception as the error text shows it.
std::string ClassNameOf(const std::exception& E) {
    const char* mangled = typeid(E).name();
    int status = 0;
    std::unique_ptr<char, void (*)(void*)> demangled(
        abi::__cxa_demangle(mangled, nullptr, nullptr, &status), std::free);
    return status == 0 && demangled ? std::string(demangled.get()) : std::string(mangled);
}

void AppendPort(std::string& Out, int Port) {
    Out += static_cast<char>((Port >> 8) & 0xFF);
    Out += static_cast<char>(Port & 0xFF);
}

// Text of a SOCKS 5 reply code other than success.
std::pair<int, std::string> Socks5ReplyError(BYTE Code) {
    switch (Code) {
    case 1:
        return {socksErrGeneralFailure, "general SOCKS server failure"};
    case 2:
        return {socksErrConnectionNotAllowed, "connection not allowed by ruleset"};
    case 3:
        return {socksErrNetworkUnreachable, "network unreachable"};
    case 4:
        return {socksErrHostUnreachable, "host unreachable"};
    case 5:
        return {socksErrConnectionRefused, "connection refused"};
    case 6:
        return {socksErrTtlExpired, "time to live expired"};
    case 7:
        return {socksErrCommandNotSupported, "command not supported"};
    case 8:
        return {socksErrAddressTypeNotSupported, "address type not supported"};
    default:
        return {socksErrUnassigned, "unassigned error #" + std::to_string(Code)};
    }
}

} // namespace

TCustomSocksWSocket::TCustomSocksWSocket(TComponent* AOwner) : TCustomWSocket(AOwner) {}

void TCustomSocksWSocket::ResetToDefaults() {
    TCustomWSocket::ResetToDefaults();
    ChangeSocksState(socksIdle);
    FSocksServer.clear();
    FSocksPort.clear();
    FSocksLevel = "5";
    FSocksLeftoverCount = 0;
    FSocksPortAssigned = false;
    FSocksServerAssigned = false;
}

void TCustomSocksWSocket::ChangeSocksState(TSocksState NewState) {
    FSocksState = NewState;
    // Each state waits for a reply of its own.
    FSocksReplyCount = 0;
}

void TCustomSocksWSocket::SetSocksLevel(const std::string& Value) {
    if (State() != wsClosed) {
        RaiseError("Can't change socks level if not closed");
        return;
    }
    if (Value != "4" && Value != "5" && Value != "4A" && Value != "4a") {
        RaiseError("Invalid socks level. Must be 4, 4A or 5.");
        return;
    }
    FSocksLevel = UpperCase(Value);
}

void TCustomSocksWSocket::SetSocksServer(const std::string& Value) {
    if (State() != wsClosed) {
        RaiseError("Can't change socks server if not closed");
        return;
    }
    FSocksServer = Trim(Value);
    FSocksServerAssigned = !FSocksServer.empty();
}

void TCustomSocksWSocket::SetSocksPort(const std::string& Value) {
    if (State() != wsClosed) {
        RaiseError("Can't change socks port if not closed");
        return;
    }
    FSocksPort = Trim(Value);
    FSocksPortAssigned = !FSocksPort.empty();
}

void TCustomSocksWSocket::Listen() {
    if (FSocksServerAssigned) {
        RaiseError("Listening is not supported thru socks server");
        return;
    }
    TCustomWSocket::Listen();
}

void TCustomSocksWSocket::Connect() {
    // A socket in use keeps its connection: the core refuses, and the negotiation state
    // of the live connection must not change.
    if (!FSocksServerAssigned || (SocketHandle() != INVALID_SOCKET && State() != wsClosed)) {
        TCustomWSocket::Connect();
        return;
    }
    if (LowerCase(Proto()) != "tcp") {
        RaiseError("tcp is the only protocol supported thru socks server");
        return;
    }
    try {
        // The TCP connection goes to the proxy; PortNumber keeps naming the destination.
        if (!FPortResolved) {
            FRemoteAddress.sin_port = vt::wsapi::htons(WSocketResolvePort(FSocksPort, Proto()));
            FPortResolved = true;
        }
        if (!FAddrResolved) {
            FRemoteAddress.sin_addr.s_addr = WSocketResolveHost(FSocksServer);
            FAddrResolved = true;
        }
        FPortNumber = WSocketResolvePort(Port(), Proto());
    } catch (const Exception& E) {
        RaiseError("connect: " + E.Message());
        return;
    }
    ChangeSocksState(socksNegotiating);
    TCustomWSocket::Connect();
}

void TCustomSocksWSocket::DoSessionConnected(WORD Error) {
    if (FSocksState != socksNegotiating) {
        TCustomWSocket::DoSessionConnected(Error);
        return;
    }
    DoSocksConnected(Error);
    if (Error != 0) {
        TCustomWSocket::DoSessionConnected(Error);
        return;
    }
    if (std::string reason = CheckFieldLengths(); !reason.empty()) {
        SocksFail(socksErrValueTooLong, reason);
        return;
    }
    if (SocksLevelIs4()) {
        SocksSendRequest();
        return;
    }
    FSocksAuthMethod =
        FSocksAuthentication == socksAuthenticateUsercode ? SocksMethodUserPass : SocksMethodNone;
    const BYTE greeting[] = {Socks5Version, 1, FSocksAuthMethod};
    Send(greeting, sizeof greeting);
}

std::string TCustomSocksWSocket::CheckFieldLengths() const {
    const bool sendsHostName = !SocksLevelIs4() || FSocksLevel == "4A";
    if (sendsHostName && static_cast<int>(Addr().size()) > SocksMaxFieldLength)
        return "socks host name too long";
    if (SocksLevelIs4() && static_cast<int>(FSocksUsercode.size()) > SocksMaxFieldLength)
        return "socks usercode too long";
    return {};
}

void TCustomSocksWSocket::SocksSendRequest() {
    ChangeSocksState(socksRequesting);
    std::string request;
    if (SocksLevelIs4()) {
        u_long address = 0;
        if (FSocksLevel == "4A") {
            address = vt::wsapi::inet_addr("0.0.0.1");
        } else {
            try {
                address = WSocketResolveHost(Addr());
            } catch (const Exception& E) {
                DoSocksError(socksErrResolveHost, ClassNameOf(E) + " " + E.Message());
                InternalClose(true, socksErrResolveHost);
                return;
            }
        }
        request += static_cast<char>(Socks4Version);
        request += static_cast<char>(SocksCmdConnect);
        AppendPort(request, FPortNumber);
        const auto address32 = static_cast<std::uint32_t>(address); // network byte order
        request.append(reinterpret_cast<const char*>(&address32), 4);
        request += FSocksUsercode;
        request += '\0';
        if (FSocksLevel == "4A") {
            request += Addr();
            request += '\0';
        }
    } else {
        request += static_cast<char>(Socks5Version);
        request += static_cast<char>(SocksCmdConnect);
        request += '\0';
        request += static_cast<char>(Socks5AddrDomain);
        request += static_cast<char>(Addr().size());
        request += Addr();
        AppendPort(request, FPortNumber);
    }
    try {
        Send(request.data(), static_cast<int>(request.size()));
    } catch (const Exception&) {
        // A failed send closes the socket; the application hears of it through the close.
    }
}

void TCustomSocksWSocket::SocksSendAuthentication() {
    if (static_cast<int>(FSocksUsercode.size()) > SocksMaxFieldLength ||
        static_cast<int>(FSocksPassword.size()) > SocksMaxFieldLength) {
        SocksFail(socksErrValueTooLong, "socks usercode or password too long");
        return;
    }
    ChangeSocksState(socksAuthenticating);
    DoSocksAuthState(socksAuthBegin);
    std::string request;
    request += static_cast<char>(SocksAuthVersion);
    request += static_cast<char>(FSocksUsercode.size());
    request += FSocksUsercode;
    request += static_cast<char>(FSocksPassword.size());
    request += FSocksPassword;
    try {
        Send(request.data(), static_cast<int>(request.size()));
    } catch (const Exception&) {
    }
}

bool TCustomSocksWSocket::DoDataAvailable(WORD Error) {
    if (FSocksState == socksIdle) return TCustomWSocket::DoDataAvailable(Error);
    if (Error != 0) {
        SocksFail(Error, "data receive error");
        return false;
    }
    switch (FSocksState) {
    case socksNegotiating:
        HandleMethodReply();
        return true;
    case socksAuthenticating:
        HandleAuthReply();
        return true;
    case socksRequesting:
        return SocksLevelIs4() ? HandleSocks4Reply() : HandleSocks5Reply();
    default:
        SocksFail(socksErrInternal, "internal error");
        return false;
    }
}

bool TCustomSocksWSocket::ReceiveReply(int Limit) {
    const int room = Limit - FSocksReplyCount;
    if (room <= 0) return false;
    const int got = Receive(FSocksReplyBuffer.data() + FSocksReplyCount, room);
    if (got < 0) return false;
    FSocksReplyCount += got;
    return true;
}

void TCustomSocksWSocket::HandleMethodReply() {
    if (!ReceiveReply(SocksReplyBufferSize - 1)) return;
    if (SocksLevelIs4()) {
        SocksFail(socksErrLogic, "TWSocket logic error");
        return;
    }
    if (FSocksReplyCount < 2) return;
    FSocksReplyCount = 0;
    if (FSocksReplyBuffer[0] != Socks5Version) {
        SocksFail(socksErrVersion, "socks version error");
        return;
    }
    switch (FSocksReplyBuffer[1]) {
    case SocksMethodNone:
        if (FSocksAuthMethod != SocksMethodNone) DoSocksAuthState(socksAuthNotNeeded);
        SocksSendRequest();
        break;
    case SocksMethodUserPass:
        SocksSendAuthentication();
        break;
    default:
        SocksFail(socksErrAuthMethod, "authentification method not acceptable");
    }
}

void TCustomSocksWSocket::HandleAuthReply() {
    if (!ReceiveReply(SocksReplyBufferSize - 1)) return;
    if (FSocksReplyCount >= 1 && FSocksReplyBuffer[0] != SocksAuthVersion) {
        SocksFail(socksErrVersion, "socks version error");
        return;
    }
    if (FSocksReplyCount < 2) return;
    if (FSocksReplyCount > 2) {
        SocksFail(socksErrLogic, "too much data availaible");
        return;
    }
    if (FSocksReplyBuffer[1] != 0) {
        SocksFail(socksErrAuthFailed, "socks authentication failed");
        return;
    }
    DoSocksAuthState(socksAuthSucceeded);
    SocksSendRequest();
}

bool TCustomSocksWSocket::HandleSocks4Reply() {
    // Exactly the reply: whatever follows stays in the socket for the application.
    if (!ReceiveReply(Socks4ReplySize) || FSocksReplyCount < Socks4ReplySize) return true;
    FSocksReplyCount = 0;
    if (FSocksReplyBuffer[0] != Socks4ReplyVersion) {
        SocksFail(socksErrVersion, "socks version error");
        return true;
    }
    const BYTE code = FSocksReplyBuffer[1];
    switch (code) {
    case 90:
        return SocksConnectSucceeded(Socks4ReplySize);
    case 91:
        SocksFail(socksErrRequestRejected, "request rejected or failed");
        break;
    case 92:
        SocksFail(socksErrConnectionRefused, "connection refused");
        break;
    case 93:
        SocksFail(socksErrAuthFailed, "authentification failed");
        break;
    default:
        SocksFail(socksErrUnassigned, "unassigned error #" + std::to_string(code));
    }
    return true;
}

bool TCustomSocksWSocket::HandleSocks5Reply() {
    if (!ReceiveReply(SocksReplyBufferSize - 1)) return true;
    if (FSocksReplyCount >= 1 && FSocksReplyBuffer[0] != Socks5Version) {
        SocksFail(socksErrVersion, "socks version error");
        return true;
    }
    if (FSocksReplyCount >= 2 && FSocksReplyBuffer[1] != 0) {
        auto [code, text] = Socks5ReplyError(FSocksReplyBuffer[1]);
        SocksFail(code, text);
        return true;
    }
    if (FSocksReplyCount < Socks5ReplyHead) return true;
    const BYTE addressType = FSocksReplyBuffer[3];
    int needed = Socks5ReplyHead;
    if (addressType == Socks5AddrIPv4)
        needed = Socks5ReplySizeIPv4;
    else if (addressType == Socks5AddrDomain)
        needed = Socks5ReplySizeDomainBase + FSocksReplyBuffer[4];
    if (FSocksReplyCount < needed) return true;
    if (addressType != Socks5AddrIPv4 && addressType != Socks5AddrDomain) {
        SocksFail(socksErrAddressTypeNotSupported, "address type not supported");
        return true;
    }
    return SocksConnectSucceeded(needed);
}

bool TCustomSocksWSocket::SocksConnectSucceeded(int DataOffset) {
    // Bytes that came with the reply are served first, before anything still in the
    // socket, also to a handler that reads from inside OnSessionConnected.
    const bool socks5 = !SocksLevelIs4();
    const int held = FSocksReplyCount;
    ChangeSocksState(socksIdle);
    if (socks5) {
        FSocksLeftoverCount = held > DataOffset ? held - DataOffset : 0;
        FSocksLeftoverPos = DataOffset;
    }
    TCustomWSocket::DoSessionConnected(0);
    // The connection is the application's now: let it pick up what followed the reply,
    // through whichever layer sits on top.
    return State() == wsConnected ? DoDataAvailable(0) : true;
}

void TCustomSocksWSocket::SocksFail(int Code, const std::string& Msg) {
    DoSocksError(Code, Msg);
    TCustomWSocket::DoSessionConnected(static_cast<WORD>(Code));
    InternalClose(true, static_cast<WORD>(Code));
}

void TCustomSocksWSocket::DoSessionClosed(WORD Error) {
    if (FSocksState == socksAuthenticating) DoSocksAuthState(socksAuthFailed);
    TCustomWSocket::DoSessionClosed(Error);
}

int TCustomSocksWSocket::RawReceive(void* Buffer, int BufferSize, int Flags) {
    if (FSocksLeftoverCount > 0) {
        const int n = std::min(BufferSize, FSocksLeftoverCount);
        if (n <= 0) return 0;
        std::memcpy(Buffer, FSocksReplyBuffer.data() + FSocksLeftoverPos, n);
        FSocksLeftoverPos += n;
        FSocksLeftoverCount -= n;
        return n;
    }
    return TCustomWSocket::RawReceive(Buffer, BufferSize, Flags);
}

int TCustomSocksWSocket::BufferedCount() {
    return FSocksLeftoverCount;
}

int TCustomSocksWSocket::RcvdCount() {
    if (FSocksLeftoverCount > 0) return FSocksLeftoverCount;
    return TCustomWSocket::RcvdCount();
}

void TCustomSocksWSocket::DoSocksConnected(WORD Error) {
    if (OnSocksConnected) OnSocksConnected(this, Error);
}

void TCustomSocksWSocket::DoSocksError(int Error, const std::string& Msg) {
    if (OnSocksError) OnSocksError(this, Error, Msg);
}

void TCustomSocksWSocket::DoSocksAuthState(TSocksAuthState AuthState) {
    if (OnSocksAuthState) OnSocksAuthState(this, AuthState);
}
