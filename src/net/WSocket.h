#pragma once
// TWSocket: the published socket component. It adds no behaviour to the chain
// TCustomWSocket -> TCustomSocksWSocket -> TCustomLineWSocket -> TCustomSyncWSocket.

#include "net/CustomSyncWSocket.h"

class TWSocket : public TCustomSyncWSocket {
public:
    explicit TWSocket(TComponent* AOwner);
};
