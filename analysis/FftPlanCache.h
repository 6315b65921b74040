#pragma once

#include <fftw3.h>

#include <mutex>

// Real-to-complex FFTW plans, shared by every thread. FFTW's planner is not
// thread-safe, so planning (and destroying) happens under one mutex; executing
// a plan on new arrays is thread-safe, so a leased plan runs without the lock.
//
// The cache holds a fixed number of plans and evicts the least recently used
// one that no lease is holding; it allocates nothing for its own bookkeeping.
// When every slot is leased, the caller gets a plan of its own that dies with
// the lease.
//
// Plans are made in place for buffers from FFTW's allocator (SampleBuffer):
// half the memory traffic of separate input and output blocks, which is what
// limits transforms of a million points. Only the forward direction is kept:
// the inverse the analysis needs is that of a real, even spectrum, which the
// forward transform computes as well (and, planned by estimate, faster than
// FFTW's complex-to-real plan of the same size).
//
// Plans are made by estimate: measuring would take seconds for a long block of
// a new length, in the middle of a measurement. Estimated plans are good for
// some sizes and poor for others, though (a million points of 2^19 * 3 run a
// third slower than 2^8 * 5^5, although that is larger), so where the caller
// only needs "at least n" points, a few sizes just above n are tried once and
// the fastest kept.
class FftPlanCache
{
public:
    class Lease
    {
    public:
        Lease() = default;
        ~Lease();
        Lease(const Lease &) = delete;
        Lease &operator=(const Lease &) = delete;
        Lease(Lease &&other) noexcept;
        Lease &operator=(Lease &&other) noexcept;

        bool isValid() const { return m_plan != nullptr; }
        int size() const { return m_size; }
        // In place on a SampleBuffer of bufferFloats(size()) floats: size reals
        // in, size / 2 + 1 interleaved complex values out, unnormalised.
        void forward(float *data) const;

    private:
        friend class FftPlanCache;
        void release();

        FftPlanCache *m_cache = nullptr;
        int m_slot = -1; // -1: the plan belongs to the lease
        int m_size = 0;
        fftwf_plan m_plan = nullptr;
    };

    static constexpr int kSlots = 8;
    // Requests below this size get fastSize() without trying others: the
    // differences are small and the trials would cost more than they save.
    static constexpr int kTrialThreshold = 16384;
    // How many sizes are tried, from fastSize() up, and how far above the
    // request they may lie.
    static constexpr int kTrialSizes = 6;
    static constexpr double kTrialSpan = 1.12;

    static FftPlanCache &instance();

    // The plan for transforms of exactly size points (size >= 1). An invalid
    // lease when FFTW cannot plan or memory is short.
    Lease acquire(int size);
    // A plan for at least minimum points, its size chosen as above; the first
    // request for a minimum costs two transforms of each size tried (about
    // 0.1 s at a million points), later ones find it in the cache.
    Lease acquireAtLeast(int minimum);

    // Floats a buffer for an in-place transform of size points needs.
    static int bufferFloats(int size) { return 2 * (size / 2 + 1); }
    // The smallest n' >= n of the form 2^a 3^b 5^c 7^d, the sizes FFTW handles
    // fastest; 0 if there is none in int range.
    static int fastSize(int n);

    // Plans currently cached, for tests of the bound.
    int cachedPlans() const;

private:
    FftPlanCache() = default;
    ~FftPlanCache();
    FftPlanCache(const FftPlanCache &) = delete;
    FftPlanCache &operator=(const FftPlanCache &) = delete;

    struct Slot
    {
        int request = 0;     // what was asked for
        bool atLeast = false; // ... as a minimum, or exactly
        int size = 0;        // what the plan transforms
        int leases = 0;
        unsigned long long lastUse = 0;
        fftwf_plan plan = nullptr;
    };

    Lease lease(int request, bool atLeast);
    // These with m_mutex held.
    static fftwf_plan plan(int size);
    static fftwf_plan fastestPlan(int minimum, int *size);
    static void destroy(fftwf_plan plan);
    void release(Lease &lease);

    mutable std::mutex m_mutex;
    Slot m_slots[kSlots];
    unsigned long long m_clock = 0;
};
