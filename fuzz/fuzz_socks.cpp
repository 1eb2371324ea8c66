// libFuzzer target: SOCKS 4, 4A and 5 negotiation and line mode against a proxy played
// from the input by the scripted socket library, with readers that take everything,
// one byte at a time, nothing, or close from inside the handler.
//
// Input: a flags byte (level, authentication, line mode, echo, editing, reader), then
// the proxy's script (ScriptControl.h). The connection must end with one close report,
// and no reader may ever get more bytes than the peer sent.

#include "FuzzSupport.h"
#include "net/WSocket.h"
#include "platform/messages/Application.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace {

enum TReader { rdWhole, rdOneByte, rdNothing, rdCloseInside };

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
    if (Size < 1) return 0;
    const std::uint8_t flags = Data[0];
    auto& script = vt::fuzz::ScriptLibrary();
    script.Play(Data + 1, static_cast<int>(Size - 1));
    {
        TWSocket s(nullptr);
        int closed = 0;
        std::int64_t taken = 0;
        const auto reader = static_cast<TReader>((flags >> 6) & 3);
        s.OnSessionClosed = [&](TObject*, WORD) { FUZZ_CHECK(++closed == 1); };
        s.OnDataAvailable = [&](TObject*, WORD) {
            char buf[4096];
            int n = 0;
            switch (reader) {
            case rdWhole:
                n = s.Receive(buf, sizeof buf);
                break;
            case rdOneByte:
                n = s.Receive(buf, 1);
                break;
            case rdNothing:
                return;
            case rdCloseInside:
                n = s.Receive(buf, sizeof buf);
                s.Close();
                break;
            }
            if (n > 0) taken += n;
        };
        static const char* const levels[] = {"4", "4A", "5", "5"};
        s.SetSocksServer("127.0.0.1");
        s.SetSocksPort("1080");
        s.SetSocksLevel(levels[flags & 3]);
        if (flags & 4) {
            s.SetSocksUsercode("user");
            s.SetSocksPassword("secret");
            s.SetSocksAuthentication(socksAuthenticateUsercode);
        }
        s.SetLineMode((flags & 8) != 0);
        s.SetLineEcho((flags & 16) != 0);
        s.SetLineEdit((flags & 32) != 0);
        s.SetAddr((flags & 1) ? "dest.test" : "10.1.2.3");
        s.SetPort("80");
        try {
            s.Connect();
        } catch (const Exception&) {
        }
        // Until the connection ends; a reader that takes nothing holds it open, so the
        // program gives up and closes when nothing moves any more.
        while (closed == 0 && vt::fuzz::DispatchQueued(1000)) {
        }
        if (closed == 0 && s.State() != wsClosed) s.Close();
        vt::fuzz::DispatchQueued(100000);
        FUZZ_CHECK(s.State() == wsClosed);
        FUZZ_CHECK(closed <= 1);
        // Nothing is handed on that the peer did not send (a tab edited into a line
        // becomes at most eight blanks).
        FUZZ_CHECK(taken <= static_cast<std::int64_t>(Size) * 8);
    }
    script.Play(nullptr, 0);
    vt::fuzz::DispatchQueued(100000);
    return 0;
}
