#include "matrix.h"

#include "error.h"

#include <cmath>
#include <utility>

namespace dng {

bool IsFinite(const Matrix& m)
{
    for (uint32_t r = 0; r < m.Rows(); ++r)
        for (uint32_t c = 0; c < m.Cols(); ++c)
            if (!std::isfinite(m[r][c]))
                return false;
    return true;
}

namespace {

// A pivot smaller than this fraction of the largest entry counts as zero: the matrix is singular
// for every practical purpose and its inverse would only amplify rounding noise.
constexpr double kSingularTolerance = 1e-12;

void CheckSize(uint32_t rows, uint32_t cols)
{
    if (rows > Matrix::kMax || cols > Matrix::kMax)
        throw Error(kErrorMatrixMath, "matrix larger than 4 x 4");
}

[[noreturn]] void ThrowSizeMismatch(const char* what)
{
    ThrowBadFormat(std::string("matrix size mismatch in ") + what);
}

Matrix InvertSquare(const Matrix& m)
{
    const uint32_t n = m.Rows();
    double scale = 0.0;
    for (uint32_t r = 0; r < n; ++r)
        for (uint32_t c = 0; c < n; ++c)
            scale = std::fmax(scale, std::fabs(m[r][c]));
    if (scale == 0.0)
        throw Error(kErrorMatrixMath, "singular matrix");

    Matrix a = m;
    Matrix inv = Matrix::Identity(n);
    for (uint32_t col = 0; col < n; ++col) {
        uint32_t pivot = col;
        for (uint32_t r = col + 1; r < n; ++r)
            if (std::fabs(a[r][col]) > std::fabs(a[pivot][col]))
                pivot = r;
        if (!(std::fabs(a[pivot][col]) > scale * kSingularTolerance))
            throw Error(kErrorMatrixMath, "singular matrix");
        if (pivot != col) {
            for (uint32_t c = 0; c < n; ++c) {
                std::swap(a[col][c], a[pivot][c]);
                std::swap(inv[col][c], inv[pivot][c]);
            }
        }
        const double p = a[col][col];
        for (uint32_t c = 0; c < n; ++c) {
            a[col][c] /= p;
            inv[col][c] /= p;
        }
        for (uint32_t r = 0; r < n; ++r) {
            if (r == col)
                continue;
            const double f = a[r][col];
            if (f == 0.0)
                continue;
            for (uint32_t c = 0; c < n; ++c) {
                a[r][c] -= f * a[col][c];
                inv[r][c] -= f * inv[col][c];
            }
        }
    }
    if (!IsFinite(inv))
        throw Error(kErrorMatrixMath, "matrix inverse overflows");
    return inv;
}

} // namespace

Vector::Vector(uint32_t count)
{
    CheckSize(count, 1);
    fCount = count;
}

Vector::Vector(std::initializer_list<double> values)
{
    CheckSize(static_cast<uint32_t>(values.size()), 1);
    for (double v : values)
        fData[fCount++] = v;
}

double Vector::MaxEntry() const
{
    if (fCount == 0)
        return 0.0;
    double m = fData[0];
    for (uint32_t i = 1; i < fCount; ++i)
        m = fData[i] > m ? fData[i] : m;
    return m;
}

double Vector::MinEntry() const
{
    if (fCount == 0)
        return 0.0;
    double m = fData[0];
    for (uint32_t i = 1; i < fCount; ++i)
        m = fData[i] < m ? fData[i] : m;
    return m;
}

void Vector::Scale(double factor)
{
    for (uint32_t i = 0; i < fCount; ++i)
        fData[i] *= factor;
}

bool operator==(const Vector& a, const Vector& b)
{
    if (a.fCount != b.fCount)
        return false;
    for (uint32_t i = 0; i < a.fCount; ++i)
        if (a.fData[i] != b.fData[i])
            return false;
    return true;
}

Matrix::Matrix(uint32_t rows, uint32_t cols)
{
    CheckSize(rows, cols);
    // A matrix with no rows has no columns either, so that all empty matrices compare equal.
    if (rows != 0 && cols != 0) {
        fRows = rows;
        fCols = cols;
    }
}

Matrix Matrix::Identity(uint32_t n)
{
    Matrix m(n, n);
    for (uint32_t i = 0; i < m.fRows; ++i)
        m.fData[i][i] = 1.0;
    return m;
}

Matrix Matrix::Diagonal(const Vector& v)
{
    Matrix m(v.Count(), v.Count());
    for (uint32_t i = 0; i < m.fRows; ++i)
        m.fData[i][i] = v[i];
    return m;
}

Matrix Matrix::FromRowMajor(uint32_t rows, uint32_t cols, const double* values)
{
    Matrix m(rows, cols);
    if (m.IsEmpty())
        return m;
    if (values == nullptr)
        throw Error(kErrorMatrixMath, "no values for a matrix");
    for (uint32_t r = 0; r < rows; ++r)
        for (uint32_t c = 0; c < cols; ++c)
            m.fData[r][c] = values[r * cols + c];
    return m;
}

double Matrix::MaxEntry() const
{
    if (IsEmpty())
        return 0.0;
    double m = fData[0][0];
    for (uint32_t r = 0; r < fRows; ++r)
        for (uint32_t c = 0; c < fCols; ++c)
            m = fData[r][c] > m ? fData[r][c] : m;
    return m;
}

void Matrix::Scale(double factor)
{
    for (uint32_t r = 0; r < fRows; ++r)
        for (uint32_t c = 0; c < fCols; ++c)
            fData[r][c] *= factor;
}

Matrix operator*(const Matrix& a, const Matrix& b)
{
    if (a.IsEmpty() || b.IsEmpty() || a.fCols != b.fRows)
        ThrowSizeMismatch("a product");
    Matrix m(a.fRows, b.fCols);
    for (uint32_t r = 0; r < a.fRows; ++r)
        for (uint32_t c = 0; c < b.fCols; ++c) {
            double sum = 0.0;
            for (uint32_t k = 0; k < a.fCols; ++k)
                sum += a.fData[r][k] * b.fData[k][c];
            m.fData[r][c] = sum;
        }
    return m;
}

Vector operator*(const Matrix& a, const Vector& v)
{
    if (a.IsEmpty() || a.fCols != v.Count())
        ThrowSizeMismatch("a matrix-vector product");
    Vector out(a.fRows);
    for (uint32_t r = 0; r < a.fRows; ++r) {
        double sum = 0.0;
        for (uint32_t k = 0; k < a.fCols; ++k)
            sum += a.fData[r][k] * v[k];
        out[r] = sum;
    }
    return out;
}

Matrix operator+(const Matrix& a, const Matrix& b)
{
    if (a.fRows != b.fRows || a.fCols != b.fCols)
        ThrowSizeMismatch("a sum");
    Matrix m(a.fRows, a.fCols);
    for (uint32_t r = 0; r < a.fRows; ++r)
        for (uint32_t c = 0; c < a.fCols; ++c)
            m.fData[r][c] = a.fData[r][c] + b.fData[r][c];
    return m;
}

Matrix operator*(double s, const Matrix& m)
{
    Matrix out = m;
    out.Scale(s);
    return out;
}

bool operator==(const Matrix& a, const Matrix& b)
{
    if (a.fRows != b.fRows || a.fCols != b.fCols)
        return false;
    for (uint32_t r = 0; r < a.fRows; ++r)
        for (uint32_t c = 0; c < a.fCols; ++c)
            if (a.fData[r][c] != b.fData[r][c])
                return false;
    return true;
}

Matrix MatrixFromRationals(const std::vector<SRational>& values, uint32_t rows, uint32_t cols)
{
    if (rows == 0 || cols == 0 || rows > Matrix::kMax || cols > Matrix::kMax || values.size() != size_t(rows) * cols)
        return {};
    std::vector<double> d(values.size());
    for (size_t i = 0; i < values.size(); ++i)
        d[i] = values[i].As_real64();
    return Matrix::FromRowMajor(rows, cols, d.data());
}

Matrix Transpose(const Matrix& m)
{
    Matrix t(m.Cols(), m.Rows());
    for (uint32_t r = 0; r < m.Rows(); ++r)
        for (uint32_t c = 0; c < m.Cols(); ++c)
            t[c][r] = m[r][c];
    return t;
}

Matrix Invert(const Matrix& m)
{
    if (m.IsEmpty())
        throw Error(kErrorMatrixMath, "cannot invert an empty matrix");
    if (!IsFinite(m))
        throw Error(kErrorMatrixMath, "cannot invert a matrix with non-finite entries");
    if (m.Rows() == m.Cols())
        return InvertSquare(m);
    // Pseudo-inverse of a matrix of full rank: the least-squares solution for a tall matrix,
    // the minimum-norm one for a wide matrix.
    const Matrix t = Transpose(m);
    if (m.Rows() > m.Cols())
        return InvertSquare(t * m) * t;
    return t * InvertSquare(m * t);
}

} // namespace dng
