// A complex number in double precision, the value type of the 512-point FFT.
#pragma once

#include <cmath>

class CComplex {
 public:
  CComplex() = default;
  CComplex(double dReal, double dImag) : m_dReal(dReal), m_dImag(dImag) {}

  double GetReal() const { return m_dReal; }
  double GetImag() const { return m_dImag; }

  // sqrt(re^2 + im^2), computed directly.
  double GetMagnitude() const { return std::sqrt(m_dReal * m_dReal + m_dImag * m_dImag); }

  CComplex& operator+=(const CComplex& b) {
    m_dReal = m_dReal + b.m_dReal;
    m_dImag = m_dImag + b.m_dImag;
    return *this;
  }
  CComplex& operator-=(const CComplex& b) {
    m_dReal = m_dReal - b.m_dReal;
    m_dImag = m_dImag - b.m_dImag;
    return *this;
  }
  // Both parts come from the old values.
  CComplex& operator*=(const CComplex& b) {
    const double dReal = m_dReal * b.m_dReal - m_dImag * b.m_dImag;
    const double dImag = m_dReal * b.m_dImag + m_dImag * b.m_dReal;
    m_dReal = dReal;
    m_dImag = dImag;
    return *this;
  }

  friend CComplex operator+(CComplex a, const CComplex& b) { return a += b; }
  friend CComplex operator-(CComplex a, const CComplex& b) { return a -= b; }
  friend CComplex operator*(CComplex a, const CComplex& b) { return a *= b; }

 private:
  double m_dReal = 0.0;
  double m_dImag = 0.0;
};
