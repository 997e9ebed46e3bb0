// The one owner of what the kernel learnt of the host: each module keeps its part (Learnt<T>) in
// source; every change moves the generation, and Forget drops all (new mapping, faked host).
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

// Learnt<T>: made on first use, reset by Forget, never destroyed: exiting statics may still ask.
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
