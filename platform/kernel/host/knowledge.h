// The one owner of what the kernel has learnt of the host. Each module keeps its own part
// (Learnt<T>, private to the module's source file) and answers questions of it through its own
// header; the owner holds the generation every change of this process moves, and forgets every
// part at once (Forget: a new mapping, or a test that fakes the host).
#pragma once

#include <atomic>
#include <vector>

namespace wce::kernel {

class Knowledge {
  public:
    struct Part {
        virtual void Forget() = 0;

      protected:
        ~Part() = default;
    };
    void Keep(Part* part) { parts_.push_back(part); }

    // What was read before a change of this process may be out of date after it.
    void NoteChange() { generation_.fetch_add(1, std::memory_order_relaxed); }
    unsigned Generation() const { return generation_.load(std::memory_order_relaxed); }

    // Forgets every part; the mapping itself stays.
    void Forget() {
        NoteChange();
        for (Part* p : parts_) p->Forget();
    }

  private:
    std::vector<Part*> parts_;
    std::atomic<unsigned> generation_{0};
};

Knowledge& Known();

// The part of type T: made and kept by the owner on first use, reset to T{} by Forget. Never
// destroyed: static objects may still ask it while the process exits.
template <class T>
T& Learnt() {
    struct Held final : Knowledge::Part {
        T state;
        void Forget() override { state = T{}; }
    };
    static Held* held = [] {
        auto* h = new Held;
        Known().Keep(h);
        return h;
    }();
    return held->state;
}

}  // namespace wce::kernel
