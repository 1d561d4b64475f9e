// Field checks, character filters and rounding for the formatted controls.
//
// A check judges a field's whole text when the field loses the focus; a
// filter judges one typed character (its 8-bit code; any code above 255 is
// refused); the rounding functions work on amounts.
//
//   bool ok = CheckCodFiscale("BBBCCC90B02A000M");   // true
//   bool in = filter_digit_comma(',');               // true
//   double r = Round(2.675, 2);
//
// A null text is judged as the empty text.
#ifndef VKT_COMMON_CHECKS_H_
#define VKT_COMMON_CHECKS_H_

#include "vkt_export.h"

// --- checks ----------------------------------------------------------------
// Italian fiscal code: the first 16 characters, trailing blanks clipped; empty
// is accepted. Upper-case letters and digits only.
VKT_API bool CheckCodFiscale(const char* s);
// Italian VAT number: 11 digits with a correct check digit after trimming
// blanks at both ends (of the first 28 characters); empty is accepted.
VKT_API bool CheckPartIva(const char* s);
// CheckCodFiscale, or else CheckPartIva.
VKT_API bool CheckNumFiscale(const char* s);
// Exactly one of the letters named, in either case.
VKT_API bool CheckSesso(const char* s);           // m f
VKT_API bool CheckYesno(const char* s);           // s n
VKT_API bool CheckDareAvere(const char* s);       // d a
VKT_API bool CheckDareAvereSpace(const char* s);  // d a, or empty
VKT_API bool CheckCorrPrec(const char* s);        // c p

// --- filters ---------------------------------------------------------------
VKT_API bool filter_space(unsigned int c);        // all but the blank
VKT_API bool filter_letter(unsigned int c);       // isalpha
VKT_API bool filter_digit(unsigned int c);        // isdigit
VKT_API bool filter_phone(unsigned int c);        // isdigit
VKT_API bool filter_digit_star(unsigned int c);   // digits * ?
VKT_API bool filter_digit_comma(unsigned int c);  // digits ,
VKT_API bool filter_digit_dot(unsigned int c);    // digits .
VKT_API bool filter_sitecode(unsigned int c);     // hexadecimal digits
VKT_API bool filter_sesso(unsigned int c);        // m M f F
VKT_API bool filter_yesno(unsigned int c);        // s S n N
VKT_API bool filter_annomese(unsigned int c);     // a A m M
VKT_API bool filter_dareavere(unsigned int c);    // d D a A
VKT_API bool filter_corrprec(unsigned int c);     // c C p P
// 0-9, A-Z and a-z except F, J and K.
VKT_API bool filter_cau_pag_rit_acc(unsigned int c);
// Nothing: the field takes only what the program writes.
VKT_API bool filter_all(unsigned int c);
VKT_API bool filter_space_letter(unsigned int c);  // as filter_space

// --- rounding --------------------------------------------------------------
// These set the C library's locale for all categories to the one with "." as
// decimal point, for the rest of the process (see checks.cc).

// x at d decimals, halves upwards (-1.5 gives -1).
VKT_API double Round(double x, short d);
// x rounded towards +inf / -inf at d decimals.
VKT_API double MyCeil(double x, short d);
VKT_API double MyFloor(double x, short d);
// x rounded up to a multiple of 0.05.
VKT_API double CeilToFiveCents(double x);
// Cuts the trailing zeros after the first `sep`, and `sep` itself when
// nothing is left after it. No `sep` (or sep NUL): unchanged.
VKT_API void ClearZeri(char* s, char sep);
// For |*v| <= 1: sets *v to 0 and returns 1 when it shows as zero at d
// decimals, otherwise truncates it to d decimals and returns 0. Larger
// values, NaN and d outside 0..8 return 0 with *v unchanged.
VKT_API int TestIfZero(double* v, short d);
VKT_API int TestIfZero(float* v, short d);

#endif  // VKT_COMMON_CHECKS_H_
