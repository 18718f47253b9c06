#include "h/ZEB_VersionStamp.h"

#include <gtest/gtest.h>

TEST(VersionStamp, StartsUnsetAndRenewTakesAFreshIdentityAtZero) {
    CVersionStamp a, b;
    EXPECT_FALSE(a.isSet());
    a.renew();
    b.renew();
    EXPECT_TRUE(a.isSet());
    EXPECT_EQ(a.nMajor, 0);
    EXPECT_EQ(a.nMinor, 0);
    EXPECT_FALSE(a.guidVersion == b.guidVersion);
}

TEST(VersionStamp, SteppingCarriesIntoMajorAndAWrappedMajorRenews) {
    const GUID id = makeGuid("01234567-89AB-CDEF-0123-456789ABCDEF");
    CVersionStamp s(RTTypeID{id, 2, 0xFFFF});
    s.stepMinor(); // minor wraps: major steps, minor 0
    EXPECT_EQ(s.value(), (RTTypeID{id, 3, 0}));
    s.stepMinor();
    s.stepMajor(); // minor back to 0
    EXPECT_EQ(s.value(), (RTTypeID{id, 4, 0}));
    CVersionStamp top(RTTypeID{id, 0xFFFF, 7});
    top.stepMajor(); // major wraps: a new identity at 0.0
    EXPECT_FALSE(top.guidVersion == id);
    EXPECT_EQ(top.nMajor, 0);
    EXPECT_EQ(top.nMinor, 0);
}
