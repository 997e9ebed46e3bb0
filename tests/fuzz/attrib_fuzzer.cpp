// Fuzzes the attribute readers with extended attribute values as a medium may hold them. Every
// input goes to both readers: the filesystem, not the bytes, decides which one reads a value.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "platform/kernel/services/attributes.h"

namespace attrs = wce::kernel::attrs;

namespace {

void Check(bool ok) {
    if (!ok) std::abort();
}

int HexDigit(uint8_t c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The text form as it is written: "0x", hex digits of a 32-bit word (leading zeros any number),
// then the value's end or a NUL (after which a file server's record may follow, and must not
// matter).
bool PlainHex(const uint8_t* data, size_t size, DWORD& value) {
    if (size < 3 || data[0] != '0' || (data[1] != 'x' && data[1] != 'X')) return false;
    uint64_t word = 0;
    size_t i = 2;
    for (; i < size && HexDigit(data[i]) >= 0 && word <= 0xFFFFFFFFu; ++i)
        word = word << 4 | static_cast<uint64_t>(HexDigit(data[i]));
    value = static_cast<DWORD>(word);
    return i > 2 && word <= 0xFFFFFFFFu && (i == size || data[i] == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // An exact-size heap copy, never null, so that any read past the value's end is caught.
    const std::unique_ptr<char[]> value(new char[size]);
    if (size != 0) std::memcpy(value.get(), data, size);

    const DWORD dos = attrs::ParseDosAttrib(value.get(), size);
    DWORD expected = 0;
    if (PlainHex(data, size, expected)) Check(dos == expected);

    const long ntfs =
        attrs::ParseNtfsAttrib(reinterpret_cast<const unsigned char*>(value.get()), size);
    if (size != 4)
        Check(ntfs == -1);
    else  // most significant byte first: the settable bits are all in the last byte
        Check(ntfs == static_cast<long>(data[3] & attrs::kSettable));
    return 0;
}
