#pragma once
// The socket layer's exception: a message only.

#include "platform/runtime/Exceptions.h"

VT_DECLARE_EXCEPTION(ESocketException, Exception);
