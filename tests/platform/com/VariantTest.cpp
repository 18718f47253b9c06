#include "platform/com/Variant.h"

#include "VariantTestObjects.h"

#include <gtest/gtest.h>

#include <cstddef>

namespace {

using zeb::test::CountedDispatch;

static_assert(offsetof(VARIANT, lVal) == 8 && offsetof(VARIANT, bstrVal) == 8);

std::u16string_view text(BSTR s) {
    return {s ? s : u"", SysStringLen(s)};
}

SAFEARRAY* bstrVector(std::initializer_list<const char16_t*> items) {
    SAFEARRAY* a = SafeArrayCreateVector(VT_BSTR, 0, static_cast<ULONG>(items.size()));
    LONG i = 0;
    for (const char16_t* s : items) {
        zeb::Bstr b(s);
        EXPECT_EQ(SafeArrayPutElement(a, &i, b.m_str), S_OK);
        ++i;
    }
    return a;
}

TEST(VariantClear, FreesWhatTheVariantOwns) {
    CountedDispatch obj;
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_DISPATCH;
    v.pdispVal = &obj;
    obj.AddRef();
    EXPECT_EQ(VariantClear(&v), S_OK);
    EXPECT_EQ(v.vt, VT_EMPTY);
    EXPECT_EQ(obj.refs, 1u);

    v.vt = VT_BSTR; // leaks under ASan if not freed
    v.bstrVal = SysAllocString(u"owned");
    EXPECT_EQ(VariantClear(&v), S_OK);
    v.vt = VT_ARRAY | VT_BSTR;
    v.parray = bstrVector({u"a", u"b"});
    EXPECT_EQ(VariantClear(&v), S_OK);

    // A reference owns nothing.
    LONG n = 5;
    v.vt = VT_BYREF | VT_I4;
    v.plVal = &n;
    EXPECT_EQ(VariantClear(&v), S_OK);
    EXPECT_EQ(n, 5);
}

TEST(VariantClear, RefusesBadTypesAndKeepsALockedArray) {
    VARIANT v;
    v.vt = 15;
    EXPECT_EQ(VariantClear(&v), DISP_E_BADVARTYPE);
    v.vt = VT_BYREF | VT_EMPTY;
    EXPECT_EQ(VariantClear(&v), DISP_E_BADVARTYPE);
    EXPECT_EQ(VariantClear(nullptr), E_INVALIDARG);

    v.vt = VT_ARRAY | VT_I4;
    v.parray = SafeArrayCreateVector(VT_I4, 0, 3);
    ASSERT_EQ(SafeArrayLock(v.parray), S_OK);
    EXPECT_EQ(VariantClear(&v), DISP_E_ARRAYISLOCKED);
    EXPECT_EQ(v.vt, VT_ARRAY | VT_I4); // still owned, so it can be freed later
    SafeArrayUnlock(v.parray);
    EXPECT_EQ(VariantClear(&v), S_OK);
}

TEST(VariantCopy, CopiesStringsArraysAndInterfacesDeeply) {
    CountedDispatch obj;
    zeb::Variant s(u"text"), a, i(static_cast<IDispatch*>(&obj));
    a.vt = VT_ARRAY | VT_BSTR;
    a.parray = bstrVector({u"x", u"y"});

    zeb::Variant cs, ca, ci;
    ASSERT_EQ(VariantCopy(&cs, &s), S_OK);
    ASSERT_EQ(VariantCopy(&ca, &a), S_OK);
    ASSERT_EQ(VariantCopy(&ci, &i), S_OK);
    EXPECT_NE(cs.bstrVal, s.bstrVal);
    EXPECT_EQ(text(cs.bstrVal), u"text");
    EXPECT_NE(ca.parray, a.parray);
    EXPECT_EQ(obj.refs, 3u);

    LONG at = 1;
    BSTR* data = nullptr;
    ASSERT_EQ(SafeArrayAccessData(ca.parray, reinterpret_cast<void**>(&data)), S_OK);
    EXPECT_NE(data[at], nullptr);
    EXPECT_EQ(text(data[at]), u"y");
    SafeArrayUnaccessData(ca.parray);

    EXPECT_EQ(VariantCopy(&cs, &cs), S_OK); // same variant: nothing happens
    EXPECT_EQ(text(cs.bstrVal), u"text");
    ci.Clear();
    i.Clear();
    EXPECT_EQ(obj.refs, 1u);
}

TEST(VariantCopy, SourceInsideTheDestinationSurvives) {
    // The source is an element of the destination's own array: clearing the
    // destination first would free the source.
    zeb::Variant holder;
    holder.vt = VT_ARRAY | VT_VARIANT;
    holder.parray = SafeArrayCreateVector(VT_VARIANT, 0, 1);
    LONG at = 0;
    zeb::Variant inner(u"kept");
    ASSERT_EQ(SafeArrayPutElement(holder.parray, &at, &inner), S_OK);
    VARIANT* element = nullptr;
    ASSERT_EQ(SafeArrayPtrOfIndex(holder.parray, &at, reinterpret_cast<void**>(&element)), S_OK);

    ASSERT_EQ(VariantCopy(&holder, element), S_OK);
    EXPECT_EQ(holder.vt, VT_BSTR);
    EXPECT_EQ(text(holder.bstrVal), u"kept");
}

TEST(VariantCopyInd, CopiesTheValueBehindAReference) {
    BSTR s = SysAllocString(u"behind");
    VARIANT ref;
    ref.vt = VT_BYREF | VT_BSTR;
    ref.pbstrVal = &s;

    zeb::Variant plain;
    ASSERT_EQ(VariantCopy(&plain, &ref), S_OK); // reference copied as is
    EXPECT_EQ(plain.vt, VT_BYREF | VT_BSTR);
    EXPECT_EQ(plain.pbstrVal, &s);

    zeb::Variant value;
    ASSERT_EQ(VariantCopyInd(&value, &ref), S_OK);
    EXPECT_EQ(value.vt, VT_BSTR);
    EXPECT_NE(value.bstrVal, s);
    EXPECT_EQ(text(value.bstrVal), u"behind");

    // In place, and through a VARIANT reference.
    zeb::Variant target(2.5);
    VARIANT viaVariant;
    viaVariant.vt = VT_BYREF | VT_VARIANT;
    viaVariant.pvarVal = &target;
    ASSERT_EQ(VariantCopyInd(&viaVariant, &viaVariant), S_OK);
    EXPECT_EQ(viaVariant.vt, VT_R8);
    EXPECT_EQ(viaVariant.dblVal, 2.5);

    // A reference to a reference is refused, and so is a null reference.
    VARIANT refToRef;
    refToRef.vt = VT_BYREF | VT_VARIANT;
    refToRef.pvarVal = &plain;
    EXPECT_EQ(VariantCopyInd(&value, &refToRef), E_INVALIDARG);
    ref.pbstrVal = nullptr;
    EXPECT_EQ(VariantCopyInd(&value, &ref), E_INVALIDARG);
    EXPECT_EQ(text(value.bstrVal), u"behind");
    SysFreeString(s);
}

TEST(VariantOwner, MovesAttachesAndDetaches) {
    zeb::Variant a(u"moved");
    zeb::Variant b(std::move(a));
    EXPECT_EQ(a.vt, VT_EMPTY);
    EXPECT_EQ(text(b.bstrVal), u"moved");

    zeb::Variant c(1);
    c = std::move(b);
    EXPECT_EQ(text(c.bstrVal), u"moved");

    VARIANT raw;
    VariantInit(&raw);
    ASSERT_EQ(c.Detach(&raw), S_OK);
    EXPECT_EQ(c.vt, VT_EMPTY);
    ASSERT_EQ(c.Attach(&raw), S_OK);
    EXPECT_EQ(raw.vt, VT_EMPTY);
    EXPECT_EQ(text(c.bstrVal), u"moved");

    zeb::Variant d = c;
    EXPECT_NE(d.bstrVal, c.bstrVal);
    EXPECT_EQ(text(zeb::Variant("Größe").bstrVal), u"Größe");

    SAFEARRAY* reals = SafeArrayCreateVector(VT_R8, 1, 4);
    zeb::Variant fromArray(reals); // a copy, typed by the array
    EXPECT_EQ(fromArray.vt, VT_ARRAY | VT_R8);
    EXPECT_NE(fromArray.parray, reals);
    SafeArrayDestroy(reals);
    ASSERT_EQ(d.ChangeType(VT_BOOL), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(d.vt, VT_BSTR);
}

} // namespace
