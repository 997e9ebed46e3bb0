// Inner results: a Status, ok or the one error type: errno, its Kind, the host call that failed
// and, once known, the entry point's op and the device path. Device codes are made only where
// Win32-shaped calls return (errors.h).
#pragma once

#include <cerrno>
#include <string>
#include <string_view>
#include <utility>

namespace wce::kernel {

enum class Kind : unsigned char {
    Entry,     // a host call on the entry itself failed with err
    Folder,    // a host call on a folder on the way to it failed (a missing one: path not found)
    Stale,     // a remembered folder is gone or replaced: look again without what is remembered
    BadName,   // a name the host cannot spell (err ENAMETOOLONG: one too long)
    Taken,     // an exclusive create found the name taken
    SameFile,  // a copy onto its own source
    Differs,   // read back other bytes than were written (err EBADMSG)
};

// Plain data, copied as it is: Error{ENOENT}, Error{ENOTDIR, Kind::Folder}.
struct Error {
    int err = 0;
    Kind kind = Kind::Entry;
    const char* call = nullptr;  // the host call that failed ("renameat2"), where one did
    const char* op = nullptr;    // "copy", "read back", ...: what the entry point was doing
    // The device path it failed on: the caller's, or the batch's, alive until it is reported.
    std::u16string_view path;

    // This failure as met doing op on path, unless an inner call already said where it was.
    Error At(const char* what, std::u16string_view where) const {
        Error e = *this;
        if (e.op == nullptr) e.op = what;
        if (e.path.empty()) e.path = where;
        return e;
    }
};

// The failure of the host call just made, named, its errno read at once: the one place errno is
// read, right where the call failed.
inline Error HostError(const char* call, Kind kind = Kind::Entry) {
    Error e{errno, kind};
    e.call = call;
    return e;
}

class [[nodiscard]] Status {
  public:
    Status() = default;
    Status(Error e) : error_(e), ok_(false) {}  // NOLINT: a failure converts implicitly
    bool ok() const { return ok_; }
    explicit operator bool() const { return ok_; }
    const Error& error() const { return error_; }
    bool Is(Kind k) const { return !ok_ && error_.kind == k; }
    bool Is(int err) const { return !ok_ && error_.err == err; }
    Status At(const char* what, std::u16string_view where) const {
        return ok_ ? *this : Status(error_.At(what, where));
    }

  private:
    Error error_{};
    bool ok_ = true;
};

// The status of a host call that returns 0, or -1 with errno.
inline Status HostStatus(int r, const char* call) {
    return r == 0 ? Status() : Status(HostError(call));
}

}  // namespace wce::kernel
