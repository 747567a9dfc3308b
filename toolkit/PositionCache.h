#pragma once
// Sampling positions of one axis mapping (a function of the element index
// for a size n and a bin width h), computed once per size by the caller's own
// expression and then shared by every caller: mappings such as the Mel axis
// would otherwise take a log10 or a pow per element and frame. Keeps up to
// kSlots sizes of up to kCapacity elements in fixed storage, first come
// first kept. A slot is claimed by one caller, filled, then published.
// [any thread] lock-free, never allocates, never waits.
#include <atomic>
#include <cstdint>
#include <cstring>

class PositionCache {
public:
    static constexpr int kSlots = 4;
    static constexpr int kCapacity = 2048;

    // The n values position(0) .. position(n - 1) for (n, h), filled by this
    // call when the size is new and a slot is free; null when n is outside
    // 1 .. kCapacity, every slot holds another size, or the slot of this size
    // is still being filled by another caller. The caller then computes the
    // positions itself. position must depend on i, n and h only, always giving
    // the same values for them. The positions stay valid for the cache's
    // life.
    template <typename Position> const double* Find(int n, double h, const Position& position) {
        if (n < 1 || n > kCapacity) return nullptr;
        uint64_t bits;
        std::memcpy(&bits, &h, sizeof bits);
        for (Slot& slot : mSlots) {
            const int state = slot.state.load(std::memory_order_acquire);
            if (state == kEmpty) {
                int expected = kEmpty;
                if (!slot.state.compare_exchange_strong(expected, kFilling,
                                                        std::memory_order_acq_rel))
                    return nullptr; // claimed by another caller just now: do without once
                slot.n.store(n, std::memory_order_relaxed);
                slot.h.store(bits, std::memory_order_relaxed);
                for (int i = 0; i < n; ++i) slot.positions[i] = position(i);
                slot.state.store(kReady, std::memory_order_release);
                return slot.positions;
            }
            // A slot being filled may not show its size yet; it is then
            // passed over like any other size.
            if (slot.n.load(std::memory_order_relaxed) == n &&
                slot.h.load(std::memory_order_relaxed) == bits)
                return state == kReady ? slot.positions : nullptr;
        }
        return nullptr;
    }

private:
    enum { kEmpty, kFilling, kReady };
    struct Slot {
        std::atomic<int> state{kEmpty};
        std::atomic<int> n{0};
        std::atomic<uint64_t> h{0};
        double positions[kCapacity] = {};
    };
    Slot mSlots[kSlots];
};
