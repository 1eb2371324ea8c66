#pragma once
// Records the events of a TWSocket as short texts in order, and what its reader took,
// so tests compare the whole sequence at once.

#include "net/WSocket.h"
#include "support/Pump.h"

#include <string>
#include <vector>

namespace vt::test {

struct TSocketLog {
    explicit TSocketLog(TWSocket& S) : Socket(S) {
        S.OnSocksConnected = [this](TObject*, WORD e) { Add("SocksConnected", e); };
        S.OnSocksAuthState = [this](TObject*, TSocksAuthState a) {
            static const char* names[] = {"Begin", "Succeeded", "Failed", "NotNeeded"};
            Events.push_back(std::string("AuthState ") + names[a]);
        };
        S.OnSocksError = [this](TObject*, int e, const std::string& msg) {
            Events.push_back("SocksError " + std::to_string(e) + " " + msg);
        };
        S.OnSessionConnected = [this](TObject*, WORD e) {
            Add("SessionConnected", e);
            ++Connected;
        };
        S.OnSessionClosed = [this](TObject*, WORD e) {
            Add("SessionClosed", e);
            ++Closed;
        };
        S.OnDataAvailable = [this](TObject*, WORD e) {
            // A drain right before the close may repeat the event; one entry is enough.
            if (Events.empty() || Events.back() != "DataAvailable " + std::to_string(e))
                Add("DataAvailable", e);
            char buf[4096];
            const int n = Socket.Receive(buf, sizeof buf);
            if (n > 0) Data.append(buf, static_cast<size_t>(n));
        };
    }

    void Add(const char* what, int error) {
        Events.push_back(std::string(what) + " " + std::to_string(error));
    }
    // The events recorded so far, up to and including the first DataAvailable.
    std::vector<std::string> UntilData() const {
        std::vector<std::string> out;
        for (const auto& e : Events) {
            out.push_back(e);
            if (e.rfind("DataAvailable", 0) == 0) break;
        }
        return out;
    }
    bool WaitClosed(int ms = 5000) {
        return PumpUntil([this] { return Closed > 0; }, ms);
    }
    bool WaitData(size_t bytes, int ms = 5000) {
        return PumpUntil([this, bytes] { return Data.size() >= bytes; }, ms);
    }

    TWSocket& Socket;
    std::vector<std::string> Events;
    std::string Data;
    int Connected = 0;
    int Closed = 0;
};

} // namespace vt::test
