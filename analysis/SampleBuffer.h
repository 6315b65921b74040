#pragma once

#include <cstdint>

// A block of float samples from FFTW's allocator: aligned for SIMD, so the same
// buffer serves FFTW's new-array execute and the vectorised loops. Allocation
// failure is an answer (false), never an exception, so that the analysis can
// map it to its out-of-memory code. reserve() keeps a large enough block, so a
// buffer that lives on (a member, or thread_local for work blocks) allocates
// only when a longer block than before comes along.
class SampleBuffer
{
public:
    SampleBuffer() = default;
    ~SampleBuffer();
    SampleBuffer(const SampleBuffer &) = delete;
    SampleBuffer &operator=(const SampleBuffer &) = delete;
    SampleBuffer(SampleBuffer &&other) noexcept;
    SampleBuffer &operator=(SampleBuffer &&other) noexcept;

    // Makes room for at least n samples; the contents are not kept. n < 1 or an
    // allocation failure leaves the buffer empty and returns false.
    bool reserve(int n);
    void release();

    float *data() { return m_data; }
    const float *data() const { return m_data; }
    // The same storage as 32-bit words, for work that orders float bit patterns.
    // The block is raw storage from the allocator; use it as one type at a time.
    std::uint32_t *words() { return static_cast<std::uint32_t *>(static_cast<void *>(m_data)); }
    int capacity() const { return m_capacity; }
    bool isEmpty() const { return m_data == nullptr; }

private:
    float *m_data = nullptr;
    int m_capacity = 0;
};
