// Small dense matrices and vectors of doubles (at most 4 x 4) for the colour model.
#pragma once

#include "rational.h"

#include <cstdint>
#include <initializer_list>
#include <vector>

namespace dng {

class Vector {
public:
    static constexpr uint32_t kMax = 4;
    Vector() = default;
    explicit Vector(uint32_t count); // zeros
    Vector(std::initializer_list<double> values);

    uint32_t Count() const { return fCount; }
    bool IsEmpty() const { return fCount == 0; }
    double& operator[](uint32_t i) { return fData[i]; }
    double operator[](uint32_t i) const { return fData[i]; }
    double MaxEntry() const;
    double MinEntry() const;
    void Scale(double factor);
    friend bool operator==(const Vector& a, const Vector& b);

private:
    uint32_t fCount = 0;
    double fData[kMax] = {};
};

class Matrix {
public:
    static constexpr uint32_t kMax = 4;
    Matrix() = default;
    Matrix(uint32_t rows, uint32_t cols); // zeros
    static Matrix Identity(uint32_t n);
    static Matrix Diagonal(const Vector& v);
    // Row-major values; the count must be rows x cols.
    static Matrix FromRowMajor(uint32_t rows, uint32_t cols, const double* values);

    uint32_t Rows() const { return fRows; }
    uint32_t Cols() const { return fCols; }
    bool IsEmpty() const { return fRows == 0 || fCols == 0; }
    double* operator[](uint32_t row) { return fData[row]; }
    const double* operator[](uint32_t row) const { return fData[row]; }
    double MaxEntry() const;
    void Scale(double factor);

    friend Matrix operator*(const Matrix& a, const Matrix& b); // throws kErrorBadFormat on a size mismatch
    friend Vector operator*(const Matrix& a, const Vector& v);
    friend Matrix operator+(const Matrix& a, const Matrix& b);
    friend Matrix operator*(double s, const Matrix& m);
    friend bool operator==(const Matrix& a, const Matrix& b);

private:
    uint32_t fRows = 0;
    uint32_t fCols = 0;
    double fData[kMax][kMax] = {};
};

// A matrix from stored rationals (row by row), or an empty one when the count does not fit
// rows x cols or the size is beyond 4 x 4.
Matrix MatrixFromRationals(const std::vector<SRational>& values, uint32_t rows, uint32_t cols);

// Inverse of a square matrix (Gauss-Jordan with partial pivoting); for a non-square matrix the
// pseudo-inverse (A^T A)^-1 A^T. Throws Error(kErrorMatrixMath) when singular.
Matrix Invert(const Matrix& m);
Matrix Transpose(const Matrix& m);
// True when no entry is NaN or infinite.
bool IsFinite(const Matrix& m);

} // namespace dng
