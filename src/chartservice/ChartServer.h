#pragma once
// TChartServer: the chart service on a listening socket. Every accepted connection is
// adopted (Dup) by a TChartConnection, which answers one request and closes.

#include "chartservice/ChartConnection.h"
#include "chartservice/ChartService.h"
#include "net/WSocket.h"

#include <functional>
#include <list>
#include <memory>
#include <string>

class TChartServer {
public:
    // Clients served at once; more are answered 503 and closed.
    static constexpr int DefaultMaxClients = 32;
    // A client still connected after this long (request unfinished, or the response
    // not taken) is dropped.
    static constexpr DWORD DefaultTimeoutMs = 10000;

    explicit TChartServer(const TChartService& Service);
    ~TChartServer();
    TChartServer(const TChartServer&) = delete;
    TChartServer& operator=(const TChartServer&) = delete;

    // Listens on Addr:Port ("0" lets the system pick); raises ESocketException.
    void Listen(const std::string& Addr, const std::string& Port);
    // The port listened on, in decimal.
    std::string Port() const;
    int ConnectionCount() const { return static_cast<int>(FConnections.size()); }
    int MaxClients() const { return FMaxClients; }
    void SetMaxClients(int Value) { FMaxClients = Value; }
    DWORD TimeoutMs() const { return FTimeoutMs; }
    void SetTimeoutMs(DWORD Value) { FTimeoutMs = Value; }

    // Raised for every answered request (TChartConnection::OnAnswer).
    TChartConnection::TAnswerEvent OnAnswer;
    // Raised when a listening failure after start-up (accept) is met; Text is the error.
    std::function<void(const std::string& Text)> OnError;

private:
    void AcceptOne();
    void Release(TChartConnection* Connection);
    void CheckTimeouts();
    void WndProc(TMessage& Msg);

    const TChartService& FService;
    std::unique_ptr<TWSocket> FListener;
    std::list<std::unique_ptr<TChartConnection>> FConnections;
    HWND FWindow = nullptr;
    int FMaxClients = DefaultMaxClients;
    DWORD FTimeoutMs = DefaultTimeoutMs;
};
