#pragma once
// 16-byte complex element of FFT spectra: real part, then imaginary part.
struct ComplexValue {
    double re;
    double im;
};
