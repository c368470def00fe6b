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

// A failure whose text names what only the failing call knows (a device in
// use names the program that holds it): a code of the engine's own range
// 0x8004FD00..0x8004FDFF whose ErrorText is `text` (cut to 255 bytes at a
// character boundary), so every layer that reports the code reports the
// text. One text always gets the same code; when all 256 are given, the
// code of the text given longest ago is taken for the new one. Thread-safe.
HRESULT ErrorWithText(std::string text);

// Whether ErrorWithText gave `hr` its text: that text is the whole report,
// and the number, which holds only in this process, adds nothing to it.
bool HasGivenText(HRESULT hr);

}  // namespace ronvix::com
