#pragma once

#include <hdf5.h>

// Owns one HDF5 identifier and closes it with the matching H5*close. HDF5
// reports failure as a negative id, so a handle is valid when its id is >= 0.
class Hdf5Handle
{
public:
    using Closer = herr_t (*)(hid_t);

    Hdf5Handle() = default;
    Hdf5Handle(hid_t id, Closer closer)
        : m_id(id)
        , m_closer(closer)
    {
    }
    ~Hdf5Handle() { reset(); }

    Hdf5Handle(const Hdf5Handle &) = delete;
    Hdf5Handle &operator=(const Hdf5Handle &) = delete;
    Hdf5Handle(Hdf5Handle &&other) noexcept
        : m_id(other.m_id)
        , m_closer(other.m_closer)
    {
        other.m_id = -1;
    }
    Hdf5Handle &operator=(Hdf5Handle &&other) noexcept
    {
        if (this != &other) {
            reset();
            m_id = other.m_id;
            m_closer = other.m_closer;
            other.m_id = -1;
        }
        return *this;
    }

    hid_t id() const { return m_id; }
    bool isValid() const { return m_id >= 0; }

    // Closes now; false if HDF5 reported an error while closing (for a file:
    // data that may not have reached the disk).
    bool reset()
    {
        bool ok = true;
        if (m_id >= 0 && m_closer)
            ok = m_closer(m_id) >= 0;
        m_id = -1;
        return ok;
    }

private:
    hid_t m_id = -1;
    Closer m_closer = nullptr;
};
