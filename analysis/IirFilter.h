#pragma once

// An IIR filter record: either a Butterworth design of order 1 to 12, kept as
// its 2 N + 2 taps (b0 .. bN, a0 .. aN) and run in direct form, or a cascade
// of second-order sections given six taps each (b0, b1, b2, a0, a1, a2). The
// state carries over from one apply() to the next.
//
// Taps are stored as float, the way they are handed around; the recursion
// itself runs in double, because the poles of a high-pass near 0 Hz sit so
// close to the unit circle that a float state would drift.
class IirFilter
{
public:
    enum Type {
        LowPass = 1,
        HighPass = 2
    };
    static constexpr int kMaxOrder = 12;
    static constexpr int kMaxSections = 12;

    IirFilter() = default;

    // Butterworth of the given type and order with the cut-off normalised to
    // the sample rate; 1 <= order <= 12 and 0 < cutoff < 0.5, otherwise
    // BadArgument with the record unchanged. The design is computed in double.
    int design(int type, double cutoff, int order);
    // Cascade of second-order sections (1 .. kMaxSections); every a0 non-zero
    // and every tap finite.
    int setBiquads(const float *taps, int sections);

    // The 2 * order + 2 taps of the design (or the 6 * sections of the cascade).
    int taps(float *out, int count) const;
    int tapCount() const;
    int type() const { return m_type; }
    int order() const { return m_order; }
    bool isReady() const { return m_form != Form::None; }

    // Zero state, as after design.
    void resetState();
    // src and dst may be the same block. Failed without a design.
    int apply(const float *src, float *dst, int n);

private:
    enum class Form { None, Direct, Biquads };

    Form m_form = Form::None;
    int m_type = 0;
    int m_order = 0;
    int m_sections = 0;
    float m_taps[6 * kMaxSections] = {};
    // Normalised by a0: direct form b[0..N], a[1..N]; per section b0 b1 b2 a1 a2.
    double m_b[kMaxOrder + 1] = {};
    double m_a[kMaxOrder + 1] = {};
    double m_sectionCoeff[kMaxSections][5] = {};
    double m_state[2 * kMaxSections] = {};
};
