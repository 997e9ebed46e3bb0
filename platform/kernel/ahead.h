// Entries of a large folder described ahead of its enumeration by a second thread. On a host
// where every system call costs microseconds, an enumeration that reads each entry's status and
// attributes, followed by a caller that reads them again by path, would make one thread pay for
// both; here the second thread reads the enumeration's share while the caller goes on. The
// enumeration takes entries in order from the front, the helper from the back, and each reads
// what the other has not reached. When the helper has caught up, it opens and lists the next
// folder a depth-first walk will enter, so that folder is ready when the walk gets there.
#pragma once

#include <sys/stat.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/kernel/filesystems.h"
#include "platform/kernel/host_ops.h"
#include "platform/kernel/namespace.h"

namespace wce::kernel::ahead {

// What the two reads of one entry gave.
struct Described {
    struct stat st {};
    Status found;               // the status read; nothing else is valid when it failed
    bool bitsRead = false;      // bits holds what attrs::XattrBits gave
    Result<DWORD> bits{DWORD{0}};
    bool link = false;  // a symbolic link: its attributes are its target's, read by the caller
    int64_t at = 0;     // fsinfo::Now() before the reads
};

class Batch {
public:
    // A batch for the entries of listing, read relative to the open folder dirfd (at dirHost);
    // nullptr when the folder is too small to gain from it, the machine has one processor, or
    // the host calls are replaced or set to fail (tests), which must stay on the calling thread.
    // With open, it belongs to an enumeration the walk holds and is queued for the helper at once.
    static std::unique_ptr<Batch> Start(int dirfd, const std::string& dirHost,
                                        std::shared_ptr<const ns::DirListing> listing,
                                        bool open = true);
    // A prepared folder's batch becomes the walk's own: folders below it get prepared too.
    void Adopt();
    // Cancels what the helper has not done and waits until it has left the batch.
    ~Batch();
    Batch(const Batch&) = delete;
    Batch& operator=(const Batch&) = delete;

    // Entry k of the listing, described by the helper or, when it has not got there, here.
    const Described& Take(size_t k);

    // The helper's side: describes entries not yet taken until it meets the caller, the batch is
    // cancelled (true) or a batch newer than the count since arrives (false: to be resumed).
    bool Run(unsigned since);
    // The helper's side: the first folder entry after the caller's position not yet prepared.
    bool NextFolder(size_t& k);

    // Set (by the destructor) before the owner waits in Remove; read under the helper's lock.
    bool Cancelled() const { return cancelled_.load(std::memory_order_acquire); }
    const std::string& DirHost() const { return dirHost_; }
    int DirFd() const { return dirfd_; }
    const ns::DirListing& Listing() const { return *listing_; }

private:
    struct Slot {
        std::atomic<unsigned char> state{0};  // 0 free, 1 being read, 2 done, 3 read and waited for
        Described d;
    };
    Batch(int dirfd, const std::string& dirHost, std::shared_ptr<const ns::DirListing> listing);
    void Describe(size_t k, bool readBits);

    int dirfd_;
    std::string dirHost_;
    std::shared_ptr<const ns::DirListing> listing_;
    std::unique_ptr<Slot[]> slots_;
    std::atomic<bool> cancelled_{false};
    std::atomic<size_t> taken_{0};  // one past the last entry the caller took
    std::atomic<bool> ran_{false};  // the helper is done with the batch (Sharing::Ahead waits)
    size_t next_;                   // the helper's cursor, moving down
    size_t prepared_ = 0;           // the helper's cursor of folders prepared, moving up
};

// A folder the helper opened and listed before the walk asked for it; its batch may still be
// running.
struct Prepared {
    std::string dirHost;
    host::Fd dir;
    fsinfo::Stamp stamp;  // the folder's stamps before it was listed
    std::shared_ptr<ns::DirListing> listing;
    std::unique_ptr<Batch> batch;  // declared last: ended before dir is closed
};

// The folder at dirHost when the helper has prepared it and it has not changed since (one status
// read); nullptr otherwise. Any other prepared folder is let go: the walk went elsewhere.
std::unique_ptr<Prepared> TakePrepared(const std::string& dirHost);

}  // namespace wce::kernel::ahead
