#include "IirFilter.h"

#include "SignalPrimitives.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <iterator>

namespace {

using Complex = std::complex<double>;

// Coefficients of prod_k (1 - roots[k] z^-1), highest power of z^-1 last.
void expand(const Complex *roots, int count, Complex *poly)
{
    std::fill(poly, poly + count + 1, Complex(0.0));
    poly[0] = 1.0;
    for (int k = 0; k < count; ++k)
        for (int j = k + 1; j >= 1; --j)
            poly[j] -= roots[k] * poly[j - 1];
}

} // namespace

int IirFilter::design(int type, double cutoff, int order)
{
    if ((type != LowPass && type != HighPass) || order < 1 || order > kMaxOrder || !(cutoff > 0.0)
        || !(cutoff < 0.5))
        return dsp::BadArgument;

    // Analogue prototype poles on the left half of the unit circle, moved to the
    // pre-warped cut-off and through the bilinear transform z = (1 + s) / (1 - s).
    const double pi = std::acos(-1.0);
    const double warped = std::tan(pi * cutoff);
    Complex poles[kMaxOrder];
    for (int k = 0; k < order; ++k) {
        const Complex prototype = std::polar(1.0, pi * (2 * k + order + 1) / (2.0 * order));
        const Complex s = type == LowPass ? warped * prototype : warped / prototype;
        poles[k] = (1.0 + s) / (1.0 - s);
    }
    Complex a[kMaxOrder + 1];
    expand(poles, order, a);

    // All zeros at z = -1 (low-pass) or z = +1 (high-pass); the gain makes the
    // pass band 1, taken from the product of the poles' distances to the
    // pass-band point rather than from the sum of the taps, which cancels badly
    // for low cut-offs.
    const double passPoint = type == LowPass ? 1.0 : -1.0;
    Complex distance = 1.0;
    for (int k = 0; k < order; ++k)
        distance *= 1.0 - poles[k] * passPoint;
    const double gain = distance.real() / std::pow(2.0, order);

    double binomial = 1.0;
    for (int j = 0; j <= order; ++j) {
        const double sign = (type == HighPass && j % 2 == 1) ? -1.0 : 1.0;
        m_taps[j] = static_cast<float>(sign * gain * binomial);
        m_taps[order + 1 + j] = static_cast<float>(a[j].real());
        binomial = binomial * (order - j) / (j + 1);
    }
    m_type = type;
    m_order = order;
    m_sections = 0;
    m_form = Form::None;

    const double a0 = m_taps[order + 1];
    if (a0 != 0.0) {
        for (int j = 0; j <= order; ++j) {
            m_b[j] = m_taps[j] / a0;
            m_a[j] = m_taps[order + 1 + j] / a0;
        }
        m_form = Form::Direct;
    }
    resetState();
    return dsp::Ok;
}

int IirFilter::setBiquads(const float *taps, int sections)
{
    if (!taps || sections < 1 || sections > kMaxSections)
        return dsp::BadArgument;
    for (int s = 0; s < sections; ++s) {
        const float *t = taps + 6 * s;
        for (int j = 0; j < 6; ++j)
            if (!std::isfinite(t[j]))
                return dsp::BadArgument;
        if (t[3] == 0.0f)
            return dsp::BadArgument;
    }
    std::copy(taps, taps + 6 * sections, m_taps);
    for (int s = 0; s < sections; ++s) {
        const float *t = taps + 6 * s;
        const double a0 = t[3];
        m_sectionCoeff[s][0] = t[0] / a0;
        m_sectionCoeff[s][1] = t[1] / a0;
        m_sectionCoeff[s][2] = t[2] / a0;
        m_sectionCoeff[s][3] = t[4] / a0;
        m_sectionCoeff[s][4] = t[5] / a0;
    }
    m_type = 0;
    m_order = 2 * sections;
    m_sections = sections;
    m_form = Form::Biquads;
    resetState();
    return dsp::Ok;
}

int IirFilter::tapCount() const
{
    if (m_sections > 0)
        return 6 * m_sections;
    return m_order > 0 ? 2 * m_order + 2 : 0;
}

int IirFilter::taps(float *out, int count) const
{
    if (!out || count < 1 || count != tapCount())
        return dsp::BadArgument;
    std::copy(m_taps, m_taps + count, out);
    return dsp::Ok;
}

void IirFilter::resetState()
{
    std::fill(std::begin(m_state), std::end(m_state), 0.0);
}

int IirFilter::apply(const float *src, float *dst, int n)
{
    if (!src || !dst || n < 1)
        return dsp::BadArgument;
    if (m_form == Form::Direct) {
        // Transposed direct form II.
        const int order = m_order;
        double *z = m_state;
        for (int i = 0; i < n; ++i) {
            const double x = src[i];
            const double y = m_b[0] * x + z[0];
            for (int j = 1; j < order; ++j)
                z[j - 1] = m_b[j] * x - m_a[j] * y + z[j];
            z[order - 1] = m_b[order] * x - m_a[order] * y;
            dst[i] = static_cast<float>(y);
        }
        return dsp::Ok;
    }
    if (m_form == Form::Biquads) {
        for (int i = 0; i < n; ++i) {
            double v = src[i];
            for (int s = 0; s < m_sections; ++s) {
                const double *c = m_sectionCoeff[s];
                double *z = m_state + 2 * s;
                const double y = c[0] * v + z[0];
                z[0] = c[1] * v - c[3] * y + z[1];
                z[1] = c[2] * v - c[4] * y;
                v = y;
            }
            dst[i] = static_cast<float>(v);
        }
        return dsp::Ok;
    }
    return dsp::Failed;
}
