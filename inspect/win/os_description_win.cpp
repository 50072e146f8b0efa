#include "inspect/win/os_description_win.h"

#include "inspect/win/os_family_win.h"

OsText DescribeOs() {
    OsVersionQuery query;
    QueryOsVersion(&query);
    int32_t product = 0;
    int32_t suite = 0;
    const int32_t family = ClassifyOsFamily(query, &product, &suite);
    return FormatOsDescription(family, product, suite, EffectiveOsNumbers(query));
}

OsText DescribeOsVersion() {
    OsVersionQuery query;
    QueryOsVersion(&query);
    return FormatOsVersion(query);
}
