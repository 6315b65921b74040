#include "SampleBuffer.h"

#include <fftw3.h>

#include <cstddef>
#include <utility>

SampleBuffer::~SampleBuffer()
{
    release();
}

SampleBuffer::SampleBuffer(SampleBuffer &&other) noexcept
    : m_data(std::exchange(other.m_data, nullptr))
    , m_capacity(std::exchange(other.m_capacity, 0))
{
}

SampleBuffer &SampleBuffer::operator=(SampleBuffer &&other) noexcept
{
    if (this != &other) {
        release();
        m_data = std::exchange(other.m_data, nullptr);
        m_capacity = std::exchange(other.m_capacity, 0);
    }
    return *this;
}

bool SampleBuffer::reserve(int n)
{
    if (n < 1) {
        release();
        return false;
    }
    if (m_data && m_capacity >= n)
        return true;
    release();
    m_data = static_cast<float *>(fftwf_malloc(static_cast<std::size_t>(n) * sizeof(float)));
    if (!m_data)
        return false;
    m_capacity = n;
    return true;
}

void SampleBuffer::release()
{
    if (m_data)
        fftwf_free(m_data);
    m_data = nullptr;
    m_capacity = 0;
}
