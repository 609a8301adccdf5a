// The GDAL module is loaded when it is first needed, not before, and what was asked of GDAL
// before then (its cache's bound) holds once it is. One test: it needs a process in which
// nothing has loaded the module yet.
#include <gdal.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdint>

#include "bands/gdalapi.h"
#include "bands/gdalsupport.h"

using namespace tessera;

TEST(GdalModule, IsLoadedOnFirstUseAndTakesTheCacheBoundSetBefore) {
    ::unsetenv("GDAL_CACHEMAX");
    ::unsetenv("TESSERA_GDAL_MODULE");
    ASSERT_FALSE(GdalLoaded());
    const int64_t before = GDALGetCacheMax64();
    const int64_t bound = (int64_t{37} << 20) + 4096;
    ASSERT_NE(before, bound);
    {
        const QuietGdalErrors quiet;  // nothing to quieten yet
        BoundRasterCache(bound);
    }
    EXPECT_FALSE(GdalLoaded());
    EXPECT_EQ(before, GDALGetCacheMax64());

    const GdalApi* gdal = Gdal();
    ASSERT_NE(nullptr, gdal) << GdalUnavailable();
    EXPECT_TRUE(GdalLoaded());
    EXPECT_EQ("", GdalUnavailable());
    EXPECT_EQ(kGdalApiVersion, gdal->version);
    EXPECT_EQ(bound, GDALGetCacheMax64());
    EXPECT_EQ(bound, gdal->cacheMax());

    // Once loaded, a bound is set at once, and never below its floor.
    BoundRasterCache(1 << 20, int64_t{20} << 20);
    EXPECT_EQ(int64_t{20} << 20, GDALGetCacheMax64());
}
