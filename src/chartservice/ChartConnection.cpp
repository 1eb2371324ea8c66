#include "chartservice/ChartConnection.h"

namespace {

// The end of the request head (after its blank line), or npos while it is incomplete.
std::size_t HeadEnd(const std::string& head) {
    const std::size_t crlf = head.find("\r\n\r\n");
    const std::size_t lf = head.find("\n\n");
    if (crlf != std::string::npos && (lf == std::string::npos || crlf + 2 <= lf)) return crlf + 4;
    return lf == std::string::npos ? lf : lf + 2;
}

} // namespace

TChartConnection::TChartConnection(const TChartService& Service, SOCKET Handle, DWORD Now,
                                   bool Busy, TDoneEvent OnDone)
    : FService(Service), FSocket(std::make_unique<TWSocket>(nullptr)), FStarted(Now),
      FOnDone(std::move(OnDone)) {
    FSocket->OnDataAvailable = [this](TObject*, WORD) { DataAvailable(); };
    FSocket->OnDataSent = [this](TObject*, WORD) { DataSent(); };
    FSocket->OnSessionClosed = [this](TObject*, WORD) { SessionClosed(); };
    // Failures of this one client end it quietly instead of raising into the loop.
    FSocket->OnError = [this](TObject*) { FSocket->CloseLater(); };
    FSocket->Dup(Handle);
    if (Busy)
        Answer(FormatReply(
            ErrorReply(503, "Service Unavailable", "Too many clients; try again shortly."), false));
}

TChartConnection::~TChartConnection() {
    FSocket->OnSessionClosed = nullptr;
}

void TChartConnection::Abort() {
    FSocket->Abort();
    SessionClosed();
}

void TChartConnection::DataAvailable() {
    char buffer[4096];
    for (;;) {
        const int n = FSocket->Receive(buffer, sizeof(buffer));
        if (n <= 0) return;
        if (FAnswered) continue; // whatever follows the request is not looked at
        FHead.append(buffer, static_cast<std::size_t>(n));
        const std::size_t end = HeadEnd(FHead);
        if (end != std::string::npos && end <= MaxHeadSize) {
            FHead.resize(end);
            const std::string line = FHead.substr(0, FHead.find_first_of("\r\n"));
            Answer(FService.Respond(FHead), line);
        } else if (FHead.size() >= MaxHeadSize) {
            Answer(FormatReply(ErrorReply(400, "Bad Request", "The request header is too large."),
                               false));
        }
    }
}

void TChartConnection::Answer(const std::string& Response, const std::string& RequestLine) {
    FAnswered = true;
    FHead.clear();
    FHead.shrink_to_fit();
    FSocket->SendString(Response);
    if (OnAnswer) OnAnswer(RequestLine, Response);
}

void TChartConnection::DataSent() {
    // The socket reports it can send as soon as it is adopted: only the end of the
    // response closes it.
    if (FAnswered) FSocket->CloseLater();
}

void TChartConnection::SessionClosed() {
    if (FDone) return;
    FDone = true;
    if (FOnDone) FOnDone(this);
}
