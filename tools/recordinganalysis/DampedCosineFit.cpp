#include "DampedCosineFit.h"

#include <gsl/gsl_blas.h>
#include <gsl/gsl_errno.h>
#include <gsl/gsl_linalg.h>
#include <gsl/gsl_multifit_nlinear.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <memory>

// How the fit works. For fixed delta and f the model
// e (a cos wt + b sin wt) + c, e = exp(-delta t), is linear in a, b and c:
// those are solved for exactly at every evaluation (variable projection) and
// GSL's Levenberg-Marquardt moves only delta and f. All it needs, the
// residual's norm, the Jacobian of the residual in delta and f (Kaufman's
// form: the model's derivatives with their part along the linear basis
// removed) and J^T J, J^T f, follow from the normal matrix of the columns
//
//     e cos, e sin, 1, k e cos, k e sin, r        (k the sample index)
//
// where r is the residual of reference amplitudes. Only the sums against r
// need the record: one pass per evaluation. The others are sums of powers of
// z = exp((-delta + i w) dt) that take a few hundred operations. GSL is
// handed the equivalent three-row problem read off the Cholesky factor R of
// that matrix (same J^T J, J^T f and |f|), so nothing it does grows with the
// record, and it asks for the Jacobian only where it has just evaluated the
// residual, which that evaluation already holds.

namespace {

using Complex = std::complex<double>;

constexpr double kTwoPi = 6.283185307179586;
// What the solver moves.
enum { Delta = 0, Frequency, ParameterCount };
// Columns of the normal matrix as above; r is kept apart.
enum { Cos = 0, Sin, One, KCos, KSin, Columns };
constexpr int kLinear = 3;
// The problem GSL sees: two rows for the Jacobian's triangle, one for what no
// step in delta and f can remove.
constexpr int kRows = 3;
// The solver stops when a step moves no parameter by more than kStepTolerance
// of its value, or when the gradient scaled by the parameters is below
// kGradientTolerance of the cost (GSL's advice: the cube root of the machine
// epsilon). At 1 % noise the second ends the fit about 1e-6 standard
// deviations from the minimum, before the cost's rounding makes step after
// step fail, each one a pass over the record.
constexpr double kStepTolerance = 1e-10;
const double kGradientTolerance = std::cbrt(GSL_DBL_EPSILON);

// z * step, written out: std::complex's operator* goes through the library's
// NaN-safe multiplication, several times slower in a loop.
inline void rotate(double &re, double &im, double stepRe, double stepIm)
{
    const double r = re * stepRe - im * stepIm;
    im = re * stepIm + im * stepRe;
    re = r;
}

// sum over k < n of k^p e^(s k) for p = 0, 1, 2, in blocks of b: with
// k = j b + m it is sum_j e^(s b j) sum_m (j b + m)^p e^(s m), about
// 3 sqrt(n) terms in all. The closed form would divide by 1 - e^s, which is
// exactly 0 for |z|^2 of an undamped record.
struct PowerSums
{
    Complex p[3];
};

void addPowers(Complex s, int begin, int end, Complex *sums)
{
    const Complex step = std::exp(s);
    const Complex first = std::exp(s * double(begin));
    double re = first.real(), im = first.imag();
    for (int k = begin; k < end; ++k) {
        const double w = k;
        sums[0] += Complex(re, im);
        sums[1] += Complex(w * re, w * im);
        sums[2] += Complex(w * w * re, w * w * im);
        rotate(re, im, step.real(), step.imag());
    }
}

PowerSums powerSums(Complex s, int n)
{
    const int b = std::max(1, int(std::sqrt(double(n))));
    const int blocks = n / b;
    Complex inner[3] = {}, outer[3] = {};
    addPowers(s, 0, b, inner);
    addPowers(s * double(b), 0, blocks, outer);
    const double bb = b;
    PowerSums sums;
    sums.p[0] = outer[0] * inner[0];
    sums.p[1] = bb * outer[1] * inner[0] + outer[0] * inner[1];
    sums.p[2] = bb * bb * outer[2] * inner[0] + 2.0 * bb * outer[1] * inner[1] + outer[0] * inner[2];
    addPowers(s, blocks * b, n, sums.p);
    return sums;
}

// The pass over the record: the residual r of reference amplitudes (a, b, c)
// at this delta and f, and its sums against the basis. z_k is carried from
// sample to sample by complex multiplication instead of exp, cos and sin per
// sample, in sixteen chains side by side, each sixteen samples apart: the
// compiler keeps them in vector registers, and no chain waits for its own
// last multiplication. In double precision a carried value drifts from the
// exact one by about 1e-16 per step, 1e-13 over 20 000 samples, far below any
// record's noise (a float sample alone is rounded to 6e-8).
struct ResidualSums
{
    double r = 0, rr = 0, rCos = 0, rSin = 0, krCos = 0, krSin = 0;
};

#if defined(__x86_64__) && defined(__GNUC__)
// Any x86-64 runs the report, so the widest vector unit is chosen at run
// time. Multiply and add are never fused in this file (-ffp-contract=off), so
// every variant gives the same bits and the report does not depend on the
// machine.
__attribute__((target_clones("avx512f", "avx2", "default")))
#endif
ResidualSums residualSums(const float *y, int n, Complex exponent, const double *reference)
{
    constexpr int kLanes = 16;
    const double a = reference[Cos], b = reference[Sin], c = reference[One];
    const Complex step = std::exp(exponent * double(kLanes));
    const double stepRe = step.real(), stepIm = step.imag();
    double zr[kLanes], zi[kLanes], k[kLanes];
    double r[kLanes] = {}, rr[kLanes] = {}, rc[kLanes] = {}, rs[kLanes] = {}, krc[kLanes] = {}, krs[kLanes] = {};
    for (int j = 0; j < kLanes; ++j) {
        const Complex z = std::exp(exponent * double(j));
        zr[j] = z.real();
        zi[j] = z.imag();
        k[j] = j;
    }
    const auto add = [&](int j, double sample) {
        const double u = sample - (a * zr[j] + b * zi[j] + c);
        r[j] += u;
        rr[j] += u * u;
        const double uc = u * zr[j], us = u * zi[j];
        rc[j] += uc;
        rs[j] += us;
        krc[j] += k[j] * uc;
        krs[j] += k[j] * us;
        k[j] += kLanes;
        rotate(zr[j], zi[j], stepRe, stepIm);
    };
    int i = 0;
    for (; i + kLanes <= n; i += kLanes) {
        for (int j = 0; j < kLanes; ++j)
            add(j, double(y[i + j]));
    }
    for (int j = 0; i + j < n; ++j)
        add(j, double(y[i + j]));
    ResidualSums sums;
    for (int j = 0; j < kLanes; ++j) {
        sums.r += r[j];
        sums.rr += rr[j];
        sums.rCos += rc[j];
        sums.rSin += rs[j];
        sums.krCos += krc[j];
        sums.krSin += krs[j];
    }
    return sums;
}

// One evaluation: where, the amplitudes there, and the three-row problem.
struct Evaluation
{
    bool valid = false;
    double x[ParameterCount] = {};
    double amplitudes[kLinear] = {}; // a, b, c
    double jacobian[kRows][ParameterCount] = {};
    double residual[kRows] = {};
};

struct Fit
{
    const float *samples = nullptr;
    int n = 0;
    double dt = 0;
    // The next pass takes its residual from these: the last amplitudes
    // found, close to the final ones, so that the sums of squares cancel
    // little (from a, b, c = 0 they would lose digits to the signal's power).
    double reference[kLinear] = {};
    Evaluation last;
    // Where the solver last accepted a step.
    double accepted[kLinear] = {};
};

// False where there is no finite model (the normal matrix not positive
// definite, or a sum overflowed).
bool evaluate(Fit &fit, const double *x)
{
    Evaluation &e = fit.last;
    e.valid = false;
    std::copy(x, x + ParameterCount, e.x);
    const Complex exponent(-x[Delta] * fit.dt, kTwoPi * x[Frequency] * fit.dt);
    const ResidualSums d = residualSums(fit.samples, fit.n, exponent, fit.reference);
    const PowerSums z = powerSums(exponent, fit.n);
    const PowerSums z2 = powerSums(2.0 * exponent, fit.n);
    const PowerSums e2 = powerSums(Complex(2.0 * exponent.real(), 0.0), fit.n);

    // cos^2 = (|z|^2 + Re z^2) / 2, sin^2 = (|z|^2 - Re z^2) / 2,
    // cos sin = Im z^2 / 2, each k^p-weighted for the k columns.
    double normal[Columns * Columns] = {};
    const auto set = [&](int r, int c, double v) { normal[r * Columns + c] = normal[c * Columns + r] = v; };
    for (int p = 0; p < 2; ++p) {
        const int cosColumn = p ? KCos : Cos, sinColumn = p ? KSin : Sin;
        set(cosColumn, One, z.p[p].real());
        set(sinColumn, One, z.p[p].imag());
        set(cosColumn, Cos, 0.5 * (e2.p[p].real() + z2.p[p].real()));
        set(sinColumn, Sin, 0.5 * (e2.p[p].real() - z2.p[p].real()));
        set(cosColumn, Sin, 0.5 * z2.p[p].imag());
        set(sinColumn, Cos, 0.5 * z2.p[p].imag());
    }
    set(One, One, fit.n);
    set(KCos, KCos, 0.5 * (e2.p[2].real() + z2.p[2].real()));
    set(KSin, KSin, 0.5 * (e2.p[2].real() - z2.p[2].real()));
    set(KCos, KSin, 0.5 * z2.p[2].imag());
    double rest[Columns] = {d.rCos, d.rSin, d.r, d.krCos, d.krSin};
    if (!std::all_of(std::begin(normal), std::end(normal), [](double v) { return std::isfinite(v); })
        || !std::all_of(std::begin(rest), std::end(rest), [](double v) { return std::isfinite(v); }))
        return false;

    // normal = L L^T (GSL leaves L in the lower triangle) and R = L^T; r's
    // column of R is L^-1 rest.
    gsl_matrix_view factor = gsl_matrix_view_array(normal, Columns, Columns);
    gsl_vector_view restView = gsl_vector_view_array(rest, Columns);
    if (gsl_linalg_cholesky_decomp1(&factor.matrix) != GSL_SUCCESS)
        return false;
    gsl_blas_dtrsv(CblasLower, CblasNoTrans, CblasNonUnit, &factor.matrix, &restView.vector);
    // The amplitudes here: the reference ones plus R_linear^-1 times the
    // first three entries of that column.
    double correction[kLinear] = {rest[Cos], rest[Sin], rest[One]};
    gsl_matrix_view linear = gsl_matrix_submatrix(&factor.matrix, 0, 0, kLinear, kLinear);
    gsl_vector_view correctionView = gsl_vector_view_array(correction, kLinear);
    gsl_blas_dtrsv(CblasLower, CblasTrans, CblasNonUnit, &linear.matrix, &correctionView.vector);
    for (int i = 0; i < kLinear; ++i)
        e.amplitudes[i] = fit.reference[i] + correction[i];

    // d model / d delta = -dt k e (a cos + b sin) and
    // d model / d f = 2 pi dt k e (b cos - a sin): the Jacobian's columns are
    // the k columns times `chain`, so J = R_k chain with R_k the k columns'
    // 2 x 2 triangle of R.
    const double a = e.amplitudes[Cos], b = e.amplitudes[Sin], dt = fit.dt;
    const double chain[2][ParameterCount] = {{-dt * a, kTwoPi * dt * b}, {-dt * b, -kTwoPi * dt * a}};
    const double r00 = normal[KCos * Columns + KCos], r01 = normal[KSin * Columns + KCos];
    const double r11 = normal[KSin * Columns + KSin];
    for (int p = 0; p < ParameterCount; ++p) {
        e.jacobian[0][p] = r00 * chain[0][p] + r01 * chain[1][p];
        e.jacobian[1][p] = r11 * chain[1][p];
        e.jacobian[2][p] = 0;
    }
    // f = model - data. What the basis and the k columns leave of r is the
    // last row; it cancels little since r is already small.
    double explained = 0;
    for (double v : rest)
        explained += v * v;
    e.residual[0] = -rest[KCos];
    e.residual[1] = -rest[KSin];
    e.residual[2] = -std::sqrt(std::max(0.0, d.rr - explained));
    e.valid = std::all_of(std::begin(e.amplitudes), std::end(e.amplitudes), [](double v) { return std::isfinite(v); })
        && std::isfinite(e.residual[2]);
    if (e.valid)
        std::copy(e.amplitudes, e.amplitudes + kLinear, fit.reference);
    return e.valid;
}

int residualCallback(const gsl_vector *x, void *params, gsl_vector *f)
{
    Fit &fit = *static_cast<Fit *>(params);
    const double at[ParameterCount] = {gsl_vector_get(x, Delta), gsl_vector_get(x, Frequency)};
    if (!evaluate(fit, at)) {
        // No finite model here: a step that leads here is rejected.
        gsl_vector_set_all(f, GSL_POSINF);
        return GSL_SUCCESS;
    }
    for (int i = 0; i < kRows; ++i)
        gsl_vector_set(f, size_t(i), fit.last.residual[i]);
    return GSL_SUCCESS;
}

// GSL asks for the Jacobian where it has just evaluated the residual and
// accepted the step; that evaluation holds it.
int jacobianCallback(const gsl_vector *x, void *params, gsl_matrix *J)
{
    Fit &fit = *static_cast<Fit *>(params);
    const double at[ParameterCount] = {gsl_vector_get(x, Delta), gsl_vector_get(x, Frequency)};
    const Evaluation &e = fit.last;
    if (!(e.valid && e.x[Delta] == at[Delta] && e.x[Frequency] == at[Frequency]) && !evaluate(fit, at))
        return GSL_EBADFUNC;
    for (int i = 0; i < kRows; ++i)
        for (int p = 0; p < ParameterCount; ++p)
            gsl_matrix_set(J, size_t(i), size_t(p), e.jacobian[i][p]);
    std::copy(e.amplitudes, e.amplitudes + kLinear, fit.accepted);
    return GSL_SUCCESS;
}

// Mean spacing of the rising zero crossings around the mean, for a record
// without a usable seed.
double frequencyFromCrossings(const float *x, int n, double sampleRate)
{
    double mean = 0;
    for (int i = 0; i < n; ++i)
        mean += x[i];
    mean /= n;
    double first = -1, last = -1;
    int count = 0;
    for (int i = 1; i < n; ++i) {
        if (x[i - 1] - mean <= 0 && x[i] - mean > 0) {
            const double p = i - (x[i] - mean) / (double(x[i]) - x[i - 1]);
            if (first < 0)
                first = p;
            last = p;
            ++count;
        }
    }
    return count >= 2 ? sampleRate * (count - 1) / (last - first) : 0.0;
}

struct WorkspaceDeleter
{
    void operator()(gsl_multifit_nlinear_workspace *w) const { gsl_multifit_nlinear_free(w); }
};

// GSL's error handler aborts by default; the fit reads return codes instead.
struct GslErrorsReturned
{
    GslErrorsReturned() : previous(gsl_set_error_handler_off()) {}
    ~GslErrorsReturned() { gsl_set_error_handler(previous); }
    GslErrorsReturned(const GslErrorsReturned &) = delete;
    GslErrorsReturned &operator=(const GslErrorsReturned &) = delete;
    gsl_error_handler_t *previous;
};

} // namespace

DampedCosineFit::Result DampedCosineFit::fit(const float *samples, int n, double sampleRate, const Seed &seed)
{
    Result result;
    if (!samples || n < kMinSamples || !(sampleRate > 0) || !std::isfinite(sampleRate)) {
        result.error = "too few samples or no sample rate";
        return result;
    }
    const double frequency = seed.frequency > 0 && std::isfinite(seed.frequency)
        ? seed.frequency
        : frequencyFromCrossings(samples, n, sampleRate);
    const double delta = std::isfinite(seed.attenuation) ? seed.attenuation : 0.0;
    if (!(frequency > 0) || frequency >= sampleRate / 2) {
        result.error = "no frequency to start from";
        return result;
    }
    const GslErrorsReturned errorsReturned;
    Fit fit;
    fit.samples = samples;
    fit.n = n;
    fit.dt = 1.0 / sampleRate;
    gsl_multifit_nlinear_fdf fdf;
    fdf.f = residualCallback;
    fdf.df = jacobianCallback;
    fdf.fvv = nullptr;
    fdf.n = kRows;
    fdf.p = ParameterCount;
    fdf.params = &fit;
    gsl_multifit_nlinear_parameters parameters = gsl_multifit_nlinear_default_parameters();
    parameters.trs = gsl_multifit_nlinear_trs_lm;
    const std::unique_ptr<gsl_multifit_nlinear_workspace, WorkspaceDeleter> workspace(
        gsl_multifit_nlinear_alloc(gsl_multifit_nlinear_trust, &parameters, kRows, ParameterCount));
    if (!workspace) {
        result.error = "out of memory";
        return result;
    }
    double x0[ParameterCount] = {delta, frequency};
    gsl_vector_view start = gsl_vector_view_array(x0, ParameterCount);
    // Without an oscillation at the seed the Jacobian is zero: nothing to move.
    const Evaluation &seeded = fit.last;
    if (gsl_multifit_nlinear_init(&start.vector, &fdf, workspace.get()) != GSL_SUCCESS || !seeded.valid
        || (seeded.jacobian[0][0] == 0 && seeded.jacobian[0][1] == 0 && seeded.jacobian[1][1] == 0)) {
        result.error = "no amplitude to start from";
        return result;
    }
    // GSL's driver, except that a step that cannot lower the cost after the
    // first iteration means the minimum is reached to rounding: for an
    // undamped record without noise neither tolerance can tell (delta's
    // step tolerance is relative to a delta of 0).
    int status = GSL_CONTINUE;
    for (int iteration = 0; status == GSL_CONTINUE && iteration < kMaxIterations; ++iteration) {
        status = gsl_multifit_nlinear_iterate(workspace.get());
        if (status == GSL_ENOPROG && iteration > 0) {
            status = GSL_SUCCESS;
            break;
        }
        if (status != GSL_SUCCESS)
            break;
        int info = 0;
        status = gsl_multifit_nlinear_test(kStepTolerance, kGradientTolerance, 0.0, &info, workspace.get());
        if (status == GSL_ETOLX || status == GSL_ETOLG || status == GSL_ETOLF)
            status = GSL_SUCCESS;
    }
    if (status != GSL_SUCCESS) {
        result.error = status == GSL_CONTINUE || status == GSL_ENOPROG ? "the fit did not converge" : "the fit failed";
        return result;
    }
    const gsl_vector *x = gsl_multifit_nlinear_position(workspace.get());
    const gsl_vector *f = gsl_multifit_nlinear_residual(workspace.get());
    double chi = 0;
    gsl_blas_ddot(f, f, &chi);
    // J^T J of the reduced problem is the Schur complement of the amplitudes'
    // block in the full five-parameter one, so its inverse is the full
    // covariance's delta and f block.
    double covariance[ParameterCount * ParameterCount] = {};
    gsl_matrix_view covarianceView = gsl_matrix_view_array(covariance, ParameterCount, ParameterCount);
    const int dof = n - Columns;
    const double variance = dof > 0 ? chi / dof : 0.0;
    if (gsl_multifit_nlinear_covar(gsl_multifit_nlinear_jac(workspace.get()), 0.0, &covarianceView.matrix)
        == GSL_SUCCESS) {
        result.frequencySigma = std::sqrt(variance * covariance[Frequency * ParameterCount + Frequency]);
        result.attenuationSigma = std::sqrt(variance * covariance[Delta * ParameterCount + Delta]);
    }

    const double a = fit.accepted[Cos], b = fit.accepted[Sin];
    const double fitted = gsl_vector_get(x, Frequency);
    result.amplitude = std::hypot(a, b);
    // a cos + b sin = A cos(wt + phi) with A cos phi = a, A sin phi = -b; a
    // negative frequency is the same curve with the sine turned round.
    result.phase = fitted < 0 ? std::atan2(b, a) : std::atan2(-b, a);
    result.offset = fit.accepted[One];
    result.attenuation = gsl_vector_get(x, Delta);
    result.frequency = std::fabs(fitted);
    result.rmsResidual = std::sqrt(chi / n);
    result.iterations = int(gsl_multifit_nlinear_niter(workspace.get()));
    result.ok = std::isfinite(result.amplitude) && std::isfinite(result.frequency) && std::isfinite(result.attenuation);
    if (!result.ok)
        result.error = "the fit gave no finite result";
    return result;
}

double DampedCosineFit::model(const Result &result, double sampleRate, int i)
{
    const double t = double(i) / sampleRate;
    return result.amplitude * std::exp(-result.attenuation * t) * std::cos(kTwoPi * result.frequency * t + result.phase)
        + result.offset;
}
