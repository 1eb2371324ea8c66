#pragma once
// TCustomLineWSocket: optional line mode. Received bytes are collected until LineEnd
// and handed to the reader one complete line per OnDataAvailable, optionally echoed
// back and edited (backspace, tab) on the way.

#include "net/CustomSocksWSocket.h"

#include <string>
#include <vector>

// Posted to the socket's own window when held bytes wait for delivery under a new mode.
constexpr UINT WM_LINE_PENDING = WM_USER + 20;

class TCustomLineWSocket : public TCustomSocksWSocket {
public:
    // No line handed to the reader is longer: a longer one (or a peer that never sends
    // a line end) is handed over in pieces of this size, each after OnLineTooLong, so
    // the bytes held stay bounded and none is lost.
    static constexpr int MaxLineLength = 1 << 20;

    explicit TCustomLineWSocket(TComponent* AOwner);
    ~TCustomLineWSocket() override;

    // In line mode: the size of the line waiting to be taken.
    int RcvdCount() override;

    bool LineMode() const { return FLineMode; }
    virtual void SetLineMode(bool Value);
    const std::string& LineEnd() const { return FLineEnd; }
    void SetLineEnd(const std::string& Value) { FLineEnd = Value; }
    bool LineEcho() const { return FLineEcho; }
    void SetLineEcho(bool Value) { FLineEcho = Value; }
    bool LineEdit() const { return FLineEdit; }
    void SetLineEdit(bool Value) { FLineEdit = Value; }

protected:
    // Applies backspace and tab editing to the Len bytes just received.
    virtual void EditLine(int& Len);

    void HandleWindowMessage(TMessage& Msg) override;
    bool DoDataAvailable(WORD Error) override;
    void DoSessionClosed(WORD Error) override;
    int RawReceive(void* Buffer, int BufferSize, int Flags) override;
    int BufferedCount() override;

    // Hands held bytes to the reader under the current mode: the lines in line mode,
    // the bytes as they are otherwise. Stops when a pass takes nothing.
    void DeliverLines();
    // Bytes held and not yet taken by the reader.
    int HeldCount() const { return FRcvdCnt; }

private:
    bool PassesThrough() const;
    // Finds and offers the complete lines held, searching for a line end from
    // SearchFrom; with Flush, the unterminated rest goes out as a last line.
    void ScanLines(int SearchFrom, bool Flush);
    // Offers the line at the front to the handler until it is taken. False when a pass
    // took nothing: the line then stays held and offering stops.
    bool OfferLine();
    void DropHeld(int Count);
    void CompactHeld();
    void ReleaseHeld();
    void FireLineTooLong();
    char* Held() { return FRcvdPtr.data() + FRcvdHead; }

    // Held bytes are FRcvdPtr[FRcvdHead, FRcvdHead + FRcvdCnt); the reader consumes from
    // the head, so partial reads of a long line move nothing.
    std::vector<char> FRcvdPtr;
    int FRcvdHead = 0;
    int FRcvdCnt = 0;
    std::string FLineEnd = "\r\n";
    bool FLineMode = false;
    int FLineLength = 0;
    bool FLineEcho = false;
    bool FLineEdit = false;
    // Set while this layer fills its buffer, so the read goes to the layers below.
    bool FFilling = false;
};
