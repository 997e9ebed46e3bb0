// Fuzzes the catalogue's window scanning with arbitrary file contents, lengths that disagree
// with the data, and reads that deliver less than asked.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "catalogue/catalogue_scan.h"

namespace {

void Check(bool ok) {
    if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    // Byte 0: how much longer the file claims to be; byte 1: how short reads fall.
    const LONG slack = data[0] % 8;
    const UINT shortBy = data[1] % 4;
    const uint8_t* file = data + 2;
    const LONG fileSize = static_cast<LONG>(std::min<size_t>(size - 2, 1 << 20));

    int packages = 0;
    catalogue::ScanCatalogue(
        fileSize + slack,
        [&](LONG offset, BYTE* buffer, UINT count) -> UINT {
            Check(offset >= 0 && count > 0 && count <= catalogue::kWindowBytes);
            if (offset >= fileSize) return 0;
            UINT got = std::min<UINT>(count, static_cast<UINT>(fileSize - offset));
            if (shortBy != 0 && got > shortBy) got -= shortBy;
            std::memcpy(buffer, file + offset, got);
            return got;
        },
        [&](std::u16string_view key, std::u16string_view name) {
            // Key, "=" and name come from one line of at most 259 bytes, NUL-free.
            Check(key.size() + 1 + name.size() < catalogue::kWindowBytes);
            Check(key.find(u'\0') == key.npos && name.find(u'\0') == name.npos);
            Check(catalogue::FittedNameLength(name, 31) <= 31);
            Check(catalogue::KeyProblem(key) == nullptr);
            return ++packages < 1000;
        });
    return 0;
}
