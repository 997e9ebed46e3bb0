// What the kernel did for the program, for a record kept outside it (a log, progress, the cause of
// a failure on standard error). The kernel reports; it never depends on anyone listening.
#pragma once

#include <cstdint>
#include <string_view>

namespace wce::kernel {

class Activity {
  public:
    virtual ~Activity() = default;
    // A file copy completed: the device path of the new file and its size in bytes.
    virtual void FileCopied(std::u16string_view /*from*/, std::u16string_view /*to*/,
                            std::uint64_t /*bytes*/) {}
    // A copy found the target already holding the source's bytes on the card (read back from
    // there) and kept it, with the source's attributes and time: as good as copied.
    virtual void FileKept(std::u16string_view from, std::u16string_view to, std::uint64_t bytes) {
        FileCopied(from, to, bytes);
    }
    // A folder was made at this device path.
    virtual void FolderCreated(std::u16string_view /*path*/) {}
    // A call the program relies on failed: what it was doing ("copy", "create folder", "list",
    // "flush", "read back", "claim"), the device path it failed on, and the host's errno.
    struct Failure {
        std::string_view action;
        std::u16string_view path;
        int err = 0;
        bool differs = false;  // read back other bytes than were written (err is EBADMSG)
    };
    virtual void Failed(const Failure& /*failure*/) {}
    // Something the person should know of a call that succeeded, as a sentence (a read-back that
    // could not get past the host's cache).
    virtual void Noticed(std::string_view /*sentence*/) {}
};

// The one listener, or none (nullptr). Not owned; it must outlive its registration.
void SetActivity(Activity* listener);
Activity* CurrentActivity();

// Tells the listener of a failure, if there is one.
void ReportFailure(const Activity::Failure& failure);
void ReportNotice(std::string_view sentence);

// Runs between the pieces of long work the program waits for inside one call (reading back what
// was written), so that the displays keep painting and input waits as during a copy.
void SetIdleHook(void (*hook)());
void Idle();

}  // namespace wce::kernel
