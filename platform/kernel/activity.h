// What the kernel did, told to a listener for a log, progress or stderr; it never relies on one.
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
    // FileKept: a target read back from the card already held the source's bytes, so it was kept.
    virtual void FileKept(std::u16string_view from, std::u16string_view to, std::uint64_t bytes) {
        FileCopied(from, to, bytes);
    }
    // A folder was made at this device path.
    virtual void FolderCreated(std::u16string_view /*path*/) {}
    // Failure: a call the program relies on failed; its action ("copy", "flush", ...), path, errno.
    struct Failure {
        std::string_view action;
        std::u16string_view path;
        int err = 0;
        bool differs = false;  // read back other bytes than were written (err is EBADMSG)
    };
    virtual void Failed(const Failure& /*failure*/) {}
    // Noticed: a sentence on a call that succeeded (a read-back that could not pass host caches).
    virtual void Noticed(std::string_view /*sentence*/) {}
};

// The one listener, or none (nullptr). Not owned; it must outlive its registration.
void SetActivity(Activity* listener);
extern Activity* g_activity;

// Tells the listener of a failure, if there is one.
void ReportFailure(const Activity::Failure& failure);
void ReportNotice(std::string_view sentence);

// SetIdleHook: g_idle, where set, runs between pieces of long work in one call so displays keep
// painting.
void SetIdleHook(void (*hook)());
extern void (*g_idle)();

}  // namespace wce::kernel
