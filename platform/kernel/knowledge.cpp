#include "platform/kernel/knowledge.h"

#include "platform/kernel/ahead.h"

namespace wce::kernel {

// Never destroyed: the helper threads may still read it while the process exits.
Knowledge& Known() {
    static Knowledge* k = new Knowledge;
    return *k;
}

void Knowledge::Forget() {
    NoteChange();
    {
        std::lock_guard hold(filesystems.lock);
        filesystems.traits.clear();
        filesystems.refused.clear();
        filesystems.generation.fetch_add(1, std::memory_order_release);
    }
    filesystems.noXattrAt.store(false, std::memory_order_relaxed);
    folders.ForgetResolved();
    folders.folded.clear();
    {
        std::lock_guard hold(attributes.lock);
        attributes.byInode.clear();
    }
    recent = RecentEntry{};
    swept.clear();
    written.clear();
    TakePrepared().reset();
}

void Knowledge::Keep(std::unique_ptr<ahead::Prepared> p) {
    std::lock_guard hold(prepared.lock);
    prepared.folder = std::move(p);
    prepared.held.store(prepared.folder != nullptr, std::memory_order_release);
}

std::unique_ptr<ahead::Prepared> Knowledge::TakePrepared() {
    std::unique_ptr<ahead::Prepared> p;
    std::lock_guard hold(prepared.lock);
    p = std::move(prepared.folder);
    prepared.held.store(false, std::memory_order_release);
    return p;
}

}  // namespace wce::kernel
