#include "fuzzinput.h"

#include <cstdio>
#include <cstdlib>

void fuzzFailure(const char *property, const QString &detail)
{
    std::fprintf(stderr, "property failed: %s\n  %s\n", property, qPrintable(detail));
    std::abort();
}
