#pragma once

#include <QByteArray>
#include <QString>

#include <cstdio>
#include <cstdlib>

// Stops the fuzzer with a message when a property does not hold; libFuzzer then keeps the input.
#define FUZZ_CHECK(condition, detail)                                                            \
    do {                                                                                         \
        if (!(condition)) {                                                                      \
            std::fprintf(stderr, "check failed: %s\n  %s\n  at %s:%d\n", #condition,             \
                         QString(detail).toUtf8().constData(), __FILE__, __LINE__);              \
            std::abort();                                                                        \
        }                                                                                        \
    } while (false)
