#include "net/CustomLineWSocket.h"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace {

constexpr char Backspace = 8;
constexpr char Tab = 9;
constexpr int TabWidth = 8;

// Sets a flag for the lifetime of a scope, also when an exception leaves it.
class TFlagScope {
public:
    explicit TFlagScope(bool& Flag) : FFlag(Flag) { FFlag = true; }
    ~TFlagScope() { FFlag = false; }
    TFlagScope(const TFlagScope&) = delete;
    TFlagScope& operator=(const TFlagScope&) = delete;

private:
    bool& FFlag;
};

} // namespace

TCustomLineWSocket::TCustomLineWSocket(TComponent* AOwner) : TCustomSocksWSocket(AOwner) {}

TCustomLineWSocket::~TCustomLineWSocket() {
    ReleaseHeld();
}

bool TCustomLineWSocket::PassesThrough() const {
    // The SOCKS replies belong to the negotiation, never to the reader's lines.
    return !FLineMode || FLineEnd.empty() || SocksState() != socksIdle;
}

void TCustomLineWSocket::SetLineMode(bool Value) {
    if (Value == FLineMode) return;
    FLineMode = Value;
    // The unread rest of a line is plain data from now on.
    if (!Value) FLineLength = 0;
    if (FRcvdCnt > 0) PostMessage(WindowHandle(), WM_LINE_PENDING, 0, 0);
}

int TCustomLineWSocket::BufferedCount() {
    // Held bytes a plain reader takes next; a partial line waits for its end instead.
    const int held = PassesThrough() && SocksState() == socksIdle ? FRcvdCnt : 0;
    return held + TCustomSocksWSocket::BufferedCount();
}

int TCustomLineWSocket::RcvdCount() {
    if (!PassesThrough()) return FLineLength;
    if (FRcvdCnt > 0 && SocksState() == socksIdle) return FRcvdCnt;
    return TCustomSocksWSocket::RcvdCount();
}

void TCustomLineWSocket::HandleWindowMessage(TMessage& Msg) {
    if (Msg.Msg != WM_LINE_PENDING) {
        TCustomSocksWSocket::HandleWindowMessage(Msg);
        return;
    }
    try {
        DeliverLines();
    } catch (Exception& E) {
        HandleBackgroundException(E);
    }
}

void TCustomLineWSocket::DeliverLines() {
    if (SocksState() != socksIdle) return;
    if (!PassesThrough()) {
        ScanLines(0, false);
        return;
    }
    // Each pass must take bytes; a reader that takes none ends the delivery.
    while (PassesThrough() && FRcvdCnt > 0) {
        const int before = FRcvdCnt;
        if (!DoDataAvailable(0) || FRcvdCnt == before) break;
    }
}

bool TCustomLineWSocket::DoDataAvailable(WORD Error) {
    if (PassesThrough()) return TCustomSocksWSocket::DoDataAvailable(Error);
    const int count = TCustomSocksWSocket::RcvdCount();
    if (count <= 0) return true;
    CompactHeld();
    if (static_cast<int>(FRcvdPtr.size()) < FRcvdCnt + count + 1)
        FRcvdPtr.resize(FRcvdCnt + count + 1);
    int len;
    {
        TFlagScope filling(FFilling);
        len = Receive(Held() + FRcvdCnt, count);
    }
    if (len <= 0) return true;
    if (FLineEdit)
        EditLine(len);
    else if (FLineEcho)
        Send(Held() + FRcvdCnt, len);
    // An echo that met a reset has closed the socket and released what was held.
    if (FRcvdPtr.empty()) return true;
    // A line end split across two receptions is still found; a line already offered
    // is not searched again.
    const int searchFrom = std::max({0, FLineLength, FRcvdCnt - static_cast<int>(FLineEnd.size())});
    FRcvdCnt += len;
    ScanLines(searchFrom, false);
    return true;
}

void TCustomLineWSocket::ScanLines(int SearchFrom, bool Flush) {
    while (!PassesThrough() && FRcvdCnt > 0) {
        if (FLineLength == 0) {
            const std::string_view held(Held(), FRcvdCnt);
            const size_t at = held.find(FLineEnd, SearchFrom);
            const int found =
                at == std::string_view::npos ? 0 : static_cast<int>(at + FLineEnd.size());
            if (found > MaxLineLength || (found == 0 && FRcvdCnt >= MaxLineLength)) {
                FireLineTooLong();
                FLineLength = MaxLineLength;
            } else if (found > 0) {
                FLineLength = found;
            } else if (Flush) {
                FLineLength = FRcvdCnt;
            } else {
                return;
            }
        }
        if (!OfferLine()) return;
        SearchFrom = 0;
    }
}

bool TCustomLineWSocket::OfferLine() {
    while (!PassesThrough() && FLineLength > 0) {
        const int before = FLineLength;
        if (!TCustomSocksWSocket::DoDataAvailable(0)) {
            // Nobody reads lines: this one is dropped.
            DropHeld(FLineLength);
            FLineLength = 0;
            return true;
        }
        if (FLineLength == before && !PassesThrough()) return false;
    }
    return true;
}

int TCustomLineWSocket::RawReceive(void* Buffer, int BufferSize, int Flags) {
    if (FFilling || SocksState() != socksIdle || BufferSize <= 0)
        return TCustomSocksWSocket::RawReceive(Buffer, BufferSize, Flags);
    int available = 0;
    if (!PassesThrough())
        available = FLineLength;
    else
        available = FRcvdCnt;
    if (available <= 0) return TCustomSocksWSocket::RawReceive(Buffer, BufferSize, Flags);
    const int n = std::min(BufferSize, available);
    std::memcpy(Buffer, Held(), n);
    if (!PassesThrough()) FLineLength -= n;
    DropHeld(n);
    return n;
}

void TCustomLineWSocket::DoSessionClosed(WORD Error) {
    if (FRcvdCnt > 0 && SocksState() == socksIdle) {
        // Whatever is held reaches the reader before it hears of the close: complete
        // lines first, then the unterminated rest as the last line.
        if (PassesThrough())
            DeliverLines();
        else
            ScanLines(0, true);
    }
    ReleaseHeld();
    TCustomSocksWSocket::DoSessionClosed(Error);
}

void TCustomLineWSocket::EditLine(int& Len) {
    // Positions count from the first held byte. A line already offered to the reader
    // is never erased.
    const int start = FRcvdCnt;
    const int floor = FLineLength;
    int d = start;
    int lowest = start;
    bool editing = false;
    std::string work;
    std::string echo;
    const auto startEditing = [&] {
        if (!editing) {
            editing = true;
            work.assign(Held(), d);
        }
    };
    for (int s = start; s < start + Len; ++s) {
        const char c = Held()[s];
        if (c == Backspace) {
            if (FLineEcho && d > floor) echo += "\b \b";
            startEditing();
            if (d > floor) {
                --d;
                lowest = std::min(lowest, d);
                work.resize(d);
            }
        } else if (c == Tab) {
            startEditing();
            do {
                work += ' ';
                if (FLineEcho) echo += ' ';
                ++d;
            } while (d % TabWidth != 0);
        } else {
            if (FLineEcho) echo += c;
            if (editing) work += c;
            ++d;
        }
    }
    if (!echo.empty()) Send(echo.data(), static_cast<int>(echo.size()));
    if (FRcvdPtr.empty()) return; // the echo closed the socket
    if (!editing) return;
    if (static_cast<int>(FRcvdPtr.size()) < FRcvdHead + d + 1) FRcvdPtr.resize(FRcvdHead + d + 1);
    std::memcpy(Held(), work.data(), d);
    FRcvdCnt = lowest;
    Len = d - lowest;
}

void TCustomLineWSocket::DropHeld(int Count) {
    FRcvdHead += Count;
    FRcvdCnt -= Count;
    if (FRcvdCnt <= 0) {
        FRcvdCnt = 0;
        FRcvdHead = 0;
    }
}

void TCustomLineWSocket::CompactHeld() {
    if (FRcvdHead == 0) return;
    std::memmove(FRcvdPtr.data(), Held(), FRcvdCnt);
    FRcvdHead = 0;
}

void TCustomLineWSocket::ReleaseHeld() {
    std::vector<char>().swap(FRcvdPtr);
    FRcvdHead = 0;
    FRcvdCnt = 0;
    FLineLength = 0;
}

void TCustomLineWSocket::FireLineTooLong() {
    if (OnLineTooLong) OnLineTooLong(this);
}
