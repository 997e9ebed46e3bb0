// Entries of a large folder described ahead of its enumeration by a second thread. On a host
// where every system call costs microseconds, an enumeration that reads each entry's status and
// attributes, followed by a caller that reads them again by path, would make one thread pay for
// both; here the second thread reads the enumeration's share while the caller goes on. The
// enumeration takes entries in order: one the helper has not reached yet is read on the spot.
#pragma once

#include <sys/stat.h>

#include <atomic>
#include <cstddef>
#include <memory>
#include <string>

#include "platform/kernel/namespace.h"

namespace wce::kernel::ahead {

// What the two reads of one entry gave.
struct Described {
    struct stat st {};
    int statErr = 0;    // errno of a failed status read; nothing else is valid then
    long bits = 0;      // DOSATTRIB bits (attrs::XattrBits), -1 when that read failed, or
                        // attrs::kNotRead
    int bitsErr = 0;    // errno of that failed read
    bool link = false;  // a symbolic link: its attributes are its target's, read by the caller
};

class Batch {
public:
    // A batch for the entries of listing, read relative to the open folder dirfd (at dirHost);
    // nullptr when the folder is too small to gain from it, the machine has one processor, or
    // the host calls are replaced or set to fail (tests), which must stay on the calling thread.
    static std::unique_ptr<Batch> Start(int dirfd, const std::string& dirHost,
                                        std::shared_ptr<const ns::DirListing> listing);
    // Cancels what the helper has not done and waits until it has left the batch.
    ~Batch();
    Batch(const Batch&) = delete;
    Batch& operator=(const Batch&) = delete;

    // Entry k of the listing, described by the helper or, when it has not got there, here.
    const Described& Take(size_t k);

    // The helper's side: describes entries not yet taken until it meets the caller, the batch is
    // cancelled (true) or a batch newer than the count since arrives (false: to be resumed).
    bool Run(unsigned since);

private:
    struct Slot {
        std::atomic<unsigned char> state{0};  // 0 free, 1 being read, 2 done
        Described d;
    };
    Batch(int dirfd, const std::string& dirHost, std::shared_ptr<const ns::DirListing> listing);
    void Describe(size_t k, bool readBits);

    int dirfd_;
    std::string dirHost_;
    std::shared_ptr<const ns::DirListing> listing_;
    std::unique_ptr<Slot[]> slots_;
    std::atomic<bool> cancelled_{false};
};

}  // namespace wce::kernel::ahead
