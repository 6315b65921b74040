#include "FftPlanCache.h"

#include "SampleBuffer.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <utility>

namespace {
constexpr unsigned kPlanFlags = FFTW_ESTIMATE;
} // namespace

FftPlanCache::Lease::~Lease()
{
    release();
}

FftPlanCache::Lease::Lease(Lease &&other) noexcept
    : m_cache(std::exchange(other.m_cache, nullptr))
    , m_slot(std::exchange(other.m_slot, -1))
    , m_size(std::exchange(other.m_size, 0))
    , m_plan(std::exchange(other.m_plan, nullptr))
{
}

FftPlanCache::Lease &FftPlanCache::Lease::operator=(Lease &&other) noexcept
{
    if (this != &other) {
        release();
        m_cache = std::exchange(other.m_cache, nullptr);
        m_slot = std::exchange(other.m_slot, -1);
        m_size = std::exchange(other.m_size, 0);
        m_plan = std::exchange(other.m_plan, nullptr);
    }
    return *this;
}

void FftPlanCache::Lease::forward(float *data) const
{
    fftwf_execute_dft_r2c(m_plan, data, reinterpret_cast<fftwf_complex *>(data));
}

void FftPlanCache::Lease::release()
{
    if (m_cache)
        m_cache->release(*this);
    m_cache = nullptr;
    m_slot = -1;
    m_size = 0;
    m_plan = nullptr;
}

FftPlanCache &FftPlanCache::instance()
{
    static FftPlanCache cache;
    return cache;
}

FftPlanCache::~FftPlanCache()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    for (Slot &slot : m_slots)
        destroy(slot.plan);
}

FftPlanCache::Lease FftPlanCache::acquire(int size)
{
    return lease(size, false);
}

FftPlanCache::Lease FftPlanCache::acquireAtLeast(int minimum)
{
    return lease(minimum, true);
}

FftPlanCache::Lease FftPlanCache::lease(int request, bool atLeast)
{
    Lease lease;
    if (request < 1)
        return lease;
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_clock;
    Slot *victim = nullptr;
    for (int i = 0; i < kSlots; ++i) {
        Slot &slot = m_slots[i];
        if (slot.plan && slot.request == request && slot.atLeast == atLeast) {
            ++slot.leases;
            slot.lastUse = m_clock;
            lease.m_cache = this;
            lease.m_slot = i;
            lease.m_size = slot.size;
            lease.m_plan = slot.plan;
            return lease;
        }
        if (slot.leases == 0 && (!victim || slot.lastUse < victim->lastUse))
            victim = &slot;
    }

    int size = request;
    const fftwf_plan made = atLeast ? fastestPlan(request, &size) : plan(request);
    if (!made)
        return lease;
    lease.m_cache = this;
    lease.m_size = size;
    lease.m_plan = made;
    if (victim) {
        destroy(victim->plan);
        *victim = Slot{request, atLeast, size, 1, m_clock, made};
        lease.m_slot = static_cast<int>(victim - m_slots);
    }
    return lease;
}

void FftPlanCache::release(Lease &lease)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (lease.m_slot >= 0)
        --m_slots[lease.m_slot].leases;
    else
        destroy(lease.m_plan);
}

fftwf_plan FftPlanCache::plan(int size)
{
    // FFTW wants an array to plan for; with estimate planning it only looks at
    // its alignment, which every buffer from SampleBuffer shares.
    SampleBuffer buffer;
    if (size > INT_MAX - 2 || !buffer.reserve(bufferFloats(size)))
        return nullptr;
    return fftwf_plan_dft_r2c_1d(size, buffer.data(), reinterpret_cast<fftwf_complex *>(buffer.data()), kPlanFlags);
}

fftwf_plan FftPlanCache::fastestPlan(int minimum, int *size)
{
    const int first = fastSize(minimum);
    if (first < 1)
        return nullptr;
    *size = first;
    if (minimum < kTrialThreshold)
        return plan(first);

    int candidates[kTrialSizes];
    int count = 0;
    for (int n = first; n > 0 && count < kTrialSizes && n <= kTrialSpan * minimum; n = fastSize(n + 1))
        candidates[count++] = n;
    SampleBuffer buffer;
    if (!buffer.reserve(bufferFloats(candidates[count - 1])))
        return plan(first);
    std::fill(buffer.data(), buffer.data() + bufferFloats(candidates[count - 1]), 0.0f);

    fftwf_plan best = nullptr;
    double bestTime = 0.0;
    for (int i = 0; i < count; ++i) {
        const fftwf_plan candidate = plan(candidates[i]);
        if (!candidate)
            continue;
        // The first run pages in and warms up; the second is the one timed.
        auto *spectrum = reinterpret_cast<fftwf_complex *>(buffer.data());
        fftwf_execute_dft_r2c(candidate, buffer.data(), spectrum);
        const auto start = std::chrono::steady_clock::now();
        fftwf_execute_dft_r2c(candidate, buffer.data(), spectrum);
        const double time = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (!best || time < bestTime) {
            destroy(best);
            best = candidate;
            bestTime = time;
            *size = candidates[i];
        } else {
            destroy(candidate);
        }
    }
    return best;
}

void FftPlanCache::destroy(fftwf_plan plan)
{
    if (plan)
        fftwf_destroy_plan(plan);
}

int FftPlanCache::cachedPlans() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    int count = 0;
    for (const Slot &slot : m_slots)
        count += slot.plan ? 1 : 0;
    return count;
}

int FftPlanCache::fastSize(int n)
{
    if (n <= 1)
        return 1;
    long long best = LLONG_MAX;
    for (long long p7 = 1; p7 < best; p7 *= 7)
        for (long long p5 = p7; p5 < best; p5 *= 5)
            for (long long p3 = p5; p3 < best; p3 *= 3) {
                long long p2 = p3;
                while (p2 < n)
                    p2 *= 2;
                if (p2 < best)
                    best = p2;
            }
    return best <= INT_MAX ? static_cast<int>(best) : 0;
}
