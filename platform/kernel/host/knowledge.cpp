#include "platform/kernel/host/knowledge.h"

namespace wce::kernel {

// Never destroyed: static objects may still ask it while the process exits.
Knowledge& Known() {
    static Knowledge* k = new Knowledge;
    return *k;
}

void Knowledge::Forget() {
    NoteChange();
    filesystems.traits.clear();
    filesystems.refused.clear();
    filesystems.noXattrAt.store(false, std::memory_order_relaxed);
    folders.ForgetResolved();
    folders.folded.clear();
    attributes.byInode.clear();
    recent = RecentEntry{};
    swept.clear();
    written.clear();
    writeback.clear();
}

}  // namespace wce::kernel
