// The one owner of what the kernel learnt of the host: each module keeps its part (Learnt<T>) in
// source, and Forget drops all (new mapping, faked host).
#pragma once

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

    // Forgets every part; the mapping itself stays.
    void Forget() {
        for (Part* p : parts_) p->Forget();
    }

  private:
    std::vector<Part*> parts_;
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
