#pragma once
// TChartConnection: one client of the chart server. It collects the request head,
// sends the one response and closes; the server frees it afterwards.

#include "chartservice/ChartService.h"
#include "net/WSocket.h"

#include <functional>
#include <memory>
#include <string>

class TChartConnection {
public:
    // A longer request head is answered with 400 without reading on.
    static constexpr std::size_t MaxHeadSize = 8192;

    // OnDone runs once the connection has closed; the server must not free the
    // connection inside it (a socket event is still on the stack).
    using TDoneEvent = std::function<void(TChartConnection* Sender)>;
    // Raised with the request line and the response once a request is answered.
    using TAnswerEvent =
        std::function<void(const std::string& RequestLine, const std::string& Response)>;

    // Adopts an accepted socket. Busy: answer 503 at once, whatever is asked.
    TChartConnection(const TChartService& Service, SOCKET Handle, DWORD Now, bool Busy,
                     TDoneEvent OnDone);
    ~TChartConnection();
    TChartConnection(const TChartConnection&) = delete;
    TChartConnection& operator=(const TChartConnection&) = delete;

    DWORD Started() const { return FStarted; }
    bool Answered() const { return FAnswered; }
    // Drops the connection at once (a client too slow to finish its request).
    void Abort();

    TAnswerEvent OnAnswer;

private:
    void DataAvailable();
    void DataSent();
    void SessionClosed();
    void Answer(const std::string& Response, const std::string& RequestLine = "");

    const TChartService& FService;
    std::unique_ptr<TWSocket> FSocket;
    std::string FHead;
    DWORD FStarted;
    bool FAnswered = false;
    bool FDone = false;
    TDoneEvent FOnDone;
};
