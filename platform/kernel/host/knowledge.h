// The one owner of what the kernel learnt of the host: each module keeps its part (NewPart<T>) in
// source, and Forget drops all (new mapping, faked host).
#pragma once

#include <utility>
#include <vector>

namespace wce::kernel {

class Knowledge {
  public:
    using Reset = void (*)(void* part);
    // Keeps part, which reset sets back to nothing learnt; gives part back.
    void* Keep(void* part, Reset reset) {
        parts_.emplace_back(part, reset);
        return part;
    }

    // Forgets every part; the mapping itself stays.
    void Forget() {
        for (const auto& [part, reset] : parts_) reset(part);
    }

  private:
    std::vector<std::pair<void*, Reset>> parts_;
};

Knowledge& Known();

template <class T>
void ResetPart(void* part) {
    *static_cast<T*>(part) = T{};
}

// NewPart<T>: a part, made as its module's statics are and held there by reference; reset by
// Forget, never destroyed: exiting statics may still ask.
template <class T>
T& NewPart() {
    return *static_cast<T*>(Known().Keep(new T, &ResetPart<T>));
}

}  // namespace wce::kernel
