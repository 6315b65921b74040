#include "DampedCosineFit.h"

#include <gsl/gsl_blas.h>
#include <gsl/gsl_linalg.h>
#include <gsl/gsl_multilarge_nlinear.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <memory>

namespace {

constexpr double kTwoPi = 6.283185307179586;
// Parameters inside the solver: a, b, c, delta, f.
enum { A = 0, B, C, Delta, Frequency, ParameterCount };
// The carried exponential and rotation start afresh this often, so rounding
// cannot pile up over a long record.
constexpr int kReseed = 1024;

struct Data
{
    const float *samples;
    int n;
    double dt;
};

// e^(-delta t) cos wt and e^(-delta t) sin wt at every sample, by rotating
// and shrinking complex numbers: four of them side by side, each four
// samples apart, so that the processor works on four independent chains
// (one chain would wait for each multiplication before the next). Written
// out because std::complex's operator* goes through the library's NaN-safe
// multiplication, several times slower.
template<typename Visit>
void walk(double delta, double frequency, int n, double dt, Visit visit)
{
    constexpr int kLanes = 4;
    const std::complex<double> exponent(-delta * dt, kTwoPi * frequency * dt);
    const std::complex<double> step = std::exp(exponent * double(kLanes));
    const double sr = step.real(), si = step.imag();
    for (int begin = 0; begin < n; begin += kReseed) {
        double zr[kLanes], zi[kLanes];
        for (int k = 0; k < kLanes; ++k) {
            const std::complex<double> z = std::exp(exponent * double(begin + k));
            zr[k] = z.real();
            zi[k] = z.imag();
        }
        const int end = std::min(n, begin + kReseed);
        for (int i = begin; i < end; i += kLanes) {
            for (int k = 0; k < kLanes && i + k < end; ++k)
                visit(i + k, zr[k], zi[k]);
            for (int k = 0; k < kLanes; ++k) {
                const double r = zr[k] * sr - zi[k] * si;
                zi[k] = zr[k] * si + zi[k] * sr;
                zr[k] = r;
            }
        }
    }
}

int residuals(const gsl_vector *x, void *params, gsl_vector *f)
{
    const Data &d = *static_cast<const Data *>(params);
    const double a = gsl_vector_get(x, A), b = gsl_vector_get(x, B), c = gsl_vector_get(x, C);
    double *out = f->data;
    const size_t stride = f->stride;
    walk(gsl_vector_get(x, Delta), gsl_vector_get(x, Frequency), d.n, d.dt, [&](int i, double zr, double zi) {
        out[size_t(i) * stride] = a * zr + b * zi + c - double(d.samples[i]);
    });
    return GSL_SUCCESS;
}

// The solver asks for J^T u (the gradient, with u the residuals), J u, and
// the normal matrix J^T J; all come from one pass over the record without
// ever storing the n x 5 Jacobian.
int jacobian(CBLAS_TRANSPOSE_t trans, const gsl_vector *x, const gsl_vector *u, void *params, gsl_vector *v,
             gsl_matrix *JTJ)
{
    const Data &d = *static_cast<const Data *>(params);
    const double a = gsl_vector_get(x, A), b = gsl_vector_get(x, B);
    double normal[ParameterCount][ParameterCount] = {};
    double product[ParameterCount] = {};
    const bool transposed = trans == CblasTrans;
    const double *ui = u ? u->data : nullptr;
    const size_t us = u ? u->stride : 0;
    double *vi = v ? v->data : nullptr;
    const size_t vs = v ? v->stride : 0;
    walk(gsl_vector_get(x, Delta), gsl_vector_get(x, Frequency), d.n, d.dt, [&](int i, double zr, double zi) {
        const double t = double(i) * d.dt;
        const double in = a * zr + b * zi;   // e (a cos + b sin)
        const double quad = b * zr - a * zi; // e (b cos - a sin)
        const double row[ParameterCount] = {zr, zi, 1.0, -t * in, kTwoPi * t * quad};
        if (JTJ) {
            for (int r = 0; r < ParameterCount; ++r)
                for (int c = 0; c <= r; ++c)
                    normal[r][c] += row[r] * row[c];
        }
        if (v && u) {
            if (transposed) {
                const double weight = ui[size_t(i) * us];
                for (int r = 0; r < ParameterCount; ++r)
                    product[r] += row[r] * weight;
            } else {
                double sum = 0;
                for (int c = 0; c < ParameterCount; ++c)
                    sum += row[c] * ui[size_t(c) * us];
                vi[size_t(i) * vs] = sum;
            }
        }
    });
    if (JTJ) {
        for (int r = 0; r < ParameterCount; ++r)
            for (int c = 0; c <= r; ++c) {
                gsl_matrix_set(JTJ, size_t(r), size_t(c), normal[r][c]);
                gsl_matrix_set(JTJ, size_t(c), size_t(r), normal[r][c]);
            }
    }
    if (v && u && transposed) {
        for (int r = 0; r < ParameterCount; ++r)
            gsl_vector_set(v, size_t(r), product[r]);
    }
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

// a, b and c by linear least squares at fixed delta and f.
bool linearSeed(const Data &d, double delta, double frequency, double *abc)
{
    double m[9] = {}, v[3] = {};
    walk(delta, frequency, d.n, d.dt, [&](int i, double zr, double zi) {
        const double basis[3] = {zr, zi, 1.0};
        for (int r = 0; r < 3; ++r) {
            v[r] += basis[r] * d.samples[i];
            for (int col = 0; col < 3; ++col)
                m[3 * r + col] += basis[r] * basis[col];
        }
    });
    gsl_matrix_view matrix = gsl_matrix_view_array(m, 3, 3);
    gsl_vector_view rhs = gsl_vector_view_array(v, 3);
    gsl_vector_view out = gsl_vector_view_array(abc, 3);
    gsl_error_handler_t *previous = gsl_set_error_handler_off();
    const bool ok = gsl_linalg_cholesky_decomp1(&matrix.matrix) == GSL_SUCCESS
        && gsl_linalg_cholesky_solve(&matrix.matrix, &rhs.vector, &out.vector) == GSL_SUCCESS;
    gsl_set_error_handler(previous);
    return ok;
}

struct WorkspaceDeleter
{
    void operator()(gsl_multilarge_nlinear_workspace *w) const { gsl_multilarge_nlinear_free(w); }
};
struct MatrixDeleter
{
    void operator()(gsl_matrix *m) const { gsl_matrix_free(m); }
};

} // namespace

DampedCosineFit::Result DampedCosineFit::fit(const float *samples, int n, double sampleRate, const Seed &seed)
{
    Result result;
    if (!samples || n < kMinSamples || !(sampleRate > 0) || !std::isfinite(sampleRate)) {
        result.error = "too few samples or no sample rate";
        return result;
    }
    Data data{samples, n, 1.0 / sampleRate};
    double frequency = seed.frequency > 0 && std::isfinite(seed.frequency) ? seed.frequency
                                                                           : frequencyFromCrossings(samples, n, sampleRate);
    const double delta = std::isfinite(seed.attenuation) ? seed.attenuation : 0.0;
    if (!(frequency > 0) || frequency >= sampleRate / 2) {
        result.error = "no frequency to start from";
        return result;
    }
    double x0[ParameterCount] = {0, 0, 0, delta, frequency};
    if (!linearSeed(data, delta, frequency, x0)) {
        result.error = "no amplitude to start from";
        return result;
    }

    gsl_multilarge_nlinear_fdf fdf;
    fdf.f = residuals;
    fdf.df = jacobian;
    fdf.fvv = nullptr;
    fdf.n = size_t(n);
    fdf.p = ParameterCount;
    fdf.params = &data;
    // The large-system flavour of GSL's trust-region solver: it works on the
    // normal equations J^T J (5 x 5) that the callback sums up, where the
    // dense one would keep and factor the whole n x 5 Jacobian each step.
    gsl_multilarge_nlinear_parameters parameters = gsl_multilarge_nlinear_default_parameters();
    parameters.trs = gsl_multilarge_nlinear_trs_lm;
    parameters.solver = gsl_multilarge_nlinear_solver_cholesky;
    // The workspace holds vectors of n: kept per thread for the last n, since
    // shot after shot has the same length and allocating (and faulting in)
    // them anew took a fifth of the time.
    thread_local std::unique_ptr<gsl_multilarge_nlinear_workspace, WorkspaceDeleter> workspace;
    thread_local size_t workspaceSize = 0;
    if (!workspace || workspaceSize != size_t(n)) {
        workspace.reset(gsl_multilarge_nlinear_alloc(gsl_multilarge_nlinear_trust, &parameters, size_t(n), ParameterCount));
        workspaceSize = workspace ? size_t(n) : 0;
    }
    if (!workspace) {
        result.error = "out of memory";
        return result;
    }
    gsl_error_handler_t *previous = gsl_set_error_handler_off();
    gsl_vector_view start = gsl_vector_view_array(x0, ParameterCount);
    int info = 0;
    int status = gsl_multilarge_nlinear_init(&start.vector, &fdf, workspace.get());
    if (status == GSL_SUCCESS)
        status = gsl_multilarge_nlinear_driver(kMaxIterations, 1e-10, 1e-10, 0.0, nullptr, nullptr, &info, workspace.get());
    if (status != GSL_SUCCESS) {
        gsl_set_error_handler(previous);
        result.error = status == GSL_EMAXITER ? "the fit did not converge" : "the fit failed";
        return result;
    }
    const gsl_vector *x = gsl_multilarge_nlinear_position(workspace.get());
    const gsl_vector *f = gsl_multilarge_nlinear_residual(workspace.get());
    double chi = 0;
    gsl_blas_ddot(f, f, &chi);
    std::unique_ptr<gsl_matrix, MatrixDeleter> covariance(gsl_matrix_alloc(ParameterCount, ParameterCount));
    const int dof = n - ParameterCount;
    const double variance = dof > 0 ? chi / dof : 0.0;
    if (covariance && gsl_multilarge_nlinear_covar(covariance.get(), workspace.get()) == GSL_SUCCESS) {
        result.frequencySigma = std::sqrt(variance * gsl_matrix_get(covariance.get(), Frequency, Frequency));
        result.attenuationSigma = std::sqrt(variance * gsl_matrix_get(covariance.get(), Delta, Delta));
    }
    gsl_set_error_handler(previous);

    const double a = gsl_vector_get(x, A), b = gsl_vector_get(x, B);
    result.amplitude = std::hypot(a, b);
    // a cos + b sin = A cos(wt + phi) with A cos phi = a, A sin phi = -b.
    result.phase = std::atan2(-b, a);
    result.offset = gsl_vector_get(x, C);
    result.attenuation = gsl_vector_get(x, Delta);
    result.frequency = std::fabs(gsl_vector_get(x, Frequency));
    result.rmsResidual = std::sqrt(chi / n);
    result.iterations = int(gsl_multilarge_nlinear_niter(workspace.get()));
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
