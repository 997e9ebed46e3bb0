// Text of the device written where the host shows it (standard output and error).
#pragma once

#include <string>
#include <string_view>

namespace wce::user {

// UTF-8 with control characters spelt out (\n, \r, \t, else \xHH for U+00HH), so a name from a
// file can neither break a line a script reads nor act on the terminal; an unpaired surrogate
// becomes U+FFFD. Each character of alsoEscaped gets a backslash before it (quotes, and the
// backslash itself where the text must read back exactly).
std::string Escaped(std::u16string_view text, std::string_view alsoEscaped = {});

}  // namespace wce::user
