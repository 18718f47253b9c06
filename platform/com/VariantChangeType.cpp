// VariantChangeType(Ex): conversions between the value types of a VARIANT
// with the English (United States) texts. See Variant.h for the contract.
#include "platform/com/Variant.h"

#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <optional>
#include <string>

namespace {

// ---------------------------------------------------------------------------
// Numbers

// A numeric source value in a form that loses nothing: integers exactly as
// sign and magnitude (so that text beyond the 64-bit range still overflows
// every integer target), reals as double, currency as its scaled count.
struct Number {
    enum Kind { Integer, Real, Currency } kind = Integer;
    bool neg = false; // Integer
    uint64_t mag = 0; // Integer
    double d = 0;     // Real
    int64_t cy = 0;   // Currency
    // A boolean: VARIANT_TRUE becomes the all-ones value of an unsigned
    // target instead of overflowing.
    bool fromBool = false;

    static Number ofMagnitude(bool neg, uint64_t mag) {
        Number n;
        n.neg = neg && mag != 0;
        n.mag = mag;
        return n;
    }
    static Number ofSigned(int64_t v) {
        return ofMagnitude(v < 0, v < 0 ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v));
    }
    static Number ofUnsigned(uint64_t v) { return ofMagnitude(false, v); }
    static Number ofReal(double v) {
        Number n;
        n.kind = Real;
        n.d = v;
        return n;
    }
    static Number ofCurrency(int64_t v) {
        Number n;
        n.kind = Currency;
        n.cy = v;
        return n;
    }
};

constexpr int64_t kCyScale = 10000;
// The range of a DATE: 1 January 100 to 31 December 9999, exclusive of the
// day after.
constexpr double kDateMin = -657435.0;
constexpr double kDateMax = 2958466.0;
constexpr double kTwo63 = 9223372036854775808.0;
constexpr double kTwo64 = 18446744073709551616.0;

// Rounds half to even, independent of the floating-point rounding mode.
double roundHalfEven(double d) {
    const double r = std::floor(d);
    const double diff = d - r;
    if (diff > 0.5 || (diff == 0.5 && std::fmod(r, 2.0) != 0.0)) return r + 1.0;
    return r;
}

// The integer value of n as sign and magnitude, rounded half to even.
HRESULT toSignMagnitude(const Number& n, bool& neg, uint64_t& mag) {
    switch (n.kind) {
    case Number::Integer:
        neg = n.neg;
        mag = n.mag;
        return S_OK;
    case Number::Real: {
        if (std::isnan(n.d)) return DISP_E_OVERFLOW;
        const double r = roundHalfEven(n.d);
        if (r <= -kTwo64 || r >= kTwo64) return DISP_E_OVERFLOW;
        neg = r < 0;
        mag = static_cast<uint64_t>(std::fabs(r));
        return S_OK;
    }
    case Number::Currency: {
        neg = n.cy < 0;
        const uint64_t m = neg ? 0 - static_cast<uint64_t>(n.cy) : static_cast<uint64_t>(n.cy);
        uint64_t q = m / kCyScale;
        const uint64_t r = m % kCyScale;
        if (r > kCyScale / 2 || (r == kCyScale / 2 && (q & 1))) ++q;
        mag = q;
        return S_OK;
    }
    }
    return DISP_E_TYPEMISMATCH;
}

// n as an integer in [min, max], or DISP_E_OVERFLOW.
HRESULT toSigned(const Number& n, int64_t min, int64_t max, int64_t& out) {
    bool neg = false;
    uint64_t mag = 0;
    HRESULT hr = toSignMagnitude(n, neg, mag);
    if (FAILED(hr)) return hr;
    if (neg) {
        if (mag > 0 - static_cast<uint64_t>(min)) return DISP_E_OVERFLOW;
        out = static_cast<int64_t>(0 - mag);
    } else {
        if (mag > static_cast<uint64_t>(max)) return DISP_E_OVERFLOW;
        out = static_cast<int64_t>(mag);
    }
    return S_OK;
}

HRESULT toUnsigned(const Number& n, uint64_t max, uint64_t& out) {
    if (n.fromBool) {
        out = (n.neg ? 0 - n.mag : n.mag) & max; // VARIANT_TRUE: all ones
        return S_OK;
    }
    bool neg = false;
    uint64_t mag = 0;
    HRESULT hr = toSignMagnitude(n, neg, mag);
    if (FAILED(hr)) return hr;
    if ((neg && mag != 0) || mag > max) return DISP_E_OVERFLOW;
    out = mag;
    return S_OK;
}

double toDouble(const Number& n) {
    switch (n.kind) {
    case Number::Integer:
        return n.neg ? -static_cast<double>(n.mag) : static_cast<double>(n.mag);
    case Number::Real:
        return n.d;
    case Number::Currency:
        return static_cast<double>(n.cy) / kCyScale;
    }
    return 0;
}

HRESULT toCurrency(const Number& n, int64_t& out) {
    constexpr uint64_t kMax = std::numeric_limits<int64_t>::max() / kCyScale;
    switch (n.kind) {
    case Number::Integer:
        if (n.mag > kMax) return DISP_E_OVERFLOW;
        out = static_cast<int64_t>(n.mag) * kCyScale * (n.neg ? -1 : 1);
        return S_OK;
    case Number::Real: {
        const double r = roundHalfEven(n.d * kCyScale);
        if (!(r >= -kTwo63 && r < kTwo63)) return DISP_E_OVERFLOW;
        out = static_cast<int64_t>(r);
        return S_OK;
    }
    case Number::Currency:
        out = n.cy;
        return S_OK;
    }
    return DISP_E_TYPEMISMATCH;
}

bool isZero(const Number& n) {
    switch (n.kind) {
    case Number::Integer:
        return n.mag == 0;
    case Number::Real:
        return n.d == 0;
    case Number::Currency:
        return n.cy == 0;
    }
    return true;
}

// ---------------------------------------------------------------------------
// Text

bool isBlank(char16_t c) {
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == 0xA0;
}

std::u16string_view trim(std::u16string_view s) {
    while (!s.empty() && isBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

bool isDigit(char16_t c) {
    return c >= u'0' && c <= u'9';
}

bool equalsIgnoringCase(std::u16string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char16_t c = a[i];
        if (c >= u'A' && c <= u'Z') c = char16_t(c - u'A' + u'a');
        if (c != char16_t(b[i])) return false;
    }
    return true;
}

// Parses number text: blanks around, a sign in front or behind, or
// parentheses for negative, an optional "$", "," between digits of the
// integer part, a decimal point and an exponent. Integers that fit 64 bits
// stay exact. DISP_E_TYPEMISMATCH for anything else, DISP_E_OVERFLOW for a
// real beyond the double range.
HRESULT parseNumber(std::u16string_view text, Number& out) {
    std::u16string_view s = trim(text);
    bool neg = false, signSeen = false, paren = false;
    auto takeSign = [&]() {
        if (!signSeen && !s.empty() && (s.front() == u'-' || s.front() == u'+')) {
            neg = s.front() == u'-';
            signSeen = true;
            s.remove_prefix(1);
        }
    };
    if (!s.empty() && s.front() == u'(') {
        paren = true;
        s.remove_prefix(1);
    }
    takeSign();
    if (!s.empty() && s.front() == u'$') s.remove_prefix(1);
    takeSign();

    std::string digits;   // integer and fraction digits, no separators
    size_t intDigits = 0; // how many of them precede the decimal point
    bool point = false;
    size_t i = 0;
    for (; i < s.size(); ++i) {
        const char16_t c = s[i];
        if (isDigit(c)) {
            digits += char(c);
            if (!point) ++intDigits;
        } else if (c == u',' && !point && intDigits > 0) {
            continue;
        } else if (c == u'.' && !point) {
            point = true;
        } else {
            break;
        }
    }
    if (digits.empty()) return DISP_E_TYPEMISMATCH;

    int64_t exponent = 0;
    bool hasExponent = false;
    if (i < s.size() && (s[i] == u'e' || s[i] == u'E')) {
        ++i;
        bool expNeg = false;
        if (i < s.size() && (s[i] == u'+' || s[i] == u'-')) expNeg = s[i++] == u'-';
        if (i >= s.size() || !isDigit(s[i])) return DISP_E_TYPEMISMATCH;
        for (; i < s.size() && isDigit(s[i]); ++i)
            if (exponent < 100000) exponent = exponent * 10 + (s[i] - u'0');
        if (expNeg) exponent = -exponent;
        hasExponent = true;
    }
    s.remove_prefix(i);
    s = trim(s);
    takeSign();
    if (paren) {
        if (s.empty() || s.front() != u')' || signSeen) return DISP_E_TYPEMISMATCH;
        s.remove_prefix(1);
        neg = true;
    }
    if (!trim(s).empty()) return DISP_E_TYPEMISMATCH;

    if (!point && !hasExponent) {
        uint64_t mag = 0;
        const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), mag);
        if (ec == std::errc() && end == digits.data() + digits.size()) {
            out = Number::ofMagnitude(neg, mag);
            return S_OK;
        }
    }

    std::string plain = digits.substr(0, intDigits);
    if (plain.empty()) plain.push_back('0');
    if (intDigits < digits.size()) plain.append(".").append(digits, intDigits);
    if (hasExponent) plain.append("e").append(std::to_string(exponent));
    double value = 0;
    const auto [end, ec] = std::from_chars(plain.data(), plain.data() + plain.size(), value);
    if (ec == std::errc::result_out_of_range) {
        // Overflow or underflow: decide by the decimal order of magnitude.
        const size_t firstSignificant = digits.find_first_not_of('0');
        if (firstSignificant == std::string::npos) {
            value = 0;
        } else {
            const int64_t order = int64_t(intDigits) - int64_t(firstSignificant) - 1 + exponent;
            if (order > 0) return DISP_E_OVERFLOW;
            value = 0;
        }
    } else if (ec != std::errc() || end != plain.data() + plain.size()) {
        return DISP_E_TYPEMISMATCH;
    }
    out = Number::ofReal(neg ? -value : value);
    return S_OK;
}

BSTR allocText(const std::string& ascii) {
    std::u16string wide(ascii.begin(), ascii.end());
    return SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
}

std::string formatReal(double d, int digits) {
    if (d == 0) return "0"; // also for negative zero
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*G", digits, d);
    return buf;
}

std::string formatCurrency(int64_t cy) {
    const bool neg = cy < 0;
    const uint64_t m = neg ? 0 - static_cast<uint64_t>(cy) : static_cast<uint64_t>(cy);
    std::string text(neg ? "-" : "");
    text.append(std::to_string(m / kCyScale));
    if (uint64_t frac = m % kCyScale) {
        char buf[8];
        std::snprintf(buf, sizeof buf, "%04u", static_cast<unsigned>(frac));
        std::string f = buf;
        f.erase(f.find_last_not_of('0') + 1);
        text.append(".").append(f);
    }
    return text;
}

// ---------------------------------------------------------------------------
// Dates

// Days from 1970-01-01 to the civil date (proleptic Gregorian).
constexpr int64_t daysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void civilFromDays(int64_t z, int64_t& y, unsigned& m, unsigned& d) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y = static_cast<int64_t>(yoe) + era * 400 + (m <= 2);
}

constexpr int64_t kDateEpoch = daysFromCivil(1899, 12, 30);
static_assert(kDateEpoch == -25569);

unsigned daysInMonth(int64_t y, unsigned m) {
    static constexpr unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    return m == 2 && leap ? 29 : kDays[m - 1];
}

// "M/D/YYYY h:mm:ss AM": the date alone at midnight, the time alone on day 0.
HRESULT formatDate(DATE date, std::string& out) {
    if (!(date > kDateMin && date < kDateMax)) return DISP_E_OVERFLOW;
    int64_t day = static_cast<int64_t>(date); // toward zero; the time counts forward
    int64_t secs = std::llround(std::fabs(date - static_cast<double>(day)) * 86400.0);
    if (secs >= 86400) {
        secs -= 86400;
        ++day;
    }
    char buf[64];
    out.clear();
    if (day != 0) {
        int64_t y;
        unsigned m, d;
        civilFromDays(day + kDateEpoch, y, m, d);
        std::snprintf(buf, sizeof buf, "%u/%u/%lld", m, d, static_cast<long long>(y));
        out = buf;
    }
    if (secs != 0 || day == 0) {
        const unsigned h = static_cast<unsigned>(secs / 3600);
        const unsigned h12 = h % 12 == 0 ? 12 : h % 12;
        std::snprintf(buf, sizeof buf, "%u:%02u:%02u %s", h12,
                      static_cast<unsigned>(secs / 60 % 60), static_cast<unsigned>(secs % 60),
                      h < 12 ? "AM" : "PM");
        if (!out.empty()) out += ' ';
        out += buf;
    }
    return S_OK;
}

// Reads up to `maxDigits` decimal digits.
bool readNumber(std::u16string_view& s, unsigned maxDigits, unsigned& value, unsigned& count) {
    value = 0;
    count = 0;
    while (!s.empty() && isDigit(s.front()) && count < maxDigits) {
        value = value * 10 + (s.front() - u'0');
        s.remove_prefix(1);
        ++count;
    }
    return count > 0;
}

// Parses "M/D/YYYY" or "YYYY-MM-DD", optionally followed by a time, or a time
// alone: "h:mm[:ss]" with an optional "AM"/"PM".
HRESULT parseDate(std::u16string_view text, DATE& out) {
    std::u16string_view s = trim(text);
    int64_t day = 0;
    unsigned a, b, c, na, nb, nc;
    std::u16string_view probe = s;
    const bool hasDate = readNumber(probe, 4, a, na) && !probe.empty() &&
                         (probe.front() == u'/' || probe.front() == u'-');
    if (hasDate) {
        const char16_t sep = probe.front();
        probe.remove_prefix(1);
        if (!readNumber(probe, 2, b, nb) || probe.empty() || probe.front() != sep)
            return DISP_E_TYPEMISMATCH;
        probe.remove_prefix(1);
        if (!readNumber(probe, 4, c, nc)) return DISP_E_TYPEMISMATCH;
        int64_t y;
        unsigned m, d;
        if (sep == u'-') {
            if (na != 4) return DISP_E_TYPEMISMATCH;
            y = a, m = b, d = c;
        } else {
            m = a, d = b, y = c;
            if (na > 2) return DISP_E_TYPEMISMATCH;
            if (nc <= 2) y += y < 30 ? 2000 : 1900;
        }
        if (y < 100 || y > 9999 || m < 1 || m > 12 || d < 1 || d > daysInMonth(y, m))
            return DISP_E_TYPEMISMATCH;
        day = daysFromCivil(y, m, d) - kDateEpoch;
        s = trim(probe);
    }
    int64_t secs = 0;
    if (!s.empty()) {
        unsigned h, mi, sec = 0, nh, nm, ns;
        if (!readNumber(s, 2, h, nh) || s.empty() || s.front() != u':') return DISP_E_TYPEMISMATCH;
        s.remove_prefix(1);
        if (!readNumber(s, 2, mi, nm) || nm != 2) return DISP_E_TYPEMISMATCH;
        if (!s.empty() && s.front() == u':') {
            s.remove_prefix(1);
            if (!readNumber(s, 2, sec, ns) || ns != 2) return DISP_E_TYPEMISMATCH;
        }
        s = trim(s);
        if (!s.empty()) {
            const bool pm = equalsIgnoringCase(s, "pm");
            if (!pm && !equalsIgnoringCase(s, "am")) return DISP_E_TYPEMISMATCH;
            if (h < 1 || h > 12) return DISP_E_TYPEMISMATCH;
            h = h % 12 + (pm ? 12 : 0);
        }
        if (h > 23 || mi > 59 || sec > 59) return DISP_E_TYPEMISMATCH;
        secs = h * 3600 + mi * 60 + sec;
    } else if (!hasDate) {
        return DISP_E_TYPEMISMATCH;
    }
    const double time = static_cast<double>(secs) / 86400.0;
    out = static_cast<double>(day) + (day < 0 ? -time : time);
    return S_OK;
}

// ---------------------------------------------------------------------------
// The conversion

// The numeric value of a plain (not by-reference, not array) variant.
HRESULT numberOf(const VARIANT& v, Number& n) {
    switch (v.vt) {
    case VT_EMPTY:
        n = Number::ofSigned(0);
        return S_OK;
    case VT_I1:
        n = Number::ofSigned(static_cast<signed char>(v.cVal));
        return S_OK;
    case VT_UI1:
        n = Number::ofSigned(v.bVal);
        return S_OK;
    case VT_I2:
        n = Number::ofSigned(v.iVal);
        return S_OK;
    case VT_UI2:
        n = Number::ofSigned(v.uiVal);
        return S_OK;
    case VT_I4:
        n = Number::ofSigned(v.lVal);
        return S_OK;
    case VT_INT:
        n = Number::ofSigned(v.intVal);
        return S_OK;
    case VT_UI4:
        n = Number::ofSigned(v.ulVal);
        return S_OK;
    case VT_UINT:
        n = Number::ofSigned(v.uintVal);
        return S_OK;
    case VT_I8:
        n = Number::ofSigned(v.llVal);
        return S_OK;
    case VT_UI8:
        n = Number::ofUnsigned(v.ullVal);
        return S_OK;
    case VT_BOOL:
        n = Number::ofSigned(v.boolVal);
        n.fromBool = true;
        return S_OK;
    case VT_R4:
        n = Number::ofReal(v.fltVal);
        return S_OK;
    case VT_R8:
        n = Number::ofReal(v.dblVal);
        return S_OK;
    case VT_DATE:
        n = Number::ofReal(v.date);
        return S_OK;
    case VT_CY:
        n = Number::ofCurrency(v.cyVal.int64);
        return S_OK;
    case VT_BSTR:
        return parseNumber({v.bstrVal ? v.bstrVal : u"", SysStringLen(v.bstrVal)}, n);
    case VT_DECIMAL:
        return DISP_E_BADVARTYPE;
    default:
        return DISP_E_TYPEMISMATCH;
    }
}

// Whether a boolean becomes a word rather than its number. The words are the
// English ones: the only texts here, so VARIANT_LOCALBOOL gives them too.
bool wordsForBooleans(USHORT flags) {
    return (flags & (VARIANT_ALPHABOOL | VARIANT_LOCALBOOL)) != 0;
}

HRESULT toText(const VARIANT& v, USHORT flags, VARIANT& out) {
    std::string text;
    switch (v.vt) {
    case VT_EMPTY:
        break;
    case VT_BOOL:
        // Without the word flags a boolean converts through its number, so
        // VARIANT_TRUE becomes "-1"; callers that show or compare the text
        // (query parameters among them) rely on that, as on Windows.
        if (!wordsForBooleans(flags)) {
            text = std::to_string(v.boolVal);
            break;
        }
        text = v.boolVal != VARIANT_FALSE ? "True" : "False";
        break;
    case VT_R4:
        text = formatReal(v.fltVal, 7);
        break;
    case VT_R8:
        text = formatReal(v.dblVal, 15);
        break;
    case VT_CY:
        text = formatCurrency(v.cyVal.int64);
        break;
    case VT_DATE: {
        const HRESULT hr = formatDate(v.date, text);
        if (FAILED(hr)) return hr;
        break;
    }
    default: {
        Number n;
        const HRESULT hr = numberOf(v, n);
        if (FAILED(hr)) return hr;
        if (n.kind != Number::Integer) return DISP_E_TYPEMISMATCH;
        text.clear();
        if (n.neg) text.push_back('-');
        text += std::to_string(n.mag);
    }
    }
    out.bstrVal = allocText(text);
    if (!out.bstrVal) return E_OUTOFMEMORY;
    out.vt = VT_BSTR;
    return S_OK;
}

// Text to boolean, whatever the flags: the whole text "True" or "False" in
// any case, or the literals "#TRUE#" / "#FALSE#" exactly as written, else a
// number, true when it is not 0. Blanks around a word are not taken, as on
// Windows; a number may have them.
HRESULT toBool(const VARIANT& v, VARIANT& out) {
    if (v.vt == VT_BSTR) {
        const std::u16string_view text{v.bstrVal ? v.bstrVal : u"", SysStringLen(v.bstrVal)};
        std::optional<VARIANT_BOOL> word;
        if (equalsIgnoringCase(text, "true") || text == u"#TRUE#")
            word = VARIANT_TRUE;
        else if (equalsIgnoringCase(text, "false") || text == u"#FALSE#")
            word = VARIANT_FALSE;
        if (word) {
            out.vt = VT_BOOL;
            out.boolVal = *word;
            return S_OK;
        }
    }
    Number n;
    const HRESULT hr = numberOf(v, n);
    if (FAILED(hr)) return hr;
    out.vt = VT_BOOL;
    out.boolVal = isZero(n) ? VARIANT_FALSE : VARIANT_TRUE;
    return S_OK;
}

template <class T> HRESULT storeSigned(const Number& n, T& field, VARIANT& out, VARTYPE vt) {
    int64_t value = 0;
    const HRESULT hr =
        toSigned(n, std::numeric_limits<T>::min(), std::numeric_limits<T>::max(), value);
    if (FAILED(hr)) return hr;
    field = static_cast<T>(value);
    out.vt = vt;
    return S_OK;
}

template <class T> HRESULT storeUnsigned(const Number& n, T& field, VARIANT& out, VARTYPE vt) {
    uint64_t value = 0;
    const HRESULT hr = toUnsigned(n, std::numeric_limits<T>::max(), value);
    if (FAILED(hr)) return hr;
    field = static_cast<T>(value);
    out.vt = vt;
    return S_OK;
}

HRESULT toNumeric(const VARIANT& v, VARTYPE vt, VARIANT& out) {
    Number n;
    HRESULT hr;
    if (vt == VT_DATE && v.vt == VT_BSTR) {
        DATE date = 0;
        hr = parseDate({v.bstrVal ? v.bstrVal : u"", SysStringLen(v.bstrVal)}, date);
        if (FAILED(hr)) return hr;
        n = Number::ofReal(date);
    } else {
        hr = numberOf(v, n);
        if (FAILED(hr)) return hr;
    }
    switch (vt) {
    case VT_I1: {
        signed char c = 0;
        hr = storeSigned(n, c, out, VT_I1);
        out.cVal = static_cast<char>(c);
        return hr;
    }
    case VT_I2:
        return storeSigned(n, out.iVal, out, vt);
    case VT_I4:
        return storeSigned(n, out.lVal, out, vt);
    case VT_INT:
        return storeSigned(n, out.intVal, out, vt);
    case VT_I8:
        return storeSigned(n, out.llVal, out, vt);
    case VT_UI1:
        return storeUnsigned(n, out.bVal, out, vt);
    case VT_UI2:
        return storeUnsigned(n, out.uiVal, out, vt);
    case VT_UI4:
        return storeUnsigned(n, out.ulVal, out, vt);
    case VT_UINT:
        return storeUnsigned(n, out.uintVal, out, vt);
    case VT_UI8:
        return storeUnsigned(n, out.ullVal, out, vt);
    case VT_R4: {
        const double d = toDouble(n);
        if (std::isfinite(d) && std::fabs(d) > FLT_MAX) return DISP_E_OVERFLOW;
        out.fltVal = static_cast<float>(d);
        out.vt = VT_R4;
        return S_OK;
    }
    case VT_R8:
        out.dblVal = toDouble(n);
        out.vt = VT_R8;
        return S_OK;
    case VT_DATE: {
        const double d = toDouble(n);
        if (!(d > kDateMin && d < kDateMax)) return DISP_E_OVERFLOW;
        out.date = d;
        out.vt = VT_DATE;
        return S_OK;
    }
    case VT_CY:
        hr = toCurrency(n, out.cyVal.int64);
        if (SUCCEEDED(hr)) out.vt = VT_CY;
        return hr;
    default:
        return DISP_E_BADVARTYPE;
    }
}

bool isValueType(VARTYPE vt) {
    switch (vt) {
    case VT_EMPTY:
    case VT_I1:
    case VT_UI1:
    case VT_I2:
    case VT_UI2:
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
    case VT_I8:
    case VT_UI8:
    case VT_R4:
    case VT_R8:
    case VT_CY:
    case VT_DATE:
    case VT_BOOL:
    case VT_BSTR:
        return true;
    default:
        return false;
    }
}

HRESULT convert(const VARIANT& v, VARTYPE vt, LCID lcid, USHORT flags, VARIANT& out);

// An object converts to a value through its value property (DISPID_VALUE,
// read with no arguments), unless VARIANT_NOVALUEPROP forbids it. The
// property's own value converts with the same flags, but is not asked for a
// value property in turn, so an object that answers itself cannot recurse.
HRESULT fromValueProperty(IDispatch* object, VARTYPE vt, LCID lcid, USHORT flags, VARIANT& out) {
    if (!object || (flags & VARIANT_NOVALUEPROP)) return DISP_E_TYPEMISMATCH;
    DISPPARAMS noArguments{nullptr, nullptr, 0, 0};
    VARIANT property;
    VariantInit(&property);
    HRESULT hr = E_FAIL;
    try {
        hr = object->Invoke(DISPID_VALUE, GUID_NULL, lcid, DISPATCH_PROPERTYGET, &noArguments,
                            &property, nullptr, nullptr);
    } catch (...) {
        hr = E_FAIL;
    }
    if (FAILED(hr)) {
        VariantClear(&property);
        return DISP_E_TYPEMISMATCH;
    }
    VARIANT value;
    VariantInit(&value);
    hr = VariantCopyInd(&value, &property);
    VariantClear(&property);
    if (FAILED(hr)) return hr;
    if (value.vt == vt) {
        std::memcpy(static_cast<void*>(&out), &value, sizeof(VARIANT));
        return S_OK;
    }
    hr = convert(value, vt, lcid, flags | VARIANT_NOVALUEPROP, out);
    VariantClear(&value);
    return hr;
}

// Converts the plain, valid variant `v` (not of type vt) into uninitialised
// `out`; on failure `out` is VT_EMPTY and owns nothing.
HRESULT convert(const VARIANT& v, VARTYPE vt, LCID lcid, USHORT flags, VARIANT& out) {
    VariantInit(&out);
    if ((v.vt & VT_ARRAY) || (vt & VT_ARRAY)) return DISP_E_TYPEMISMATCH;
    // VARIANT_NOVALUEPROP turns an object away from every target but
    // VT_UNKNOWN, VT_EMPTY included, as on Windows.
    if (v.vt == VT_DISPATCH && (flags & VARIANT_NOVALUEPROP) && vt != VT_UNKNOWN)
        return DISP_E_TYPEMISMATCH;
    if (vt == VT_EMPTY) return S_OK;
    if (vt == VT_NULL) {
        if (v.vt != VT_EMPTY) return DISP_E_TYPEMISMATCH;
        out.vt = VT_NULL;
        return S_OK;
    }
    if (vt == VT_UNKNOWN || vt == VT_DISPATCH) {
        if (v.vt != VT_UNKNOWN && v.vt != VT_DISPATCH) return DISP_E_TYPEMISMATCH;
        void* p = nullptr;
        if (v.punkVal) {
            const HRESULT hr =
                v.punkVal->QueryInterface(vt == VT_UNKNOWN ? IID_IUnknown : IID_IDispatch, &p);
            if (FAILED(hr)) return hr;
        }
        out.punkVal = static_cast<IUnknown*>(p);
        out.vt = vt;
        return S_OK;
    }
    if (v.vt == VT_DECIMAL) return DISP_E_BADVARTYPE;
    if (v.vt == VT_DISPATCH && isValueType(vt)) {
        const HRESULT hr = fromValueProperty(v.pdispVal, vt, lcid, flags, out);
        if (FAILED(hr)) VariantInit(&out);
        return hr;
    }
    if (!isValueType(v.vt) || !isValueType(vt)) return DISP_E_TYPEMISMATCH;
    HRESULT hr;
    try {
        hr = vt == VT_BSTR   ? toText(v, flags, out)
             : vt == VT_BOOL ? toBool(v, out)
                             : toNumeric(v, vt, out);
    } catch (...) {
        hr = E_OUTOFMEMORY; // a text buffer could not grow; nothing was stored yet
    }
    if (FAILED(hr)) VariantInit(&out);
    return hr;
}

// A target type a conversion can produce.
HRESULT validateTarget(VARTYPE vt) {
    if (vt & ~(VT_TYPEMASK | VT_ARRAY)) return DISP_E_BADVARTYPE; // VT_BYREF and the rest
    const VARTYPE base = vt & VT_TYPEMASK;
    if (base > VT_UINT || base == 15 || base == VT_DECIMAL || base == VT_VARIANT)
        return (vt & VT_ARRAY) && base == VT_VARIANT ? S_OK : DISP_E_BADVARTYPE;
    if ((vt & VT_ARRAY) && base <= VT_NULL) return DISP_E_BADVARTYPE;
    return S_OK;
}

} // namespace

// The flags honoured: VARIANT_ALPHABOOL and VARIANT_LOCALBOOL (booleans to
// words), VARIANT_NOVALUEPROP (objects are not asked for their value). The
// texts are always the English (United States) ones without user overrides,
// so VARIANT_NOUSEROVERRIDE changes nothing; the locale is passed to an
// object's value property only.
HRESULT VariantChangeTypeEx(VARIANTARG* pvargDest, const VARIANTARG* pvarSrc, LCID lcid,
                            USHORT wFlags, VARTYPE vt) {
    if (!pvargDest || !pvarSrc) return E_INVALIDARG;
    HRESULT hr = validateTarget(vt);
    if (FAILED(hr)) return hr;
    // Work on a dereferenced copy, so that the destination changes only once
    // everything has succeeded and dest == src needs no care.
    VARIANT value;
    VariantInit(&value);
    hr = VariantCopyInd(&value, pvarSrc);
    if (FAILED(hr)) return hr;
    VARIANT result;
    if (value.vt == vt) {
        std::memcpy(static_cast<void*>(&result), &value, sizeof(VARIANT));
    } else {
        hr = convert(value, vt, lcid, wFlags, result);
        VariantClear(&value);
        if (FAILED(hr)) return hr;
    }
    hr = VariantClear(pvargDest);
    if (FAILED(hr)) {
        VariantClear(&result);
        return hr;
    }
    std::memcpy(static_cast<void*>(pvargDest), &result, sizeof(VARIANT));
    return S_OK;
}

HRESULT VariantChangeType(VARIANTARG* pvargDest, const VARIANTARG* pvarSrc, USHORT wFlags,
                          VARTYPE vt) {
    return VariantChangeTypeEx(pvargDest, pvarSrc, LOCALE_USER_DEFAULT, wFlags, vt);
}
