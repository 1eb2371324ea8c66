#pragma once
// English text of a Winsock error code; the end of every socket error message.

#include <string>

std::string WSocketErrorText(int Code);
