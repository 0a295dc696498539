#pragma once
// Puts a replacement into one of the process-wide service slots (`fm`,
// `launcher`, `desktop`) for the lifetime of the guard, so a test can answer
// in place of the system and the previous service returns afterwards.

#include <type_traits>

namespace kb {

template <class T>
class ScopedService {
public:
    // The slot alone decides T, so a derived replacement needs no spelled-out type.
    ScopedService(T*& slot, std::type_identity_t<T>& replacement) : slot_(slot), previous_(slot)
    {
        slot_ = &replacement;
    }
    ~ScopedService() { slot_ = previous_; }
    ScopedService(const ScopedService&) = delete;
    ScopedService& operator=(const ScopedService&) = delete;

private:
    T*& slot_;
    T* previous_;
};

}  // namespace kb
