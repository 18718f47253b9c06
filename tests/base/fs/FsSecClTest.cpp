// Section streams over memory streams: the byte encoding of every value,
// the window, the sticky state, variants and the stream hand-out.
#include "base/fs/FsSecCl.h"
#include "base/fs/FsStream.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>

namespace {

ComPtr<IStream> newStream() {
    ComPtr<IStream> s;
    EXPECT_EQ(FsStream::create(&s), S_OK);
    return s;
}

std::string contents(IStream* s) {
    STATSTG st{};
    s->Stat(&st, STATFLAG_NONAME);
    std::string bytes(size_t(st.cbSize.QuadPart), '\0');
    LARGE_INTEGER zero{};
    s->Seek(zero, STREAM_SEEK_SET, nullptr);
    ULONG n = 0;
    s->Read(bytes.data(), ULONG(bytes.size()), &n);
    return bytes;
}

ComPtr<IStream> streamWith(const std::string& bytes) {
    ComPtr<IStream> s = newStream();
    s->Write(bytes.data(), ULONG(bytes.size()), nullptr);
    return s;
}

TEST(FsSecClEncoding, HeaderIsThirtyOneBytesAndReadsBack) {
    ComPtr<IStream> s = newStream();
    {
        FsSecCl sec(s);
        sec << INT(5);
        sec.writeText("\r\n");
        sec << "ZEB.BASISES.version.1.0";
        sec.writeText("\r\n");
        EXPECT_EQ(sec.state(), 0u);
    }
    EXPECT_EQ(contents(s), "5\r\n23 ZEB.BASISES.version.1.0\r\n");
    FsSecCl sec(s);
    INT magic = 0;
    String text;
    sec >> magic >> text;
    EXPECT_EQ(sec.state(), 0u);
    EXPECT_EQ(magic, 5);
    EXPECT_EQ(text.view(), "ZEB.BASISES.version.1.0");
}

TEST(FsSecClEncoding, NumbersFloatsAndStringsUseTheirTextForms) {
    ComPtr<IStream> s = newStream();
    {
        FsSecCl sec(s);
        sec << DWORD(4294967295u);
        sec.put(' ');
        sec.put(' ');
        sec << INT(-2147483647 - 1);
        sec.put(' ');
        sec << SHORT(-5);
        sec.put(' ');
        sec << 0.1f;
        sec.put(' ');
        sec << 0.1;
        sec.put(' ');
        sec << std::u16string_view(u"\u00e4x");
        sec.put(' ');
        sec << makeGuid("132B44C0-7FF7-11D3-8544-0050046A30DE");
    }
    EXPECT_EQ(contents(s), std::string("4294967295  -2147483648 -5 0.1000000015 "
                                       "0.100000000000000006 2 ") +
                               std::string("\xe4\0x\0", 4) +
                               " {132B44C0-7FF7-11D3-8544-0050046A30DE} ");
    FsSecCl sec(s);
    DWORD u = 0;
    INT i = 0;
    SHORT h = 0;
    float f = 0;
    double d = 0;
    std::u16string w;
    GUID g{};
    sec >> u >> i >> h >> f >> d >> w >> g;
    EXPECT_EQ(sec.state(), 0u);
    EXPECT_EQ(u, 4294967295u);
    EXPECT_EQ(i, -2147483647 - 1);
    EXPECT_EQ(h, -5);
    EXPECT_EQ(f, 0.1f);
    EXPECT_EQ(d, 0.1);
    EXPECT_EQ(w, u"\u00e4x");
    EXPECT_EQ(g, makeGuid("132B44C0-7FF7-11D3-8544-0050046A30DE"));
}

TEST(FsSecClEncoding, GuidReadsFromNumericForm) {
    ComPtr<IStream> s = streamWith("305419896 4660 22136 1 2 3 4 5 6 7 255 ");
    FsSecCl sec(s);
    GUID g{};
    sec >> g;
    EXPECT_EQ(sec.state(), 0u);
    EXPECT_EQ(g, makeGuid("12345678-1234-5678-0102-0304050607FF"));
}

TEST(FsSecClEncoding, SixtyFourBitIntegersAreRefusedBothWays) {
    ComPtr<IStream> s = newStream();
    FsSecCl sec(s);
    sec << LONGLONG(7);
    EXPECT_EQ(sec.state(), 1u);
    EXPECT_EQ(sec.size(), 0u);
    sec.clear();
    LONGLONG v = 3;
    sec >> v;
    EXPECT_EQ(sec.state(), 1u);
    EXPECT_EQ(v, 3);
}

TEST(FsSecClEncoding, NonFiniteDoubleIsWrittenAndSetsSeven) {
    ComPtr<IStream> s = newStream();
    {
        FsSecCl sec(s);
        sec << double(INFINITY);
        EXPECT_EQ(sec.state(), 7u);
    }
    EXPECT_EQ(contents(s), "inf");
    FsSecCl sec(s);
    double d = 1;
    sec >> d;
    EXPECT_EQ(sec.state(), 7u);
    EXPECT_EQ(d, 1);
}

TEST(FsSecClWindow, NumberAndStringSplitAcrossTheWindowBoundaryReadCorrectly) {
    ComPtr<IStream> s = newStream();
    const std::string filler(FsSecCl::kWindowSize - 3, 'a');
    const std::string big(40000, 'z');
    {
        FsSecCl sec(s);
        sec.write(filler.data(), DWORD(filler.size()));
        sec.put(' ');
        sec << DWORD(123456);
        sec.put(' ');
        sec << big;
        sec.put(' ');
        sec << INT(-77);
    }
    FsSecCl sec(s);
    sec.seek(LONG(filler.size()), 0);
    DWORD n = 0;
    std::string text;
    INT last = 0;
    sec >> n >> text >> last;
    EXPECT_EQ(sec.state(), 0u);
    EXPECT_EQ(n, 123456u);
    EXPECT_EQ(text, big);
    EXPECT_EQ(last, -77);
}

TEST(FsSecClWindow, StringLengthsAndGuidsSplitByTheWindowBoundaryReadWhole) {
    ComPtr<IStream> s = newStream();
    const std::string filler(FsSecCl::kWindowSize - 2, 'a');
    {
        FsSecCl sec(s);
        sec.write(filler.data(), DWORD(filler.size()));
        sec.put(' ');
        sec << " PmExtension"; // "12  PmExtension": the length spans bytes 16383 and 16384
        sec.put(' ');
        sec << DWORD(7);
        const std::string pad(2 * FsSecCl::kWindowSize - 20 - sec.position(), ' ');
        sec.write(pad.data(), DWORD(pad.size()));
        sec << makeGuid("132B44C0-7FF7-11D3-8544-0050046A30DE"); // 38 characters across
    }
    FsSecCl sec(s);
    sec.seek(LONG(filler.size()), 0);
    std::string text;
    DWORD next = 0;
    sec >> text >> next;
    EXPECT_EQ(sec.state(), 0u);
    EXPECT_EQ(text, " PmExtension");
    EXPECT_EQ(next, 7u);
    sec.seek(LONG(2 * FsSecCl::kWindowSize - 20), 0);
    GUID g{};
    sec >> g;
    EXPECT_EQ(sec.state(), 0u);
    EXPECT_EQ(g, makeGuid("132B44C0-7FF7-11D3-8544-0050046A30DE"));
}

// A document text is read straight into a BSTR: whole across windows, with
// a unit split by the boundary, and nothing taken when it is cut off.
TEST(FsSecClWindow, AWideStringReadsIntoABstrAcrossWindowsOrNotAtAll) {
    std::u16string text(20000, u'a');
    text[8186] = u'\u20AC'; // its two bytes straddle the first window boundary
    text[19999] = u'z';
    ComPtr<IStream> s = newStream();
    {
        FsSecCl sec(s);
        sec << "xy"; // "2 xy": the units start at byte 11
        sec.separator();
        sec << std::u16string_view(text);
    }
    EXPECT_EQ(contents(s).substr(16383, 2), "\xAC\x20");
    FsSecCl sec(s);
    std::string head;
    zeb::Bstr read(u"old");
    sec >> head >> read;
    EXPECT_EQ(sec.state(), 0u);
    EXPECT_EQ(read.view(), text);

    ComPtr<IStream> cut = streamWith(std::string("5 a\0b\0", 6));
    FsSecCl short_(cut);
    zeb::Bstr kept(u"kept");
    short_ >> kept;
    EXPECT_EQ(short_.state(), 17u);
    EXPECT_EQ(kept.view(), u"kept");
}

// A position at the very end of a full window (reached by seeking to the end
// of a section of 16384 bytes, or by reading exactly up to a window boundary)
// writes into the next window.
TEST(FsSecClWindow, WritingAtTheEndOfAFullWindowGoesOnInTheNext) {
    struct Case {
        DWORD size; // of a section of 'a's
        DWORD at;   // where the text goes
        bool seek;  // reached by seeking, else by reading up to it
        const char* text;
    };
    const Case cases[] = {
        {16384, 16384, true, "12 "}, // appending to a full window
        {32768, 32768, false, "x"},  // appending after reading everything
        {20000, 16384, false, "xy"}, // overwriting the first bytes of the next window
    };
    for (const Case& c : cases) {
        ComPtr<IStream> s = streamWith(std::string(c.size, 'a'));
        const std::string text(c.text);
        {
            FsSecCl sec(s);
            if (c.seek) {
                EXPECT_EQ(sec.seek(0, 2), c.at);
            } else {
                std::string read(c.at, '\0');
                EXPECT_EQ(sec.read(read.data(), c.at), c.at);
            }
            sec.writeText(c.text);
            EXPECT_EQ(sec.state(), 0u) << c.size;
            EXPECT_EQ(sec.size(), std::max<DWORD>(c.size, c.at + DWORD(text.size()))) << c.size;
        }
        std::string expected(c.size, 'a');
        expected.replace(c.at, text.size(), text);
        const std::string got = contents(s);
        // Only the bytes around the text are shown: the section is 16 KiB or more.
        EXPECT_TRUE(got == expected) << c.size << ": " << got.substr(c.at - 2, 8);
    }
}

TEST(FsSecClWindow, ReadingPastTheEndIsStickyAtTheSize) {
    ComPtr<IStream> s = streamWith("12 ");
    FsSecCl sec(s);
    DWORD a = 0, b = 9, c = 9;
    sec >> a >> b;
    EXPECT_EQ(a, 12u);
    EXPECT_EQ(sec.state(), 1u);
    EXPECT_EQ(sec.errorPosition(), 3u);
    sec.seek(0, 0);
    sec >> c;
    EXPECT_EQ(b, 9u);
    EXPECT_EQ(c, 9u);
    sec.clear();
    sec >> c;
    EXPECT_EQ(c, 12u);
}

TEST(FsSecClWindow, SeekOutsideTheSectionKeepsThePosition) {
    ComPtr<IStream> s = streamWith("0123456789");
    FsSecCl sec(s);
    EXPECT_EQ(sec.seek(4, 0), 4u);
    EXPECT_EQ(sec.seek(20, 1), 4u);
    EXPECT_EQ(sec.seek(-5, 0), 4u);
    EXPECT_EQ(sec.seek(-1, 2), 9u);
    EXPECT_EQ(sec.get(), '9');
}

TEST(FsSecClErrors, BadInputSetsItsCodeAndPosition) {
    struct Case {
        const char* text;
        int kind;
        DWORD state;
        DWORD position;
    };
    const Case cases[] = {
        {"12x ", 0, 5, 2},
        {"abc", 0, 5, 0},
        {"4294967296 ", 0, 5, 10},
        {"-1 ", 1, 0, 0},
        {"2147483648 ", 1, 4, 10},
        {"65536 ", 2, 11, 6},
        {"-32769 ", 3, 10, 7},
        {"256 ", 4, 12, 4},
        {"1e39 ", 5, 6, 4},
        {"1.5q ", 6, 7, 4},
        {"{132B44C0-7FF7-11D3-8544-0050046A30DX} ", 7, 9, 38},
        {"10 abc", 8, 17, 3},
        {"3 a\0", 9, 17, 2},
    };
    for (const Case& c : cases) {
        ComPtr<IStream> s = streamWith(std::string(c.text, std::strlen(c.text) + (c.kind == 9)));
        FsSecCl sec(s);
        DWORD u = 0;
        INT i = 0;
        USHORT us = 0;
        SHORT ss = 0;
        BYTE b = 0;
        float f = 0;
        double d = 0;
        GUID g{};
        std::string str;
        std::u16string w;
        switch (c.kind) {
        case 0:
            sec >> u;
            break;
        case 1:
            sec >> i;
            break;
        case 2:
            sec >> us;
            break;
        case 3:
            sec >> ss;
            break;
        case 4:
            sec >> b;
            break;
        case 5:
            sec >> f;
            break;
        case 6:
            sec >> d;
            break;
        case 7:
            sec >> g;
            break;
        case 8:
            sec >> str;
            break;
        case 9:
            sec >> w;
            break;
        }
        EXPECT_EQ(sec.state(), c.state) << c.text;
        EXPECT_EQ(sec.errorPosition(), c.position) << c.text;
    }
}

// Reads one value of type T (7 beforehand) from `text`: the state and the
// value (every value the readers take is exact as a double).
template <class T> std::pair<DWORD, double> readOne(const char* text) {
    ComPtr<IStream> s = streamWith(text);
    FsSecCl sec(s);
    T v = 7;
    sec >> v;
    return {sec.state(), double(v)};
}

// Every reader with a range takes the last value inside it and refuses the
// first one outside with its own code, leaving the target as it was.
TEST(FsSecClRanges, EachReaderTakesItsLastValueAndRefusesTheNext) {
    struct Case {
        const char* text;
        char kind; // u DWORD, i INT, w USHORT, s SHORT, b BYTE, f float
        DWORD state;
        double value; // 7 (untouched) when refused
    };
    const Case cases[] = {
        {"4294967295 ", 'u', 0, 4294967295.0},
        {"4294967296 ", 'u', 5, 7},
        {"2147483647 ", 'i', 0, 2147483647.0},
        {"2147483648 ", 'i', 4, 7},
        {"-2147483648 ", 'i', 0, -2147483648.0},
        {"-2147483649 ", 'i', 4, 7},
        {"65535 ", 'w', 0, 65535},
        {"65536 ", 'w', 11, 7},
        {"32767 ", 's', 0, 32767},
        {"32768 ", 's', 10, 7},
        {"-32768 ", 's', 0, -32768},
        {"-32769 ", 's', 10, 7},
        {"255 ", 'b', 0, 255},
        {"256 ", 'b', 12, 7},
        // The largest finite float either way; the next double beyond it is refused.
        {"3.4028234663852886e38 ", 'f', 0, 3.4028234663852886e38},
        {"-3.4028234663852886e38 ", 'f', 0, -3.4028234663852886e38},
        {"3.402823466385289e38 ", 'f', 6, 7},
        {"-3.402823466385289e38 ", 'f', 6, 7},
    };
    for (const Case& c : cases) {
        const auto [state, value] = c.kind == 'u'   ? readOne<DWORD>(c.text)
                                    : c.kind == 'i' ? readOne<INT>(c.text)
                                    : c.kind == 'w' ? readOne<USHORT>(c.text)
                                    : c.kind == 's' ? readOne<SHORT>(c.text)
                                    : c.kind == 'b' ? readOne<BYTE>(c.text)
                                                    : readOne<float>(c.text);
        EXPECT_EQ(state, c.state) << c.text;
        EXPECT_EQ(value, c.value) << c.text;
    }
}

TEST(FsSecClErrors, WritingWithoutWriteAccessSetsFourteenAndWritesNothing) {
    ComPtr<IStream> s = streamWith("old");
    FsSecCl sec;
    ASSERT_EQ(sec.attach(s, 0), 0u);
    sec << DWORD(5);
    EXPECT_EQ(sec.state(), 14u);
    EXPECT_EQ(sec.errorPosition(), 0u);
    EXPECT_EQ(sec.attach(s, 1), 3u);
    EXPECT_EQ(contents(s), "old");
}

TEST(FsSecClErrors, UnattachedSectionFailsWithoutStream) {
    FsSecCl sec;
    DWORD v = 0;
    sec >> v;
    EXPECT_EQ(sec.state(), 18u);
    sec.clear();
    EXPECT_EQ(sec.setSize(4), 9u);
    EXPECT_EQ(sec.attach(nullptr, 1), 1u);
}

TEST(FsSecClVariant, EmptyAndScalarsRoundTripAndCurrencyIsRefused) {
    ComPtr<IStream> s = newStream();
    {
        FsSecCl sec(s);
        zeb::Variant empty, i4(INT(-3)), text(u"Motor"), real(2.5), b(true);
        sec << empty << i4 << text << real << b;
        EXPECT_EQ(sec.state(), 0u);
    }
    EXPECT_EQ(contents(s).substr(0, 7), "0 3 -3 ");
    FsSecCl sec(s);
    zeb::Variant v[5];
    for (auto& x : v)
        sec >> x;
    EXPECT_EQ(sec.state(), 0u);
    EXPECT_EQ(v[0].vt, VT_EMPTY);
    EXPECT_EQ(v[1].vt, VT_I4);
    EXPECT_EQ(v[1].lVal, -3);
    EXPECT_EQ(std::u16string_view(v[2].bstrVal), u"Motor");
    EXPECT_EQ(v[3].dblVal, 2.5);
    EXPECT_EQ(v[4].vt, VT_BOOL);
    EXPECT_EQ(v[4].boolVal, VARIANT_TRUE);

    ComPtr<IStream> s2 = newStream();
    FsSecCl sec2(s2);
    VARIANT cy;
    VariantInit(&cy);
    cy.vt = VT_CY;
    cy.cyVal.int64 = 5;
    sec2 << cy;
    EXPECT_EQ(sec2.state(), 1u);
}

TEST(FsSecClVariant, ArraysKeepBoundsShapeAndElements) {
    ComPtr<IStream> s = newStream();
    {
        FsSecCl sec(s);
        SAFEARRAY* vec = SafeArrayCreateVector(VT_I4, 0, 3);
        for (LONG k = 0; k < 3; ++k) {
            LONG value = (k + 1) * 10;
            SafeArrayPutElement(vec, &k, &value);
        }
        zeb::Variant a(vec);
        SafeArrayDestroy(vec);
        sec << a;
        SAFEARRAYBOUND b[2] = {{2, 1}, {3, -1}}; // a(1..2, -1..1)
        SAFEARRAY* m = SafeArrayCreate(VT_BSTR, 2, b);
        LONG at[2] = {2, 0};
        zeb::Bstr x(u"x");
        SafeArrayPutElement(m, at, x.m_str);
        zeb::Variant ma(m);
        SafeArrayDestroy(m);
        sec << ma;
        EXPECT_EQ(sec.state(), 0u);
    }
    EXPECT_EQ(contents(s).substr(0, 30), "8195 1 3 0 3 4 10 20 30 8200 2");
    FsSecCl sec(s);
    zeb::Variant a, m;
    sec >> a >> m;
    ASSERT_EQ(sec.state(), 0u);
    ASSERT_EQ(a.vt, VT_ARRAY | VT_I4);
    LONG k = 2, value = 0;
    SafeArrayGetElement(a.parray, &k, &value);
    EXPECT_EQ(value, 30);
    ASSERT_EQ(m.vt, VT_ARRAY | VT_BSTR);
    LONG lower = 0;
    SafeArrayGetLBound(m.parray, 2, &lower);
    EXPECT_EQ(lower, -1);
    LONG at[2] = {2, 0};
    BSTR got = nullptr;
    SafeArrayGetElement(m.parray, at, &got);
    EXPECT_EQ(std::u16string_view(got), u"x");
    SysFreeString(got);
}

// Stored files carry the element sizes of the 32-bit system: 4 for a BSTR,
// 16 for a VARIANT. Any nonzero size reads, including the 8 and 24 that
// earlier builds of this 64-bit port wrote.
TEST(FsSecClVariant, ArraysStoreThirtyTwoBitElementSizesAndReadAnySize) {
    ComPtr<IStream> s = newStream();
    {
        FsSecCl sec(s);
        SAFEARRAY* texts = SafeArrayCreateVector(VT_BSTR, 0, 2);
        const char16_t* words[] = {u"a", u"bc"};
        for (LONG k = 0; k < 2; ++k) {
            zeb::Bstr word(words[k]);
            SafeArrayPutElement(texts, &k, word.m_str);
        }
        zeb::Variant a(texts);
        SafeArrayDestroy(texts);
        SAFEARRAY* values = SafeArrayCreateVector(VT_VARIANT, 1, 1);
        LONG first = 1;
        zeb::Variant seven(INT(7));
        SafeArrayPutElement(values, &first, &seven);
        zeb::Variant b(values);
        SafeArrayDestroy(values);
        sec << a << b;
        EXPECT_EQ(sec.state(), 0u);
    }
    EXPECT_EQ(contents(s), std::string("8200 1 8 0 2 4 1 a\0 2 b\0c\0 "
                                       "8204 1 12 1 1 16 3 7  ",
                                       49));

    for (const char* sizes : {"4 16", "8 24", "1 1"}) {
        const std::string bstrSize(sizes, std::strchr(sizes, ' '));
        const std::string variantSize(std::strchr(sizes, ' ') + 1);
        ComPtr<IStream> in =
            streamWith("8200 1 8 0 2 " + bstrSize + " 1 " + std::string("a\0", 2) + " 2 " +
                       std::string("b\0c\0", 4) + " 8204 1 12 1 1 " + variantSize + " 3 7  ");
        FsSecCl sec(in);
        zeb::Variant a, b;
        sec >> a >> b;
        ASSERT_EQ(sec.state(), 0u) << sizes;
        ASSERT_EQ(a.vt, VT_ARRAY | VT_BSTR) << sizes;
        LONG k = 1;
        BSTR got = nullptr;
        SafeArrayGetElement(a.parray, &k, &got);
        EXPECT_EQ(std::u16string_view(got), u"bc") << sizes;
        SysFreeString(got);
        ASSERT_EQ(b.vt, VT_ARRAY | VT_VARIANT) << sizes;
        zeb::Variant element;
        k = 1;
        SafeArrayGetElement(b.parray, &k, &element);
        EXPECT_EQ(element.vt, VT_I4) << sizes;
        EXPECT_EQ(element.lVal, 7) << sizes;
    }
}

TEST(FsSecClVariant, ImpossibleArraySizesAreRefusedWithoutAllocating) {
    ComPtr<IStream> s = streamWith("8195 1 3 0 4000000000 4 1 2 ");
    FsSecCl sec(s);
    zeb::Variant v;
    sec >> v;
    EXPECT_EQ(sec.state(), 17u);
    EXPECT_EQ(v.vt, VT_EMPTY);

    std::string nested;
    for (int i = 0; i < 100; ++i)
        nested += "8204 1 12 0 1 24 ";
    ComPtr<IStream> s2 = streamWith(nested);
    FsSecCl sec2(s2);
    zeb::Variant deep;
    sec2 >> deep;
    EXPECT_EQ(sec2.state(), 18u);
}

TEST(FsSecClVariant, UnknownElementTypeReadsAsEmptyAndStaysInStep) {
    ComPtr<IStream> s = streamWith("8264 1 72 0 1 16 {132B44C0-7FF7-11D3-8544-0050046A30DE}  9 ");
    FsSecCl sec(s);
    zeb::Variant v;
    DWORD next = 0;
    sec >> v >> next;
    EXPECT_EQ(sec.state(), 0u);
    EXPECT_EQ(v.vt, VT_EMPTY);
    EXPECT_EQ(next, 9u);
}

TEST(FsSecClHandOut, OperationsFailWhileHandedOutAndChangesAreSeenAfter) {
    ComPtr<IStream> s = streamWith("1 ");
    FsSecCl sec(s);
    IStream* out = sec.getIStreamPtr();
    ASSERT_NE(out, nullptr);
    DWORD v = 0;
    sec >> v;
    EXPECT_EQ(sec.state(), 13u);
    EXPECT_EQ(sec.getIStreamPtr(), nullptr);
    out->SetSize(ULARGE_INTEGER{});
    out->Seek(LARGE_INTEGER{}, STREAM_SEEK_SET, nullptr);
    out->Write("42 ", 3, nullptr);
    out->Release();
    EXPECT_EQ(sec.unlockStream(), 0u);
    EXPECT_EQ(sec.unlockStream(), 1u);
    sec >> v;
    EXPECT_EQ(sec.state(), 0u);
    EXPECT_EQ(v, 42u);
}

} // namespace
