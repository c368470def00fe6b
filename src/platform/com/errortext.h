#pragma once
// English texts for the result codes the engine produces.

#include <string>

#include "platform/com/hresult.h"

namespace ronvix::com {

// Copies the text for `hr` into `buffer`, at most `max_len` - 1 characters
// and a terminating zero, and returns the number of characters copied (0
// when `buffer` is null or `max_len` is 0). Every code has a text: codes
// without their own text get a generic one naming their kind.
DWORD AMGetErrorTextA(HRESULT hr, char* buffer, DWORD max_len);

// The same text as a string.
std::string ErrorText(HRESULT hr);

}  // namespace ronvix::com
