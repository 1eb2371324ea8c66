#include "net/WSocket.h"

TWSocket::TWSocket(TComponent* AOwner) : TCustomSyncWSocket(AOwner) {}
