#include "platform/com/Variant.h"

#include "VariantTestObjects.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

constexpr LCID kEnglishUs = 1033;

std::u16string_view text(BSTR s) {
    return {s ? s : u"", SysStringLen(s)};
}

// The text a value converts to, or the failure code as text.
std::u16string toText(const VARIANT& v) {
    zeb::Variant out;
    const HRESULT hr = VariantChangeTypeEx(&out, &v, kEnglishUs, 0, VT_BSTR);
    if (FAILED(hr)) return u"error";
    return std::u16string(text(out.bstrVal));
}

// Converts text to `vt`; the result in `out`.
HRESULT fromText(const char16_t* s, VARTYPE vt, zeb::Variant& out) {
    zeb::Variant in(s);
    return VariantChangeTypeEx(&out, &in, kEnglishUs, 0, vt);
}

VARIANT currency(LONGLONG scaled) {
    VARIANT v;
    v.vt = VT_CY;
    v.cyVal.int64 = scaled;
    return v;
}

VARIANT date(DATE d) {
    VARIANT v;
    v.vt = VT_DATE;
    v.date = d;
    return v;
}

// The text of a value converted with `flags`, or the failure code as text.
std::u16string toTextWith(const VARIANT& v, USHORT flags) {
    zeb::Variant out;
    const HRESULT hr = VariantChangeTypeEx(&out, &v, kEnglishUs, flags, VT_BSTR);
    if (FAILED(hr)) return u"error";
    return std::u16string(text(out.bstrVal));
}

TEST(VariantChangeType, BooleansBecomeTheirNumberUnlessWordsAreAskedFor) {
    const zeb::Variant yes(true), no(false);
    EXPECT_EQ(toTextWith(yes, 0), u"-1");
    EXPECT_EQ(toTextWith(no, 0), u"0");
    EXPECT_EQ(toTextWith(yes, 0x04), u"-1");   // VARIANT_NOUSEROVERRIDE
    EXPECT_EQ(toTextWith(yes, 0x01), u"-1");   // VARIANT_NOVALUEPROP
    EXPECT_EQ(toTextWith(yes, 0x02), u"True"); // VARIANT_ALPHABOOL
    EXPECT_EQ(toTextWith(no, 0x02), u"False");
    EXPECT_EQ(toTextWith(yes, 0x10), u"True"); // VARIANT_LOCALBOOL: English here
    EXPECT_EQ(toTextWith(no, 0x12), u"False");

    VARIANT odd; // a boolean that is neither VARIANT_TRUE nor VARIANT_FALSE
    odd.vt = VT_BOOL;
    odd.boolVal = 1;
    EXPECT_EQ(toTextWith(odd, 0), u"1");
    EXPECT_EQ(toTextWith(odd, 0x02), u"True");

    zeb::Variant alpha;
    ASSERT_EQ(VariantChangeType(&alpha, &yes, 0x02, VT_BSTR), S_OK);
    EXPECT_EQ(text(alpha.bstrVal), u"True");
    zeb::Variant plain(true);
    ASSERT_EQ(plain.ChangeType(VT_BSTR), S_OK); // the default flags
    EXPECT_EQ(text(plain.bstrVal), u"-1");
}

TEST(VariantChangeType, TextBecomesBooleanFromWordsOrNumbers) {
    struct Case {
        const char16_t* in;
        VARIANT_BOOL out;
    } cases[] = {{u"True", VARIANT_TRUE},   {u"false", VARIANT_FALSE},   {u"TRUE", VARIANT_TRUE},
                 {u"#TRUE#", VARIANT_TRUE}, {u"#FALSE#", VARIANT_FALSE}, {u"0", VARIANT_FALSE},
                 {u"-1", VARIANT_TRUE},     {u"+1", VARIANT_TRUE},       {u"5", VARIANT_TRUE},
                 {u" 1 ", VARIANT_TRUE},    {u"0.0", VARIANT_FALSE},     {u"0.1", VARIANT_TRUE}};
    for (USHORT flags : {0x00, 0x02, 0x04, 0x10, 0x16}) {
        for (const Case& c : cases) {
            zeb::Variant in(c.in), out;
            ASSERT_EQ(VariantChangeTypeEx(&out, &in, kEnglishUs, flags, VT_BOOL), S_OK)
                << zeb::Bstr(c.in).toUtf8() << " flags " << flags;
            EXPECT_EQ(out.vt, VT_BOOL);
            EXPECT_EQ(out.boolVal, c.out) << zeb::Bstr(c.in).toUtf8() << " flags " << flags;
        }
    }
    // Words are taken whole; the "#...#" forms only as written.
    for (const char16_t* bad : {u"yes", u"On", u"", u" TRUE ", u"True ", u"#True#", u"#TRUE"}) {
        zeb::Variant out;
        EXPECT_EQ(fromText(bad, VT_BOOL, out), DISP_E_TYPEMISMATCH) << zeb::Bstr(bad).toUtf8();
    }

    // A boolean makes the round trip through its default text.
    zeb::Variant v(true);
    ASSERT_EQ(VariantChangeType(&v, &v, 0, VT_BSTR), S_OK);
    ASSERT_EQ(VariantChangeType(&v, &v, 0, VT_BOOL), S_OK);
    EXPECT_EQ(v.boolVal, VARIANT_TRUE);
}

TEST(VariantChangeType, NumbersPrintAsWindowsPrintsThem) {
    EXPECT_EQ(toText(zeb::Variant(-42)), u"-42");
    EXPECT_EQ(toText(zeb::Variant(std::numeric_limits<ULONGLONG>::max())), u"18446744073709551615");
    VARIANT i1;
    i1.vt = VT_I1;
    i1.cVal = -5;
    EXPECT_EQ(toText(i1), u"-5");

    EXPECT_EQ(toText(zeb::Variant(0.1)), u"0.1");
    EXPECT_EQ(toText(zeb::Variant(1e20)), u"1E+20");
    EXPECT_EQ(toText(zeb::Variant(1e15)), u"1E+15");
    EXPECT_EQ(toText(zeb::Variant(123456789012345.0)), u"123456789012345");
    EXPECT_EQ(toText(zeb::Variant(1.0 / 3)), u"0.333333333333333");
    EXPECT_EQ(toText(zeb::Variant(1e-5)), u"1E-05");
    EXPECT_EQ(toText(zeb::Variant(0.0001)), u"0.0001");
    EXPECT_EQ(toText(zeb::Variant(-0.0)), u"0");
    EXPECT_EQ(toText(zeb::Variant(-2.5)), u"-2.5");
    EXPECT_EQ(toText(zeb::Variant(0.1f)), u"0.1");
    EXPECT_EQ(toText(zeb::Variant(1.0f / 3)), u"0.3333333");

    EXPECT_EQ(toText(currency(15000)), u"1.5");
    EXPECT_EQ(toText(currency(-5)), u"-0.0005");
    EXPECT_EQ(toText(currency(1230000)), u"123");
}

TEST(VariantChangeType, TextBecomesNumbers) {
    struct Case {
        const char16_t* in;
        LONG out;
    } cases[] = {{u" 42 ", 42}, {u"1,000", 1000}, {u"(5)", -5},   {u"5-", -5},
                 {u"$3", 3},    {u"+7", 7},       {u"1e3", 1000}, {u"2.5", 2},
                 {u"3.5", 4},   {u"-2.5", -2},    {u".5", 0},     {u"1.5", 2}};
    for (const Case& c : cases) {
        zeb::Variant out;
        ASSERT_EQ(fromText(c.in, VT_I4, out), S_OK) << zeb::Bstr(c.in).toUtf8();
        EXPECT_EQ(out.lVal, c.out) << zeb::Bstr(c.in).toUtf8();
    }
    zeb::Variant big;
    ASSERT_EQ(fromText(u"18446744073709551615", VT_UI8, big), S_OK);
    EXPECT_EQ(big.ullVal, std::numeric_limits<ULONGLONG>::max());
    zeb::Variant real;
    ASSERT_EQ(fromText(u"0.1", VT_R8, real), S_OK);
    EXPECT_EQ(real.dblVal, 0.1);
    zeb::Variant cy;
    ASSERT_EQ(fromText(u"1.23456", VT_CY, cy), S_OK);
    EXPECT_EQ(cy.cyVal.int64, 12346);

    for (const char16_t* bad : {u"abc", u"", u"1e", u"1.2.3", u"(5", u"-5-", u"5 5", u",5"}) {
        zeb::Variant out;
        EXPECT_EQ(fromText(bad, VT_I4, out), DISP_E_TYPEMISMATCH) << zeb::Bstr(bad).toUtf8();
    }
}

TEST(VariantChangeType, ValuesThatDoNotFitOverflow) {
    zeb::Variant out;
    zeb::Variant big(70000), minusOne(-1), nan(std::nan("")), huge(1e39), loss(1e300);
    EXPECT_EQ(VariantChangeType(&out, &big, 0, VT_I2), DISP_E_OVERFLOW);
    EXPECT_EQ(VariantChangeType(&out, &minusOne, 0, VT_UI4), DISP_E_OVERFLOW);
    EXPECT_EQ(VariantChangeType(&out, &nan, 0, VT_I4), DISP_E_OVERFLOW);
    EXPECT_EQ(VariantChangeType(&out, &huge, 0, VT_R4), DISP_E_OVERFLOW);
    EXPECT_EQ(VariantChangeType(&out, &loss, 0, VT_CY), DISP_E_OVERFLOW);
    EXPECT_EQ(VariantChangeType(&out, &loss, 0, VT_DATE), DISP_E_OVERFLOW);
    EXPECT_EQ(VariantChangeType(&out, &loss, 0, VT_UI8), DISP_E_OVERFLOW);
    EXPECT_EQ(fromText(u"1e400", VT_R8, out), DISP_E_OVERFLOW);
    EXPECT_EQ(fromText(u"99999999999", VT_I4, out), DISP_E_OVERFLOW);
    EXPECT_EQ(fromText(u"-9223372036854775809", VT_I8, out), DISP_E_OVERFLOW);
    EXPECT_EQ(out.vt, VT_EMPTY); // failures leave the destination alone

    zeb::Variant edge;
    ASSERT_EQ(fromText(u"-9223372036854775808", VT_I8, edge), S_OK);
    EXPECT_EQ(edge.llVal, std::numeric_limits<LONGLONG>::min());
    ASSERT_EQ(VariantChangeType(&edge, &big, 0, VT_UI2), DISP_E_OVERFLOW);
    zeb::Variant yes(true);
    ASSERT_EQ(VariantChangeType(&edge, &yes, 0, VT_UI1), S_OK); // all ones, not overflow
    EXPECT_EQ(edge.bVal, 255);
}

TEST(VariantChangeType, CurrencyRoundsHalfToEven) {
    zeb::Variant out;
    VARIANT cy = currency(25000);
    ASSERT_EQ(VariantChangeType(&out, &cy, 0, VT_I4), S_OK);
    EXPECT_EQ(out.lVal, 2);
    cy = currency(-35000);
    ASSERT_EQ(VariantChangeType(&out, &cy, 0, VT_I4), S_OK);
    EXPECT_EQ(out.lVal, -4);
    zeb::Variant r(0.00005);
    ASSERT_EQ(VariantChangeType(&out, &r, 0, VT_CY), S_OK);
    EXPECT_EQ(out.cyVal.int64, 0);
}

TEST(VariantChangeType, DatesUseTheUsForm) {
    EXPECT_EQ(toText(date(36525.0)), u"12/31/1999");
    EXPECT_EQ(toText(date(36526.5)), u"1/1/2000 12:00:00 PM");
    EXPECT_EQ(toText(date(0.0)), u"12:00:00 AM");
    EXPECT_EQ(toText(date(0.75)), u"6:00:00 PM");
    EXPECT_EQ(toText(date(-1.25)), u"12/29/1899 6:00:00 AM");
    EXPECT_EQ(toText(date(1e10)), u"error");

    for (const char16_t* s : {u"1/1/2000 3:04:05 PM", u"2/29/2000", u"12:00:01 AM",
                              u"12/29/1899 6:00:00 AM", u"12/31/9999 11:59:59 PM"}) {
        zeb::Variant d;
        ASSERT_EQ(fromText(s, VT_DATE, d), S_OK) << zeb::Bstr(s).toUtf8();
        EXPECT_EQ(toText(d), s);
    }
    zeb::Variant d;
    ASSERT_EQ(fromText(u"2000-01-01 15:04", VT_DATE, d), S_OK);
    EXPECT_EQ(toText(d), u"1/1/2000 3:04:00 PM");
    for (const char16_t* bad : {u"2/30/2000", u"13/1/2000", u"1/1/2000 25:00", u"noon", u"5"})
        EXPECT_EQ(fromText(bad, VT_DATE, d), DISP_E_TYPEMISMATCH) << zeb::Bstr(bad).toUtf8();
}

TEST(VariantChangeType, ConvertsInPlaceAndThroughReferences) {
    zeb::Variant v(u"12");
    ASSERT_EQ(VariantChangeType(&v, &v, 0, VT_I4), S_OK);
    EXPECT_EQ(v.vt, VT_I4);
    EXPECT_EQ(v.lVal, 12);
    ASSERT_EQ(VariantChangeType(&v, &v, 0, VT_BSTR), S_OK);
    EXPECT_EQ(text(v.bstrVal), u"12");
    ASSERT_EQ(VariantChangeType(&v, &v, 0, VT_DATE), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(text(v.bstrVal), u"12"); // untouched on failure

    BSTR s = SysAllocString(u"-3");
    VARIANT ref;
    ref.vt = VT_BYREF | VT_BSTR;
    ref.pbstrVal = &s;
    ASSERT_EQ(VariantChangeType(&v, &ref, 0, VT_I2), S_OK);
    EXPECT_EQ(v.iVal, -3);
    ASSERT_EQ(VariantChangeType(&ref, &ref, 0, VT_R8), S_OK); // the reference becomes a value
    EXPECT_EQ(ref.dblVal, -3.0);
    SysFreeString(s);
}

TEST(VariantChangeType, RefusesTypesItCannotConvert) {
    zeb::Variant out, i4(1), null, empty;
    null.vt = VT_NULL;
    EXPECT_EQ(VariantChangeType(&out, &i4, 0, VT_BYREF | VT_I4), DISP_E_BADVARTYPE);
    EXPECT_EQ(VariantChangeType(&out, &i4, 0, 15), DISP_E_BADVARTYPE);
    EXPECT_EQ(VariantChangeType(&out, &i4, 0, VT_DECIMAL), DISP_E_BADVARTYPE);
    EXPECT_EQ(VariantChangeType(&out, &null, 0, VT_I4), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(VariantChangeType(&out, &i4, 0, VT_UNKNOWN), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(VariantChangeType(&out, &i4, 0, VT_ERROR), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(VariantChangeType(nullptr, &i4, 0, VT_I4), E_INVALIDARG);

    SAFEARRAY* a = SafeArrayCreateVector(VT_I4, 0, 1);
    zeb::Variant array(a);
    SafeArrayDestroy(a);
    EXPECT_EQ(VariantChangeType(&out, &array, 0, VT_BSTR), DISP_E_TYPEMISMATCH);

    ASSERT_EQ(VariantChangeType(&out, &empty, 0, VT_BSTR), S_OK);
    EXPECT_NE(out.bstrVal, nullptr);
    EXPECT_EQ(SysStringLen(out.bstrVal), 0u);
    ASSERT_EQ(VariantChangeType(&out, &empty, 0, VT_R8), S_OK);
    EXPECT_EQ(out.dblVal, 0.0);
}

TEST(VariantChangeType, ObjectsConvertThroughTheirValuePropertyUnlessForbidden) {
    zeb::test::ValueDispatch object;
    object.value.vt = VT_I4;
    object.value.lVal = 42;
    {
        zeb::Variant d(static_cast<IDispatch*>(&object)), out;
        ASSERT_EQ(VariantChangeType(&out, &d, 0, VT_BSTR), S_OK);
        EXPECT_EQ(text(out.bstrVal), u"42");
        ASSERT_EQ(VariantChangeType(&out, &d, 0, VT_I2), S_OK);
        EXPECT_EQ(out.vt, VT_I2);
        EXPECT_EQ(out.iVal, 42);
        EXPECT_EQ(object.reads, 2);

        // VARIANT_NOVALUEPROP: the object is not asked.
        EXPECT_EQ(VariantChangeType(&out, &d, 0x01, VT_BSTR), DISP_E_TYPEMISMATCH);
        EXPECT_EQ(VariantChangeType(&out, &d, 0x01, VT_I4), DISP_E_TYPEMISMATCH);
        EXPECT_EQ(object.reads, 2);
        ASSERT_EQ(VariantChangeType(&out, &d, 0x01, VT_UNKNOWN), S_OK); // still a query

        // The property's value converts with the caller's flags.
        object.value.vt = VT_BOOL;
        object.value.boolVal = VARIANT_TRUE;
        EXPECT_EQ(toTextWith(d, 0), u"-1");
        EXPECT_EQ(toTextWith(d, 0x02), u"True");

        // An object whose value is itself is asked once, not for ever.
        object.value.vt = VT_DISPATCH;
        object.value.pdispVal = &object;
        object.reads = 0;
        EXPECT_EQ(VariantChangeType(&out, &d, 0, VT_BSTR), DISP_E_TYPEMISMATCH);
        EXPECT_EQ(object.reads, 1);
        object.value.vt = VT_EMPTY;
    }
    EXPECT_EQ(object.refs, 1u);
}

TEST(VariantChangeType, InterfacesConvertByQuery) {
    zeb::test::CountedDispatch disp;
    zeb::test::CountedUnknown unk;
    {
        zeb::Variant d(static_cast<IDispatch*>(&disp)), u(static_cast<IUnknown*>(&unk)), out;
        ASSERT_EQ(VariantChangeType(&out, &d, 0, VT_UNKNOWN), S_OK);
        EXPECT_EQ(out.vt, VT_UNKNOWN);
        EXPECT_EQ(disp.refs, 3u);
        EXPECT_EQ(VariantChangeType(&out, &u, 0, VT_DISPATCH), E_NOINTERFACE);
        EXPECT_EQ(VariantChangeType(&out, &d, 0, VT_BSTR), DISP_E_TYPEMISMATCH);
    }
    EXPECT_EQ(disp.refs, 1u);
    EXPECT_EQ(unk.refs, 1u);
}

} // namespace
