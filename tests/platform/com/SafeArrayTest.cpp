#include "platform/com/SafeArray.h"

#include "VariantTestObjects.h"

#include <gtest/gtest.h>

namespace {

using zeb::test::CountedDispatch;

std::u16string_view text(BSTR s) {
    return {s ? s : u"", SysStringLen(s)};
}

TEST(SafeArrayIndexing, LeftMostIndexComesFirstAndVariesFastest) {
    SAFEARRAYBOUND bounds[2] = {{3, 0}, {2, 1}}; // a(0..2, 1..2)
    SAFEARRAY* a = SafeArrayCreate(VT_I4, 2, bounds);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(SafeArrayGetDim(a), 2u);
    EXPECT_EQ(SafeArrayGetElemsize(a), 4u);
    // The descriptor keeps the right-most dimension first.
    EXPECT_EQ(a->rgsabound[0].cElements, 2u);
    EXPECT_EQ(a->rgsabound[0].lLbound, 1);
    EXPECT_EQ(a->rgsabound[1].cElements, 3u);

    LONG lo = -1, hi = -1;
    ASSERT_EQ(SafeArrayGetLBound(a, 1, &lo), S_OK);
    ASSERT_EQ(SafeArrayGetUBound(a, 1, &hi), S_OK);
    EXPECT_EQ(lo, 0);
    EXPECT_EQ(hi, 2);
    ASSERT_EQ(SafeArrayGetLBound(a, 2, &lo), S_OK);
    ASSERT_EQ(SafeArrayGetUBound(a, 2, &hi), S_OK);
    EXPECT_EQ(lo, 1);
    EXPECT_EQ(hi, 2);
    EXPECT_EQ(SafeArrayGetLBound(a, 0, &lo), DISP_E_BADINDEX);
    EXPECT_EQ(SafeArrayGetUBound(a, 3, &hi), DISP_E_BADINDEX);

    for (LONG i = 0; i <= 2; ++i)
        for (LONG j = 1; j <= 2; ++j) {
            LONG at[2] = {i, j};
            LONG value = 10 * i + j;
            ASSERT_EQ(SafeArrayPutElement(a, at, &value), S_OK);
        }
    LONG* data = nullptr;
    ASSERT_EQ(SafeArrayAccessData(a, reinterpret_cast<void**>(&data)), S_OK);
    const LONG expected[] = {1, 11, 21, 2, 12, 22};
    for (int k = 0; k < 6; ++k)
        EXPECT_EQ(data[k], expected[k]) << k;
    ASSERT_EQ(SafeArrayUnaccessData(a), S_OK);

    LONG at[2] = {2, 1}, value = 0;
    ASSERT_EQ(SafeArrayGetElement(a, at, &value), S_OK);
    EXPECT_EQ(value, 21);
    LONG outside[2] = {3, 1}, below[2] = {0, 0};
    EXPECT_EQ(SafeArrayGetElement(a, outside, &value), DISP_E_BADINDEX);
    EXPECT_EQ(SafeArrayPutElement(a, below, &value), DISP_E_BADINDEX);
    EXPECT_EQ(SafeArrayGetElement(a, nullptr, &value), E_INVALIDARG);
    EXPECT_EQ(SafeArrayDestroy(a), S_OK);
}

TEST(SafeArrayIndexing, NegativeLowerBoundsAndEmptyDimensions) {
    SAFEARRAY* v = SafeArrayCreateVector(VT_I2, -5, 3);
    LONG at = -3, hi = 0;
    SHORT value = 7;
    ASSERT_EQ(SafeArrayPutElement(v, &at, &value), S_OK);
    ASSERT_EQ(SafeArrayGetUBound(v, 1, &hi), S_OK);
    EXPECT_EQ(hi, -3);
    SafeArrayDestroy(v);

    SAFEARRAY* empty = SafeArrayCreateVector(VT_BSTR, 0, 0);
    ASSERT_NE(empty, nullptr);
    ASSERT_EQ(SafeArrayGetUBound(empty, 1, &hi), S_OK);
    EXPECT_EQ(hi, -1);
    at = 0;
    BSTR s = nullptr;
    EXPECT_EQ(SafeArrayGetElement(empty, &at, &s), DISP_E_BADINDEX);
    SafeArrayDestroy(empty);
}

TEST(SafeArrayElements, StringsGoInAndOutAsCopies) {
    SAFEARRAY* a = SafeArrayCreateVector(VT_BSTR, 0, 2);
    VARTYPE vt = VT_EMPTY;
    ASSERT_EQ(SafeArrayGetVartype(a, &vt), S_OK);
    EXPECT_EQ(vt, VT_BSTR);

    zeb::Bstr in(u"first");
    LONG at = 0;
    ASSERT_EQ(SafeArrayPutElement(a, &at, in.m_str), S_OK);
    zeb::Bstr replaced(u"second");
    ASSERT_EQ(SafeArrayPutElement(a, &at, replaced.m_str), S_OK); // frees "first"

    zeb::Bstr out;
    ASSERT_EQ(SafeArrayGetElement(a, &at, &out), S_OK);
    EXPECT_NE(out.m_str, replaced.m_str);
    EXPECT_EQ(out.view(), u"second");

    SAFEARRAY* copy = nullptr;
    ASSERT_EQ(SafeArrayCopy(a, &copy), S_OK);
    BSTR* original = nullptr;
    BSTR* copied = nullptr;
    ASSERT_EQ(SafeArrayAccessData(a, reinterpret_cast<void**>(&original)), S_OK);
    ASSERT_EQ(SafeArrayAccessData(copy, reinterpret_cast<void**>(&copied)), S_OK);
    EXPECT_NE(copied[0], original[0]);
    EXPECT_EQ(text(copied[0]), u"second");
    EXPECT_EQ(copied[1], nullptr);
    SafeArrayUnaccessData(copy);
    SafeArrayUnaccessData(a);
    EXPECT_EQ(SafeArrayDestroy(copy), S_OK);
    EXPECT_EQ(SafeArrayDestroy(a), S_OK);
}

TEST(SafeArrayElements, VariantsAndInterfacesAreOwned) {
    CountedDispatch obj;
    SAFEARRAY* objects = SafeArrayCreateVector(VT_DISPATCH, 0, 2);
    SAFEARRAY* values = SafeArrayCreateVector(VT_VARIANT, 0, 2);
    VARTYPE vt = VT_EMPTY;
    ASSERT_EQ(SafeArrayGetVartype(objects, &vt), S_OK);
    EXPECT_EQ(vt, VT_DISPATCH);

    LONG at = 1;
    ASSERT_EQ(SafeArrayPutElement(objects, &at, static_cast<IDispatch*>(&obj)), S_OK);
    ASSERT_EQ(SafeArrayPutElement(objects, &at, static_cast<IDispatch*>(&obj)), S_OK);
    EXPECT_EQ(obj.refs, 2u);
    IDispatch* got = nullptr;
    ASSERT_EQ(SafeArrayGetElement(objects, &at, &got), S_OK);
    EXPECT_EQ(got, &obj);
    EXPECT_EQ(obj.refs, 3u);
    got->Release();

    zeb::Variant s(u"nested"), i(static_cast<IDispatch*>(&obj));
    LONG first = 0;
    ASSERT_EQ(SafeArrayPutElement(values, &first, &s), S_OK);
    ASSERT_EQ(SafeArrayPutElement(values, &at, &i), S_OK);
    EXPECT_EQ(obj.refs, 4u);
    VARIANT out;
    out.vt = VT_BSTR; // garbage the call must not free
    out.bstrVal = reinterpret_cast<BSTR>(0x1);
    ASSERT_EQ(SafeArrayGetElement(values, &first, &out), S_OK);
    EXPECT_EQ(text(out.bstrVal), u"nested");
    VariantClear(&out);

    SAFEARRAY* copy = nullptr;
    ASSERT_EQ(SafeArrayCopy(values, &copy), S_OK);
    EXPECT_EQ(obj.refs, 5u);
    EXPECT_EQ(SafeArrayDestroy(copy), S_OK);
    EXPECT_EQ(SafeArrayDestroy(values), S_OK);
    EXPECT_EQ(SafeArrayDestroy(objects), S_OK);
    i.Clear();
    EXPECT_EQ(obj.refs, 1u);
}

TEST(SafeArrayLocking, ALockedArrayIsNeitherDestroyedNorResized) {
    SAFEARRAY* a = SafeArrayCreateVector(VT_BSTR, 0, 1);
    void* data = nullptr;
    ASSERT_EQ(SafeArrayAccessData(a, &data), S_OK);
    ASSERT_EQ(SafeArrayLock(a), S_OK);
    EXPECT_EQ(a->cLocks, 2u);
    EXPECT_EQ(SafeArrayDestroy(a), DISP_E_ARRAYISLOCKED);
    SAFEARRAYBOUND bigger{4, 0};
    EXPECT_EQ(SafeArrayRedim(a, &bigger), DISP_E_ARRAYISLOCKED);
    ASSERT_EQ(SafeArrayUnlock(a), S_OK);
    EXPECT_EQ(SafeArrayDestroy(a), DISP_E_ARRAYISLOCKED);
    ASSERT_EQ(SafeArrayUnaccessData(a), S_OK);
    EXPECT_EQ(SafeArrayUnlock(a), E_UNEXPECTED);
    EXPECT_EQ(SafeArrayDestroy(a), S_OK);
    EXPECT_EQ(SafeArrayDestroy(nullptr), S_OK);
}

TEST(SafeArraySizes, HugeBoundsFailWithoutAllocating) {
    EXPECT_EQ(SafeArrayCreateVector(VT_VARIANT, 0, 0xFFFFFFFFu), nullptr);
    SAFEARRAYBOUND square[2] = {{0x10000, 0}, {0x10000, 0}};
    EXPECT_EQ(SafeArrayCreate(VT_R8, 2, square), nullptr);
    SAFEARRAYBOUND overflowing[4] = {
        {0xFFFFFFFFu, 0}, {0xFFFFFFFFu, 0}, {0xFFFFFFFFu, 0}, {0xFFFFFFFFu, 0}};
    EXPECT_EQ(SafeArrayCreate(VT_UI1, 4, overflowing), nullptr);
    // The upper bound would not fit in a LONG.
    EXPECT_EQ(SafeArrayCreateVector(VT_UI1, 0x7FFFFFFF, 2), nullptr);
    EXPECT_EQ(SafeArrayCreate(VT_I4, 0, square), nullptr);
    EXPECT_EQ(SafeArrayCreate(VT_I4, 1, nullptr), nullptr);
    EXPECT_EQ(SafeArrayCreateVector(VT_RECORD, 0, 1), nullptr);

    // A zero-length dimension makes the whole array empty, however large the rest.
    SAFEARRAYBOUND emptyRows[2] = {{0x7FFFFFFF, 0}, {0, 0}};
    SAFEARRAY* empty = SafeArrayCreate(VT_I4, 2, emptyRows);
    ASSERT_NE(empty, nullptr);
    SAFEARRAYBOUND grow{0x10000, 0};
    EXPECT_EQ(SafeArrayRedim(empty, &grow), E_INVALIDARG);
    SafeArrayDestroy(empty);
}

TEST(SafeArrayRedim, ChangesTheRightMostDimensionKeepingThePrefix) {
    SAFEARRAYBOUND bounds[2] = {{2, 0}, {3, 0}}; // a(0..1, 0..2)
    SAFEARRAY* a = SafeArrayCreate(VT_I4, 2, bounds);
    LONG* data = nullptr;
    ASSERT_EQ(SafeArrayAccessData(a, reinterpret_cast<void**>(&data)), S_OK);
    for (LONG k = 0; k < 6; ++k)
        data[k] = k + 1;
    SafeArrayUnaccessData(a);

    SAFEARRAYBOUND shorter{1, 5};
    ASSERT_EQ(SafeArrayRedim(a, &shorter), S_OK);
    LONG lo = 0, at[2] = {1, 5}, value = 0;
    ASSERT_EQ(SafeArrayGetLBound(a, 2, &lo), S_OK);
    EXPECT_EQ(lo, 5);
    ASSERT_EQ(SafeArrayGetElement(a, at, &value), S_OK);
    EXPECT_EQ(value, 2);

    SAFEARRAYBOUND longer{2, 5};
    ASSERT_EQ(SafeArrayRedim(a, &longer), S_OK);
    at[1] = 6;
    ASSERT_EQ(SafeArrayGetElement(a, at, &value), S_OK);
    EXPECT_EQ(value, 0);
    SafeArrayDestroy(a);

    // Shrinking frees the strings that fall off (ASan reports a leak otherwise).
    SAFEARRAY* strings = SafeArrayCreateVector(VT_BSTR, 0, 3);
    for (LONG i = 0; i < 3; ++i) {
        zeb::Bstr s(u"x");
        SafeArrayPutElement(strings, &i, s.m_str);
    }
    SAFEARRAYBOUND one{1, 0};
    ASSERT_EQ(SafeArrayRedim(strings, &one), S_OK);
    SafeArrayDestroy(strings);
}

TEST(SafeArrayElements, GuidElementsAreSixteenBytes) {
    SAFEARRAY* ids = SafeArrayCreateVector(VT_CLSID, 0, 2);
    ASSERT_NE(ids, nullptr);
    EXPECT_EQ(SafeArrayGetElemsize(ids), 16u);
    constexpr GUID id = makeGuid("F7A48574-8EC8-4221-875F-18CD2F64F516");
    GUID in = id, out{};
    LONG at = 1;
    ASSERT_EQ(SafeArrayPutElement(ids, &at, &in), S_OK);
    ASSERT_EQ(SafeArrayGetElement(ids, &at, &out), S_OK);
    EXPECT_EQ(out, id);
    VARTYPE vt = VT_EMPTY;
    ASSERT_EQ(SafeArrayGetVartype(ids, &vt), S_OK);
    EXPECT_EQ(vt, VT_CLSID);
    SafeArrayDestroy(ids);
}

} // namespace
