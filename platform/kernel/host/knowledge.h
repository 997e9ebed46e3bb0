// The one owner of what the kernel learnt of the host: each module keeps its part (Learnt<T>) in
// source; every change moves the generation, and Forget drops all (new mapping, faked host).
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/kernel/host/filesystems.h"

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

// One answer kept for the device path last asked of, given again within a tick while this process
// changes nothing (fsinfo::Fresh): a walk asks of one entry several times in a row.
template <class T>
struct LastAnswer {
    std::u16string path;
    T value{};
    fsinfo::View seen;
    unsigned generation = 0;

    bool Answers(std::u16string_view asked) const {
        return path == asked && generation == Known().Generation() &&
               fsinfo::Fresh(seen, fsinfo::Tick());
    }
    // Keeps v as the answer for the path head + tail, as the host showed it at time at.
    void Keep(std::u16string_view head, std::u16string_view tail, T v, int64_t at) {
        path.assign(head).append(tail);
        value = std::move(v);
        seen.at = at;
        generation = Known().Generation();
    }
};

}  // namespace wce::kernel
