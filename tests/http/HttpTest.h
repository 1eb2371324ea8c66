#pragma once
// Shared pieces of the client's wire tests: a client that records its events, and
// running a blocking Get under a watchdog.

#include "http/HttpCli.h"
#include "support/CannedServer.h"
#include "support/Peers.h"
#include "support/Pump.h"

#include <memory>
#include <string>
#include <vector>

namespace vt::test {

inline const std::string DefaultAccept =
    "Accept: image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, */*\r\n";
inline const std::string DefaultAgent = "User-Agent: Mozilla/3.0 (compatible)\r\n";

// A client whose events are written to Events as short words, in order.
struct TRecordingHttp {
    TRecordingHttp() : Cli(std::make_unique<THttpCli>(nullptr)) {
        THttpCli& c = *Cli;
        c.SetRcvdStream(&Body);
        c.OnStateChange = [this](TObject*) { Log("state" + std::to_string(Cli->State())); };
        c.OnSessionConnected = [this](TObject*) { Log("connected"); };
        c.OnRequestHeaderBegin = [this](TObject*) { Log("reqbegin"); };
        c.OnRequestHeaderEnd = [this](TObject*) { Log("reqend"); };
        c.OnCommand = [this](TObject*, std::string&) { Log("cmd"); };
        c.OnHeaderBegin = [this](TObject*) { Log("hdrbegin"); };
        c.OnHeaderData = [this](TObject*) { Log("hdr"); };
        c.OnHeaderEnd = [this](TObject*) { Log("hdrend"); };
        c.OnDocBegin = [this](TObject*) { Log("docbegin"); };
        c.OnDocData = [this](TObject*, const void* data, int len) {
            Log("data");
            Pieces.append(static_cast<const char*>(data), static_cast<size_t>(len));
        };
        c.OnDocEnd = [this](TObject*) { Log("docend"); };
        c.OnLocationChange = [this](TObject*) {
            Log("location");
            ++Relocations;
        };
        c.OnRequestDone = [this](TObject*, THttpRequest rq, WORD error) {
            Log("done");
            ++DoneCount;
            DoneType = rq;
            DoneError = error;
        };
    }

    void Log(const std::string& what) {
        if (Recording) Events.push_back(what);
    }

    // Runs Get; returns the exception's text and code, or "" and 0 without one.
    std::pair<std::string, int> Get(const std::string& url) {
        Cli->SetURL(url);
        try {
            Cli->Get();
        } catch (EHttpException& e) {
            return {e.Message(), e.ErrorCode()};
        }
        return {"", 0};
    }

    // Waits for the (posted) OnRequestDone of the request that just ended.
    bool WaitDone(int count = 1) {
        return PumpUntil([&] { return DoneCount >= count; }, 5000);
    }

    std::string BodyText() {
        return std::string(static_cast<const char*>(Body.Memory()),
                           static_cast<size_t>(Body.Size()));
    }

    std::unique_ptr<THttpCli> Cli;
    TMemoryStream Body;
    std::string Pieces;
    std::vector<std::string> Events;
    bool Recording = true;
    int Relocations = 0;
    int DoneCount = 0;
    THttpRequest DoneType = rqNone;
    WORD DoneError = 0xFFFF;
};

inline std::string Url(const TCannedServer& server, const std::string& path) {
    return "http://127.0.0.1:" + server.Port() + path;
}

} // namespace vt::test
