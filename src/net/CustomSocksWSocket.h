#pragma once
// TCustomSocksWSocket: lets a TCP Connect pass through a SOCKS 4, 4A or 5 proxy (with
// optional user name and password). Transparent while no SOCKS server is assigned.

#include "net/CustomWSocket.h"

#include <array>
#include <functional>
#include <string>

enum TSocksState { socksIdle, socksNegotiating, socksAuthenticating, socksRequesting };
enum TSocksAuthentication { socksNoAuthentication, socksAuthenticateUsercode };
enum TSocksAuthState { socksAuthBegin, socksAuthSucceeded, socksAuthFailed, socksAuthNotNeeded };

using TSocksErrorEvent = std::function<void(TObject* Sender, int Error, const std::string& Msg)>;
using TSocksAuthStateEvent = std::function<void(TObject* Sender, TSocksAuthState AuthState)>;

// Error codes of the negotiation, reported where Winsock codes go otherwise.
constexpr int socksErrLogic = 20001;
constexpr int socksErrVersion = 20002;
constexpr int socksErrAuthMethod = 20003;
constexpr int socksErrGeneralFailure = 20004;
constexpr int socksErrConnectionNotAllowed = 20005;
constexpr int socksErrNetworkUnreachable = 20006;
constexpr int socksErrHostUnreachable = 20007;
constexpr int socksErrConnectionRefused = 20008;
constexpr int socksErrTtlExpired = 20009;
constexpr int socksErrCommandNotSupported = 20010;
constexpr int socksErrAddressTypeNotSupported = 20011;
constexpr int socksErrUnassigned = 20012;
constexpr int socksErrInternal = 20013;
constexpr int socksErrValueTooLong = 20014;
constexpr int socksErrAuthFailed = 20015;
constexpr int socksErrRequestRejected = 20016;
constexpr int socksErrResolveHost = 20017;

class TCustomSocksWSocket : public TCustomWSocket {
public:
    // A length byte carries every text field of a SOCKS 5 message; SOCKS 4 fields are
    // held to the same bound so no proxy sees an unbounded request.
    static constexpr int SocksMaxFieldLength = 255;
    // Large enough for the longest SOCKS 5 reply (domain name of 255 bytes) plus one.
    static constexpr int SocksReplyBufferSize = 7 + SocksMaxFieldLength + 1;

    explicit TCustomSocksWSocket(TComponent* AOwner);

    void Connect() override;
    void Listen() override;
    int RcvdCount() override;

protected:
    int BufferedCount() override;

public:
    const std::string& SocksLevel() const { return FSocksLevel; }
    void SetSocksLevel(const std::string& Value);
    const std::string& SocksServer() const { return FSocksServer; }
    virtual void SetSocksServer(const std::string& Value);
    const std::string& SocksPort() const { return FSocksPort; }
    virtual void SetSocksPort(const std::string& Value);
    const std::string& SocksUsercode() const { return FSocksUsercode; }
    void SetSocksUsercode(const std::string& Value) { FSocksUsercode = Value; }
    const std::string& SocksPassword() const { return FSocksPassword; }
    void SetSocksPassword(const std::string& Value) { FSocksPassword = Value; }
    TSocksAuthentication SocksAuthentication() const { return FSocksAuthentication; }
    void SetSocksAuthentication(TSocksAuthentication Value) { FSocksAuthentication = Value; }

    TSessionConnected OnSocksConnected;
    TSocksErrorEvent OnSocksError;
    TSocksAuthStateEvent OnSocksAuthState;

protected:
    virtual void DoSocksConnected(WORD Error);
    virtual void DoSocksError(int Error, const std::string& Msg);
    void DoSocksAuthState(TSocksAuthState AuthState);

    void ResetToDefaults() override;
    void DoSessionConnected(WORD Error) override;
    void DoSessionClosed(WORD Error) override;
    bool DoDataAvailable(WORD Error) override;
    int RawReceive(void* Buffer, int BufferSize, int Flags) override;

    // The layers above pass data through untouched while a negotiation runs.
    TSocksState SocksState() const { return FSocksState; }

private:
    bool SocksLevelIs4() const { return !FSocksLevel.empty() && FSocksLevel[0] == '4'; }
    // Every change of the negotiation state goes through here.
    void ChangeSocksState(TSocksState NewState);
    // Appends what the proxy sent, reading at most up to Limit held bytes; false when
    // the read failed.
    bool ReceiveReply(int Limit);
    void HandleMethodReply();
    void HandleAuthReply();
    // These answer what the data handler answered when the connection is made.
    bool HandleSocks4Reply();
    bool HandleSocks5Reply();
    bool SocksConnectSucceeded(int DataOffset);
    // Empty when every value fits its field, else the reason for refusing.
    std::string CheckFieldLengths() const;
    void SocksSendRequest();
    void SocksSendAuthentication();
    void SocksFail(int Code, const std::string& Msg);

    std::string FSocksLevel = "5";
    std::string FSocksServer;
    std::string FSocksPort;
    std::string FSocksUsercode;
    std::string FSocksPassword;
    TSocksAuthentication FSocksAuthentication = socksNoAuthentication;
    TSocksState FSocksState = socksIdle;
    bool FSocksServerAssigned = false;
    bool FSocksPortAssigned = false;
    BYTE FSocksAuthMethod = 0;
    std::array<BYTE, SocksReplyBufferSize> FSocksReplyBuffer{};
    int FSocksReplyCount = 0;
    int FSocksLeftoverCount = 0;
    int FSocksLeftoverPos = 0;
};
